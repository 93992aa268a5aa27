#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// The main window's symbols by name ("sidebar.left", ...): the bundled glyph when there is one, else the
// closest icon of the desktop theme, drawn in one colour.
namespace AppSymbols {

// The name to hand to SymbolIcons: the symbol name when bundled, else its theme stand-in.
QString resolved(const QString &name);
QIcon icon(const QString &name, const QColor &color);
QPixmap pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio = 1.0);

} // namespace AppSymbols
