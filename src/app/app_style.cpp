#include "app/app_style.h"

#include <QApplication>
#include <QPushButton>
#include <QScrollArea>
#include <QWidget>

namespace {

// Ratios of the platform's callout (12 of 13) and caption (10 of 13) sizes to body text.
constexpr qreal kCalloutScale = 12.0 / 13.0;
constexpr qreal kCaptionScale = 10.0 / 13.0;

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

void makeVerticalScroll(QScrollArea *scroll)
{
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

} // namespace AppStyle
