#pragma once

#include "editor/auto_height_text_view.h"

#include <optional>

class MarkerHighlighter;

// The text view of a text-like block: its text carries the inline markers, shown formatted with the
// markers hidden. It has its own undo history (Ctrl+Z acts on this block only) and answers the
// editing keys: Ctrl+B, -I, -U, -K and Ctrl+Shift+M, taken before anything else binds them, and
// Backspace at the very start. Return asks for a new block (`returnPressed`); Shift+Return inserts a
// line break into the block. Up on the first line and Down on the last leave the block
// (`leavingText`).
class RichTextEditor : public AutoHeightTextView
{
    Q_OBJECT
public:
    enum class Shortcut { Bold, Italic, Underline, Link, Comment };

    explicit RichTextEditor(QWidget *parent = nullptr);

    // Shift, Alt and Meta do not matter except that Ctrl+M needs Shift.
    static std::optional<Shortcut> shortcutFor(const QKeyEvent &event);

    // Strikes the whole text through under the inline styles (a checked to-do).
    void setStrikethrough(bool on);
    bool strikethrough() const;

    // Each is one undoable step; `markupInserted` follows an edit. The markers toggle
    // (`SelectionEdit::toggle`): a wrapped selection stays selected and a second press takes the
    // pair off. With nothing selected the pair is held by the editor alone, nothing written or
    // stored, until text is typed into it: text and markers then go in as one step. Another press
    // of the same key, a caret move, another key or the focus leaving lets the pair go. A press that
    // would show markers as they are changes nothing.
    bool wrapSelection(const QString &opening, const QString &closing);
    bool insertLink(const QString &url);
    // The markers of the pairs held at the caret, outer first; empty when none is held.
    QString heldOpening() const;

    MarkerHighlighter *highlighter() const { return m_highlighter; }

Q_SIGNALS:
    void markupInserted(const QString &text);
    void selectionRangeChanged(qsizetype location, qsizetype length);
    void backspaceAtStart();
    void returnPressed();
    // Up on the first line or Down on the last, with nothing held: the caret is to leave the text.
    void leavingText(bool down);
    void boldRequested();
    void italicRequested();
    void underlineRequested();
    void linkRequested();
    void commentRequested();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;

private:
    struct Pair {
        QString opening;
        QString closing;
    };

    // The selection as extra selections, its hidden markers left undrawn.
    void drawSelection();
    bool holdsPairAtCaret() const;
    void releaseHeldPairs() { m_held.clear(); }
    // Typed text at the held pairs' place: with their markers where they are read as markers,
    // else alone.
    void typeIntoHeldPairs(const QString &typed);

    MarkerHighlighter *m_highlighter;
    QList<Pair> m_held;
    int m_heldAt = -1;
};
