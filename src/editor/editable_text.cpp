#include "editor/editable_text.h"

EditableText::EditableText(const QString &placeholder, const QFont &font, QWidget *parent)
    : AutoHeightTextView(parent)
    , m_font(font)
{
    setPlaceholderText(placeholder);
    setFont(font);
}

void EditableText::setStrikethrough(bool on)
{
    if (m_strikethrough == on)
        return;
    m_strikethrough = on;
    QFont font = m_font;
    font.setStrikeOut(on);
    setFont(font);
    QPalette colours = palette();
    colours.setColor(QPalette::Text,
                     on ? colours.color(QPalette::PlaceholderText) : QPalette().color(QPalette::Text));
    setPalette(colours);
}
