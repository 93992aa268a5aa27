#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// Symbol names ("bold", "trash", ...) mapped to bundled SVG glyphs, drawn in one colour like the system
// symbols they stand for. A name without a bundled glyph falls back to the icon theme.
namespace SymbolIcons {

// How strongly a disabled control's symbol is drawn, relative to its enabled look.
constexpr qreal kDisabledOpacity = 0.35;

bool has(const QString &name);
// A square glyph `size` logical pixels wide, for the screen's device pixel ratio.
QPixmap pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio = 1.0);
// Drawn in `color`, faded when disabled.
QIcon icon(const QString &name, const QColor &color);
// Drawn in the application palette's text colour at the time it is painted, so it follows a
// switch between light and dark palettes; faded when disabled.
QIcon icon(const QString &name);

// The application's logo in its own colours, scaled to fit within `box` with its aspect kept.
QPixmap logo(const QSize &box, qreal devicePixelRatio = 1.0);
QIcon logoIcon();

} // namespace SymbolIcons
