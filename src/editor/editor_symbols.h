#pragma once

#include <QIcon>
#include <QString>

class QAbstractButton;
class QLabel;

// The editor's symbols by their design names ("bold", "list.bullet", ...): the icon theme's icon
// where the theme has one, else a text glyph that stands in for it.
namespace EditorSymbols {

QIcon icon(const QString &name);
QString glyph(const QString &name);
// Shows the symbol on the button: the theme icon when there is one, else the glyph as its text.
void apply(QAbstractButton &button, const QString &name);
void apply(QLabel &label, const QString &name, int size);

} // namespace EditorSymbols
