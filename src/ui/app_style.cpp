#include "ui/app_style.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QWidget>

namespace {

// Ratios of the platform's callout (12 of 13) and caption (10 of 13) sizes to body text.
constexpr qreal kCalloutScale = 12.0 / 13.0;
constexpr qreal kCaptionScale = 10.0 / 13.0;
constexpr auto kDestructiveProperty = "destructive";

QFont scaled(qreal factor)
{
    QFont font = QApplication::font();
    font.setPointSizeF(font.pointSizeF() * factor);
    return font;
}

QColor faded(const QWidget *widget, qreal alpha)
{
    QColor color = widget ? widget->palette().color(QPalette::WindowText)
                          : QApplication::palette().color(QPalette::WindowText);
    color.setAlphaF(alpha);
    return color;
}

} // namespace

namespace AppStyle {

QFont body()
{
    return QApplication::font();
}

QFont callout()
{
    return scaled(kCalloutScale);
}

QFont caption()
{
    return scaled(kCaptionScale);
}

QFont headline()
{
    QFont font = body();
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont system(int points, QFont::Weight weight)
{
    QFont font = body();
    font.setPixelSize(points);
    font.setWeight(weight);
    return font;
}

QColor secondary(const QWidget *widget)
{
    return faded(widget, 0.55);
}

QColor tertiary(const QWidget *widget)
{
    return faded(widget, 0.35);
}

QColor accent(const QWidget *widget)
{
    return widget ? widget->palette().color(QPalette::Highlight)
                  : QApplication::palette().color(QPalette::Highlight);
}

QColor destructive()
{
    return {255, 59, 48};
}

QString css(const QColor &color)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alpha());
}

void makeProminent(QPushButton *button)
{
    QFont font = body();
    font.setWeight(QFont::DemiBold);
    button->setFont(font);
    button->setMinimumHeight(34);
    button->setCursor(Qt::PointingHandCursor);
    const QColor fill = accent(button);
    QColor pressed = fill.darker(115);
    QColor disabled = fill;
    disabled.setAlphaF(0.4);
    const QColor text = button->palette().color(QPalette::HighlightedText);
    button->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 7px; "
                       "padding: 6px 14px; }"
                       "QPushButton:pressed { background: %3; }"
                       "QPushButton:disabled { background: %4; color: %2; }")
            .arg(css(fill), css(text), css(pressed), css(disabled)));
}

void makeDestructive(QAbstractButton *button)
{
    // The palette, not a style sheet: the button keeps the desktop style's own look.
    // A disabled button keeps the palette's grey.
    QPalette palette = button->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::ButtonText, destructive());
        palette.setColor(group, QPalette::WindowText, destructive());
    }
    button->setPalette(palette);
    if (auto *push = qobject_cast<QPushButton *>(button)) {
        push->setDefault(false);
        push->setAutoDefault(false);
    }
}

void makeDestructiveProminent(QPushButton *button)
{
    QFont font = button->font();
    font.setWeight(QFont::DemiBold);
    button->setFont(font);
    button->setCursor(Qt::PointingHandCursor);
    button->setDefault(false);
    button->setAutoDefault(false);
    const QColor fill = destructive();
    QColor disabled = fill;
    disabled.setAlphaF(0.4);
    button->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 5px; "
                       "padding: 3px 10px; }"
                       "QPushButton:pressed { background: %2; }"
                       "QPushButton:disabled { background: %3; }")
            .arg(css(fill), css(fill.darker(115)), css(disabled)));
}

void markDestructive(QAction *action)
{
    action->setProperty(kDestructiveProperty, true);
}

bool isDestructive(const QAction *action)
{
    return action && action->property(kDestructiveProperty).toBool();
}

void makeVerticalScroll(QScrollArea *scroll)
{
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

QLabel *errorLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    // Errors often carry the service's own text: never read it as markup.
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(callout());
    label->setStyleSheet(QStringLiteral("color: red;"));
    return label;
}

} // namespace AppStyle
