#include "library/library_symbols.h"

#include "ui/symbol_icons.h"

#include <QHash>

namespace LibrarySymbols {

QIcon icon(const QString &name, const QColor &color)
{
    if (SymbolIcons::has(name))
        return SymbolIcons::icon(name, color);
    // freedesktop icon names standing in for the symbols with no bundled glyph.
    static const QHash<QString, QString> theme{
        {QStringLiteral("house"), QStringLiteral("go-home")},
        {QStringLiteral("trash"), QStringLiteral("user-trash")},
        {QStringLiteral("folder.badge.plus"), QStringLiteral("folder-new")},
        {QStringLiteral("plus.square"), QStringLiteral("document-new")},
        {QStringLiteral("doc.badge.plus"), QStringLiteral("document-new")},
        {QStringLiteral("rectangle.stack"), QStringLiteral("view-list")},
        {QStringLiteral("chevron.up.chevron.down"), QStringLiteral("pan-down")},
        {QStringLiteral("checkmark"), QStringLiteral("object-select")},
        {QStringLiteral("folder"), QStringLiteral("folder")},
        {QStringLiteral("doc.text"), QStringLiteral("text-x-generic")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("edit-find")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("edit-clear")},
        {QStringLiteral("trash.fill"), QStringLiteral("edit-delete")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("view-refresh")},
        {QStringLiteral("arrow.uturn.backward"), QStringLiteral("edit-undo")},
        {QStringLiteral("tray"), QStringLiteral("folder-open")},
        {QStringLiteral("face.smiling"), QStringLiteral("face-smile")},
        {QStringLiteral("globe"), QStringLiteral("applications-internet")},
    };
    return QIcon::fromTheme(theme.value(name, name));
}

} // namespace LibrarySymbols
