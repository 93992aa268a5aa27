#include "ui/symbol_icons.h"

#include <QFile>
#include <QGuiApplication>
#include <QIconEngine>
#include <QPaintDevice>
#include <QPainter>
#include <QPalette>
#include <QPixmapCache>
#include <QSvgRenderer>

// Outside any namespace, as Q_INIT_RESOURCE requires. Registered by hand so the icons are found
// however the core is linked, as objects into the app or as the tests' shared library.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

void ensureResources()
{
    static const bool loaded = (initResources(), true);
    Q_UNUSED(loaded);
}

QString pathOf(const QString &name)
{
    ensureResources();
    return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg");
}

QString logoPath()
{
    ensureResources();
    return QStringLiteral(":/icons/penroost-derud.svg");
}

QColor forMode(QColor color, QIcon::Mode mode)
{
    if (mode == QIcon::Disabled)
        color.setAlphaF(color.alphaF() * SymbolIcons::kDisabledOpacity);
    return color;
}

// Draws a bundled glyph at whatever size is asked, so it stays sharp at every scale. Without a
// colour of its own it takes the palette's text colour when painted, not when made.
class SymbolEngine final : public QIconEngine
{
public:
    SymbolEngine(const QString &name, const QColor &color)
        : m_name(name)
        , m_color(color)
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const int side = qMin(rect.width(), rect.height());
        const QPixmap shape = cached(qRound(side * ratio), mode, state);
        const QRectF target(rect.x() + (rect.width() - side) / 2.0, rect.y() + (rect.height() - side) / 2.0,
                            side, side);
        painter->drawPixmap(target, shape, QRectF(shape.rect()));
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        const int side = qMin(size.width(), size.height());
        return {side, side};
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return cached(qMin(size.width(), size.height()), mode, state);
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {QSize(16, 16), QSize(24, 24), QSize(32, 32), QSize(48, 48)};
    }

    QIconEngine *clone() const override { return new SymbolEngine(m_name, m_color); }
    QString key() const override { return QStringLiteral("PenroostSymbol"); }
    QString iconName() override { return m_name; }
    bool isNull() override { return false; }

private:
    QPixmap cached(int side, QIcon::Mode mode, QIcon::State)
    {
        if (side <= 0)
            return {};
        const QColor base =
            m_color.isValid() ? m_color : QGuiApplication::palette().color(QPalette::WindowText);
        const QColor color = forMode(base, mode);
        const QString key = QStringLiteral("symbol:%1:%2:%3").arg(m_name).arg(side).arg(color.rgba(), 0, 16);
        QPixmap out;
        if (!QPixmapCache::find(key, &out)) {
            out = SymbolIcons::pixmap(m_name, side, color);
            QPixmapCache::insert(key, out);
        }
        return out;
    }

    QString m_name;
    QColor m_color;
};

} // namespace

namespace SymbolIcons {

bool has(const QString &name)
{
    return QFile::exists(pathOf(name));
}

QPixmap pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio)
{
    const int device = qMax(1, qRound(size * devicePixelRatio));
    QPixmap out(device, device);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    if (has(name)) {
        QSvgRenderer renderer(pathOf(name));
        renderer.render(&painter, QRectF(0, 0, device, device));
    } else {
        QIcon::fromTheme(name).paint(&painter, QRect(0, 0, device, device));
    }
    // The glyph's shape, in the wanted colour.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(out.rect(), color);
    painter.end();
    out.setDevicePixelRatio(devicePixelRatio);
    return out;
}

QIcon icon(const QString &name, const QColor &color)
{
    if (has(name))
        return QIcon(new SymbolEngine(name, color));
    QIcon result;
    for (const int size : {16, 24, 32, 48}) {
        result.addPixmap(pixmap(name, size, color));
        result.addPixmap(pixmap(name, size, forMode(color, QIcon::Disabled)), QIcon::Disabled);
    }
    return result;
}

QIcon icon(const QString &name)
{
    if (has(name))
        return QIcon(new SymbolEngine(name, QColor()));
    return icon(name, QGuiApplication::palette().color(QPalette::WindowText));
}

QPixmap logo(const QSize &box, qreal devicePixelRatio)
{
    QSvgRenderer renderer(logoPath());
    const QSize size = renderer.defaultSize().scaled(box, Qt::KeepAspectRatio);
    QPixmap out(size * devicePixelRatio);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(out.size())));
    painter.end();
    out.setDevicePixelRatio(devicePixelRatio);
    return out;
}

QIcon logoIcon()
{
    return QIcon(logoPath());
}

} // namespace SymbolIcons
