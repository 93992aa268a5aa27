#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>

class QAbstractButton;
class QLabel;

// The editor's symbols by name ("bold", "list.bullet", ...): the bundled monochrome
// glyph, else the icon theme's icon, else a text glyph that stands in for it.
namespace EditorSymbols {

// Every name the editor asks for.
QStringList names();
// In the palette's text colour, following palette changes.
QIcon icon(const QString &name);
QIcon icon(const QString &name, const QColor &color);
QString glyph(const QString &name);
// Shows the symbol on the button: the theme icon when there is one, else the glyph as its text.
void apply(QAbstractButton &button, const QString &name);
void apply(QLabel &label, const QString &name, int size);

} // namespace EditorSymbols
