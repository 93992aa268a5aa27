#include "app/symbol_icons.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

// Outside any namespace, as Q_INIT_RESOURCE requires. The resources sit in a static library, whose
// unreferenced objects the linker would otherwise leave out.
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
    QIcon result;
    for (const int size : {16, 24, 32, 48})
        result.addPixmap(pixmap(name, size, color));
    return result;
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
