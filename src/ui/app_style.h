#pragma once

#include <QColor>
#include <QFont>

class QAbstractButton;
class QLabel;
class QAction;
class QPushButton;
class QScrollArea;
class QWidget;

// The few text styles and colours the screens share, derived from the desktop's own font and
// palette so they follow the user's theme.
namespace AppStyle {

// Body text is the application font; the others are sized relative to it.
QFont body();
QFont callout();  // a step smaller than body
QFont caption();  // smaller still
QFont headline(); // body size, semibold
// `points` are logical pixels: the size on a 1x screen.
QFont system(int points, QFont::Weight weight = QFont::Normal);

// Foreground tones for text below the primary level, over the widget's own background.
QColor secondary(const QWidget *widget);
QColor tertiary(const QWidget *widget);
QColor accent(const QWidget *widget);
// The red of actions that destroy something (deleting, logging out).
QColor destructive();

// The colour as a style-sheet value, alpha included.
QString css(const QColor &color);

// The large accent-filled button of a screen's main action, its label semibold.
void makeProminent(QPushButton *button);

// A destructive action's button: its label in the destructive red, and never the default button,
// so Return cannot set it off.
void makeDestructive(QAbstractButton *button);
// The filled variant, for the confirming button of a destructive action: white label on red.
void makeDestructiveProminent(QPushButton *button);

// Marks a menu action as destructive; an AppMenu draws its text in the destructive red.
void markDestructive(QAction *action);
bool isDestructive(const QAction *action);

// The inline error line of a sheet or panel: wrapped, caption-sized, in red.
QLabel *errorLabel(QWidget *parent);

// A frameless scroll area whose content takes its width and scrolls only up and down.
void makeVerticalScroll(QScrollArea *scroll);

} // namespace AppStyle
