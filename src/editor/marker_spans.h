#pragma once

#include <QFlags>
#include <QList>
#include <QString>
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

    // The styles of each UTF-16 unit of one line (no marker pair spans a line break). Code,
    // bold and italic, underline, strike-through and links are read in turn and add up where spans
    // nest; bold and italic nest in each other as typed ("*a **b** c*"). A hidden marker stays
    // hidden whatever a later pass adds to it.
    static QList<Styles> styles(QStringView line);

    // One marker pair of a line: the whole match, and the part between its markers.
    struct Span {
        Style style;
        qsizetype wholeStart;
        qsizetype innerStart;
        qsizetype innerEnd;
        qsizetype wholeEnd;
    };
    static QList<Span> spans(QStringView line);

    // How many marker characters ("*", "_", "~", "`") the lines of `text` show as they are: what
    // a format key must never add to.
    static qsizetype literalMarkers(QStringView text);

    // Cuts block text in two at `at` (a UTF-16 offset) without breaking a marker pair: a pair open
    // at the cut is closed at the end of the first part and opened again at the start of the
    // second; a cut inside a marker itself moves out of the pair.
    struct Split {
        QString head;
        QString tail;
    };
    static Split split(QStringView text, qsizetype at);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(MarkerSpans::Styles)
