#include "editor/rich_text_editor.h"

#include "editor/marker_highlighter.h"
#include "editor/selection_edit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>

RichTextEditor::RichTextEditor(QWidget *parent)
    : AutoHeightTextView(parent)
    , m_highlighter(new MarkerHighlighter(document()))
{
    // The text view would draw the selected text, hidden markers included, in the selection's text
    // colour: every marker a dot. The selection is drawn here instead, leaving the markers out.
    QPalette own = palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        own.setColor(group, QPalette::Highlight, Qt::transparent);
        own.setColor(group, QPalette::HighlightedText, Qt::transparent);
    }
    setPalette(own);
    connect(this, &QTextEdit::selectionChanged, this, &RichTextEditor::drawSelection);
    connect(this, &AutoHeightTextView::focusChanged, this, &RichTextEditor::drawSelection);
    connect(this, &AutoHeightTextView::focusChanged, this, [this](bool hasFocus, Qt::FocusReason reason) {
        // Another window or a menu over this one: the caret is still where it was.
        if (!hasFocus && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            dropHeldPairLeftEmpty(true);
    });
    connect(document(), &QTextDocument::contentsChanged, this, &RichTextEditor::drawSelection);
    connect(this, &QTextEdit::cursorPositionChanged, this, [this] {
        dropHeldPairLeftEmpty(false);
        const QTextCursor cursor = textCursor();
        Q_EMIT selectionRangeChanged(cursor.selectionStart(),
                                     cursor.selectionEnd() - cursor.selectionStart());
    });
}

