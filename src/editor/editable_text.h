#pragma once

#include "editor/auto_height_text_view.h"

// A plain multi-line text field (code, toggle summary and hidden body): no markers are read, and it
// is not tied to the page's focus.
class EditableText : public AutoHeightTextView
{
    Q_OBJECT
public:
    EditableText(const QString &placeholder, const QFont &font, QWidget *parent = nullptr);

    // The whole text struck through, drawn in the secondary colour.
    void setStrikethrough(bool on);
    bool strikethrough() const { return m_strikethrough; }

private:
    QFont m_font;
    bool m_strikethrough = false;
};
