#include "ui/card_button.h"

#include "ui/app_style.h"

#include <QPainter>
#include <QPixmapCache>

namespace {

constexpr qreal kRadius = 8;
constexpr qreal kLineAlpha = 0.15;

} // namespace

CardButton::CardButton(qreal fillAlpha, QWidget *parent)
    : QPushButton(parent)
    , m_fillAlpha(fillAlpha)
{
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
}

void CardButton::paintEvent(QPaintEvent *)
{
    // Worked out at each paint, so the card follows a change of theme.
    QColor fill = AppStyle::secondary(this);
    fill.setAlphaF(m_fillAlpha);
    QColor line = AppStyle::secondary(this);
    line.setAlphaF(kLineAlpha);
    const qreal ratio = devicePixelRatioF();
    // Drawn once per size and tone, then copied: Qt fills a translucent shape this tall in strips
    // on other threads and waits for them, which made each card's paint cost half a millisecond.
    const QString key = QStringLiteral("card-face/%1x%2@%3/%4/%5")
                            .arg(width())
                            .arg(height())
                            .arg(ratio)
                            .arg(fill.name(QColor::HexArgb), line.name(QColor::HexArgb));
    QPixmap face;
    if (!QPixmapCache::find(key, &face)) {
        face = QPixmap(size() * ratio);
        face.setDevicePixelRatio(ratio);
        face.fill(Qt::transparent);
        QPainter painter(&face);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(line, 1));
        painter.setBrush(fill);
        // On the pixel grid: a one-pixel line centred half a pixel in stays one pixel wide.
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);
        painter.end();
        QPixmapCache::insert(key, face);
    }
    QPainter(this).drawPixmap(0, 0, face);
}
