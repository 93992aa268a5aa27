#pragma once

#include <QString>

class QTextEdit;

// One replacement of a text view's selection by markers around it, worked out on the text alone.
// Offsets are UTF-16 units, the text view's own.
struct SelectionEdit {
    qsizetype start = 0;
    qsizetype count = 0;
    QString replacement;
    qsizetype caret = 0;    // where the caret goes afterwards
    qsizetype selected = 0; // the text before the caret left selected, in UTF-16 units

    bool changesText() const { return count > 0 || !replacement.isEmpty(); }
    // Applied to `text`, the lines it touches would show more marker characters as they are.
    bool addsLiteralMarkers(const QString &text) const;

    // The selection clamped to the text. A selection becomes opening + selection + closing and stays
    // selected; an empty one becomes the two markers with the caret between them. It only adds
    // markers: wrapped text is wrapped again.
    static SelectionEdit wrap(const QString &text, qsizetype location, qsizetype length,
                              const QString &opening, const QString &closing);
    // What a format key does. A pair of these markers that wraps the selection comes off, and a
    // selection within a pair's text comes out of it, the rest keeping the pair; either way the text
    // stays selected. A selection over line breaks is toggled line by line (pairs never span one).
    // With nothing selected, the caret at either end of a pair's text or in its markers steps out
    // of the pair on that side, and an empty pair around the caret goes. Anything else is wrapped,
    // never inside another pair's marker.
    static SelectionEdit toggle(const QString &text, qsizetype location, qsizetype length,
                                const QString &opening, const QString &closing);
    // "[" + the selection, or "link" when there is none, + "](" + url + ")"; the caret after it.
    static SelectionEdit link(const QString &text, qsizetype location, qsizetype length, const QString &url);
};

// The edit made in the view as one undoable step, the caret and selection left as it names them;
// false (nothing changed) when the view is read-only.
bool applySelectionEdit(QTextEdit &view, const SelectionEdit &edit);
bool insertMarkdownLink(QTextEdit &view, const QString &url);
// Selects (location, length) clamped to the view's current text.
void selectClamped(QTextEdit &view, qsizetype location, qsizetype length);
