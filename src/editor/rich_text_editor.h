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

    // Each is one undoable step; `markupInserted` follows the edit. The markers toggle: a wrapped
    // selection stays selected and a second press takes the pair off, and with nothing selected a
    // second press steps out of the pair the first one made (`SelectionEdit::toggle`).
    bool wrapSelection(const QString &opening, const QString &closing);
    bool insertLink(const QString &url);

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

private:
    // The selection as extra selections, its hidden markers left undrawn.
    void drawSelection();
    // An empty pair a press put in, once the caret has left it with nothing typed: taken out again,
    // since stored it would show as literal markers.
    void dropHeldPairLeftEmpty(bool focusLeft);

    MarkerHighlighter *m_highlighter;
    // Where the caret stood in the empty pair the highlighter holds.
    int m_heldCaret = -1;
};
