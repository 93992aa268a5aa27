#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QString>

// Short text (an emoji standing for a page or a folder) drawn once per text, font, colour and
// scale, and reused from then on. A colour emoji is a PNG inside a font: drawn as text, each new
// size inflates and scales it again on the GUI thread, and a list of thousands of rows pays that
// in a single frame.
namespace GlyphPixmaps {

// The text's advance wide and the font's line high, at `devicePixelRatio`; transparent around the
// glyphs. Null for empty text.
QPixmap pixmap(const QString &text, const QFont &font, const QColor &color, qreal devicePixelRatio);
// How many different ones are held.
int cachedCount();

} // namespace GlyphPixmaps
