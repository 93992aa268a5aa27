#pragma once

#include <QFlags>
#include <QList>
#include <QStringView>

// Reads the inline markers of block text: "**" bold, "*" italic, "__" underline, "~~" strike-through,
// a backquote on each side of code, "[label](http…)" links. Styling never changes a character: the
// markers stay in the text and are only flagged to be hidden on screen.
class MarkerSpans
{
public:
    enum Style : quint8 {
        Code = 0x01,
        Bold = 0x02,
        Italic = 0x04,
        Underline = 0x08,
        Strikethrough = 0x10,
        Link = 0x20,
        HiddenMarker = 0x40,
    };
    Q_DECLARE_FLAGS(Styles, Style)

    // The styles of each UTF-16 unit of one line (no marker pair spans a line break). The six passes
    // run in a fixed order (code, bold, italic, underline, strike-through, link) and add up where
    // spans nest; a hidden marker stays hidden whatever a later pass adds to it.
    static QList<Styles> styles(QStringView line);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(MarkerSpans::Styles)
