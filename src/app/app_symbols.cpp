#include "app/app_symbols.h"

#include "ui/symbol_icons.h"

#include <QHash>

namespace AppSymbols {

QString resolved(const QString &name)
{
    if (SymbolIcons::has(name))
        return name;
    // freedesktop icon names standing in for the symbols with no bundled glyph.
    static const QHash<QString, QString> theme{
        {QStringLiteral("sidebar.left"), QStringLiteral("sidebar-show-symbolic")},
        {QStringLiteral("person.crop.circle"), QStringLiteral("avatar-default-symbolic")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("view-refresh-symbolic")},
        {QStringLiteral("arrow.triangle.2.circlepath.icloud"), QStringLiteral("arrow.triangle.2.circlepath")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("window-close-symbolic")},
        {QStringLiteral("doc.text.below.ecg"), QStringLiteral("text-x-generic-symbolic")},
        {QStringLiteral("globe"), QStringLiteral("web-browser-symbolic")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("edit-find-symbolic")},
    };
    return theme.value(name, name);
}

QIcon icon(const QString &name, const QColor &color)
{
    return SymbolIcons::icon(resolved(name), color);
}

QPixmap pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio)
{
    return SymbolIcons::pixmap(resolved(name), size, color, devicePixelRatio);
}

} // namespace AppSymbols
