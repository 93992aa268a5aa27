#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// The design's symbol names mapped to bundled SVG glyphs, drawn in one colour like the system
// symbols they stand for. A name without a bundled glyph falls back to the icon theme.
namespace SymbolIcons {

bool has(const QString &name);
// A square glyph `size` logical pixels wide, for the screen's device pixel ratio.
QPixmap pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio = 1.0);
QIcon icon(const QString &name, const QColor &color);

// The application's logo in its own colours, scaled to fit within `box` with its aspect kept.
QPixmap logo(const QSize &box, qreal devicePixelRatio = 1.0);
QIcon logoIcon();

} // namespace SymbolIcons
