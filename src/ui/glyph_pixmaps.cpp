#include "ui/glyph_pixmaps.h"

#include <QFontMetricsF>
#include <QHash>
#include <QPainter>

#include <cmath>

namespace GlyphPixmaps {

namespace {

// Icons are few (a user picks among a few hundred emoji); past this the oldest guess is as good as
// any, so the cache simply starts over.
constexpr int kMostHeld = 512;

QHash<QString, QPixmap> &cache()
{
    static QHash<QString, QPixmap> held;
    return held;
}

} // namespace

QPixmap pixmap(const QString &text, const QFont &font, const QColor &color, qreal devicePixelRatio)
{
    if (text.isEmpty())
        return {};
    const QString key = text + QLatin1Char('\x1f') + font.key() + QLatin1Char('\x1f') +
                        QString::number(color.rgba(), 16) + QLatin1Char('\x1f') +
                        QString::number(devicePixelRatio);
    auto &held = cache();
    if (const auto it = held.constFind(key); it != held.cend())
        return *it;
    const QFontMetricsF metrics(font);
    const QSizeF size(std::ceil(metrics.horizontalAdvance(text)), std::ceil(metrics.height()));
    QPixmap out((size * devicePixelRatio).toSize().expandedTo(QSize(1, 1)));
    out.setDevicePixelRatio(devicePixelRatio);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRectF(QPointF(0, 0), size), Qt::AlignCenter, text);
    painter.end();
    if (held.size() >= kMostHeld)
        held.clear();
    held.insert(key, out);
    return out;
}

int cachedCount()
{
    return int(cache().size());
}

} // namespace GlyphPixmaps
