#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

// The sidebar's symbols by name ("house", ...): the bundled glyph when there is one, else the closest
// icon of the desktop theme.
namespace LibrarySymbols {

QIcon icon(const QString &name, const QColor &color);

} // namespace LibrarySymbols