std::optional<RichTextEditor::Shortcut> RichTextEditor::shortcutFor(const QKeyEvent &event)
{
    if (!(event.modifiers() & Qt::ControlModifier))
        return std::nullopt;
    switch (event.key()) {
    case Qt::Key_B:
        return Shortcut::Bold;
    case Qt::Key_I:
        return Shortcut::Italic;
    case Qt::Key_U:
        return Shortcut::Underline;
    case Qt::Key_K:
        return Shortcut::Link;
    case Qt::Key_M:
        if (event.modifiers() & Qt::ShiftModifier)
            return Shortcut::Comment;
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

void RichTextEditor::drawSelection()
{
    QList<ExtraSelection> runs;
    const QTextCursor cursor = textCursor();
    if (cursor.hasSelection()) {
        // The colours the text view would use: the application's, not the transparent ones above.
        const QPalette colours = QApplication::palette(this);
        const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
        QTextCharFormat shown;
        shown.setBackground(colours.brush(group, QPalette::Highlight));
        shown.setForeground(colours.brush(group, QPalette::HighlightedText));
        QTextCharFormat hidden = shown;
        hidden.setForeground(Qt::transparent);
        const int from = cursor.selectionStart();
        const int to = cursor.selectionEnd();
        for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() < to;
             block = block.next()) {
            const QList<MarkerSpans::Styles> styles = MarkerSpans::styles(block.text());
            const int start = std::max(from, block.position());
            const int end = std::min(to, block.position() + block.length());
            for (int at = start; at < end;) {
                const auto isHidden = [&](int p) {
                    const int i = p - block.position();
                    return i < styles.size() && (styles[i] & MarkerSpans::HiddenMarker);
                };
                const bool runHidden = isHidden(at);
                int stop = at + 1;
                while (stop < end && isHidden(stop) == runHidden)
                    ++stop;
                ExtraSelection run;
                run.cursor = QTextCursor(document());
                run.cursor.setPosition(at);
                run.cursor.setPosition(stop, QTextCursor::KeepAnchor);
                run.format = runHidden ? hidden : shown;
                runs.append(run);
                at = stop;
            }
        }
    }
    if (runs.isEmpty() && extraSelections().isEmpty())
        return;
    setExtraSelections(runs);
}

void RichTextEditor::setStrikethrough(bool on)
{
    m_highlighter->setStrikethrough(on);
}

bool RichTextEditor::strikethrough() const
{
    return m_highlighter->strikethrough();
}

bool RichTextEditor::wrapSelection(const QString &opening, const QString &closing)
{
    // A press in the pair the last one made toggles it as it stands.
    m_highlighter->setHeldPair(-1, {});
    const QString before = toRawText();
    if (!wrapSelectionInMarkers(*this, opening, closing))
        return false;
    // Stepping out of a pair moves the caret alone.
    const QString after = toRawText();
    if (after == before)
        return true;
    // An empty pair shows nothing until text is typed into it.
    const QString pair = opening + closing;
    const int at = textCursor().position() - int(opening.size());
    if (!textCursor().hasSelection() && at >= 0 && after == QString(before).insert(at, pair)) {
        m_heldCaret = textCursor().position();
        m_highlighter->setHeldPair(at, pair);
    }
    Q_EMIT markupInserted(after);
    return true;
}

void RichTextEditor::dropHeldPairLeftEmpty(bool focusLeft)
{
    if (m_highlighter->heldAt() < 0)
        return;
    const QTextCursor caret = textCursor();
    if (!focusLeft && !caret.hasSelection() && caret.position() == m_heldCaret)
        return;
    const int at = m_highlighter->heldAt();
    const QString pair = m_highlighter->heldPair();
    m_highlighter->setHeldPair(-1, {});
    QTextCursor held(document());
    held.setPosition(at);
    held.setPosition(at + int(pair.size()), QTextCursor::KeepAnchor);
    if (held.selectedText() != pair)
        return; // typed into, or the text changed under it
    held.removeSelectedText();
    Q_EMIT markupInserted(toRawText());
}

bool RichTextEditor::insertLink(const QString &url)
{
    if (!insertMarkdownLink(*this, url))
        return false;
    Q_EMIT markupInserted(toRawText());
    return true;
}

bool RichTextEditor::event(QEvent *event)
{
    // Claimed before shortcuts of the window see them (and before QTextEdit's own Ctrl+K).
    if (event->type() == QEvent::ShortcutOverride && shortcutFor(*static_cast<QKeyEvent *>(event))) {
        event->accept();
        return true;
    }
    return AutoHeightTextView::event(event);
}

void RichTextEditor::keyPressEvent(QKeyEvent *event)
{
    if (const auto shortcut = shortcutFor(*event)) {
        switch (*shortcut) {
        case Shortcut::Bold:
            Q_EMIT boldRequested();
            break;
        case Shortcut::Italic:
            Q_EMIT italicRequested();
            break;
        case Shortcut::Underline:
            Q_EMIT underlineRequested();
            break;
        case Shortcut::Link:
            Q_EMIT linkRequested();
            break;
        case Shortcut::Comment:
            Q_EMIT commentRequested();
            break;
        }
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        // The caret moves from where the empty pair was, as if it had never been put in.
        if (m_highlighter->heldAt() >= 0 && textCursor().position() == m_heldCaret)
            dropHeldPairLeftEmpty(true);
        break;
    default:
        break;
    }
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (isReturn && !(event->modifiers() & ~Qt::KeypadModifier)) {
        dropHeldPairLeftEmpty(true); // the next line starts plain, not with half a pair each
        Q_EMIT returnPressed();
        event->accept();
        return;
    }
    const bool plainBackspace = event->key() == Qt::Key_Backspace &&
                                !(event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier));
    if (plainBackspace && m_highlighter->heldAt() >= 0 && textCursor().position() == m_heldCaret) {
        dropHeldPairLeftEmpty(true); // the pair goes whole: one marker character alone would show
        event->accept();
        return;
    }
    const QTextCursor cursor = textCursor();
    if (plainBackspace && !cursor.hasSelection() && cursor.position() == 0) {
        Q_EMIT backspaceAtStart();
        event->accept();
        return;
    }
    const bool vertical = event->key() == Qt::Key_Up || event->key() == Qt::Key_Down;
    if (vertical && !(event->modifiers() & ~Qt::KeypadModifier)) {
        const bool down = event->key() == Qt::Key_Down;
        QTextCursor probe = cursor;
        probe.clearSelection();
        if (!probe.movePosition(down ? QTextCursor::Down : QTextCursor::Up)) {
            Q_EMIT leavingText(down);
            event->accept();
            return;
        }
    }
    AutoHeightTextView::keyPressEvent(event);
}
