#pragma once

#include <QString>

class QTextEdit;

// One replacement of a text view's selection by markers around it, worked out on the text alone.
// Offsets are UTF-16 units, the text view's own.
struct SelectionEdit {
    qsizetype start = 0;
    qsizetype count = 0;
    QString replacement;
    qsizetype caret = 0; // where the caret goes afterwards

    // The selection clamped to the text. A selection becomes opening + selection + closing with the
    // caret after it all; an empty one becomes the two markers with the caret between them. It only
    // adds markers: wrapped text is wrapped again.
    static SelectionEdit wrap(const QString &text, qsizetype location, qsizetype length,
                              const QString &opening, const QString &closing);
    // "[" + the selection, or "link" when there is none, + "](" + url + ")"; the caret after it.
    static SelectionEdit link(const QString &text, qsizetype location, qsizetype length, const QString &url);
};

// Apply to the view's current selection as one undoable step; false (nothing changed) when the view
// is read-only.
bool wrapSelectionInMarkers(QTextEdit &view, const QString &opening, const QString &closing);
bool insertMarkdownLink(QTextEdit &view, const QString &url);
// Selects (location, length) clamped to the view's current text.
void selectClamped(QTextEdit &view, qsizetype location, qsizetype length);
