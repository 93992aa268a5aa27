#pragma once

#include <QColor>
#include <QFont>

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
// Sizes in the design are points of a 1x screen: logical pixels here.
QFont system(int points, QFont::Weight weight = QFont::Normal);

// Foreground tones for text below the primary level, over the widget's own background.
QColor secondary(const QWidget *widget);
QColor tertiary(const QWidget *widget);
QColor accent(const QWidget *widget);

// The colour as a style-sheet value, alpha included.
QString css(const QColor &color);

// The large accent-filled button of a screen's main action, its label semibold.
void makeProminent(QPushButton *button);

// A frameless scroll area whose content takes its width and scrolls only up and down.
void makeVerticalScroll(QScrollArea *scroll);

} // namespace AppStyle
