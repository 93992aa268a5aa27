#include "editor/rich_text_editor.h"

#include "editor/marker_highlighter.h"
#include "editor/selection_edit.h"

#include <QApplication>
#include <QInputMethodEvent>
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
            releaseHeldPairs();
    });
    connect(document(), &QTextDocument::contentsChanged, this, &RichTextEditor::drawSelection);
    connect(this, &QTextEdit::cursorPositionChanged, this, [this] {
        if (!m_held.isEmpty() && !holdsPairAtCaret())
            releaseHeldPairs();
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
    if (isReadOnly())
        return false;
    if (holdsPairAtCaret()) {
        // Pressed again before anything was typed: that pair goes, another one is held with it.
        const auto same = std::find_if(m_held.begin(), m_held.end(), [&](const Pair &p) {
            return p.opening == opening && p.closing == closing;
        });
        if (same != m_held.end())
            m_held.erase(same);
        else
            m_held.append({opening, closing});
        return true;
    }
    releaseHeldPairs();
    const QString before = toRawText();
    const QTextCursor cursor = textCursor();
    const SelectionEdit edit = SelectionEdit::toggle(
        before, cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart(), opening, closing);
    const bool emptyPair = edit.count == 0 && edit.selected == 0 && edit.replacement == opening + closing;
    if (emptyPair) {
        // Held, not written: stored or sent, an empty pair would show as the markers themselves.
        QTextCursor at = textCursor();
        at.setPosition(int(edit.start));
        setTextCursor(at);
        m_held = {{opening, closing}};
        m_heldAt = int(edit.start);
        return true;
    }
    if (edit.changesText() && edit.replacement.size() > edit.count && edit.addsLiteralMarkers(before))
        return false;
    applySelectionEdit(*this, edit);
    if (edit.changesText())
        Q_EMIT markupInserted(toRawText());
    return true;
}

QString RichTextEditor::heldOpening() const
{
    QString opening;
    for (const Pair &pair : m_held)
        opening += pair.opening;
    return opening;
}

bool RichTextEditor::holdsPairAtCaret() const
{
    const QTextCursor cursor = textCursor();
    return !m_held.isEmpty() && !cursor.hasSelection() && cursor.position() == m_heldAt;
}

void RichTextEditor::typeIntoHeldPairs(const QString &typed)
{
    QString opening;
    QString closing;
    for (const Pair &pair : std::as_const(m_held)) {
        opening += pair.opening;
        closing.prepend(pair.closing);
    }
    releaseHeldPairs();
    QTextCursor cursor = textCursor();
    const QString line = cursor.block().text();
    const qsizetype at = cursor.positionInBlock();
    const QString plain = line.left(at) + typed + line.mid(at);
    const QString marked = line.left(at) + opening + typed + closing + line.mid(at);
    const bool withMarkers = MarkerSpans::literalMarkers(marked) <= MarkerSpans::literalMarkers(plain);
    cursor.beginEditBlock();
    cursor.insertText(withMarkers ? opening + typed + closing : typed);
    cursor.endEditBlock();
    if (withMarkers)
        cursor.setPosition(cursor.position() - int(closing.size()));
    setTextCursor(cursor);
    ensureCursorVisible();
}

bool RichTextEditor::insertLink(const QString &url)
{
    if (!insertMarkdownLink(*this, url))
        return false;
    Q_EMIT markupInserted(toRawText());
    return true;
}

void RichTextEditor::inputMethodEvent(QInputMethodEvent *event)
{
    if (holdsPairAtCaret() && !event->commitString().isEmpty() && event->preeditString().isEmpty() &&
        event->replacementLength() == 0) {
        typeIntoHeldPairs(event->commitString());
        event->accept();
        return;
    }
    AutoHeightTextView::inputMethodEvent(event);
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
    if (holdsPairAtCaret()) {
        const QString typed = event->text();
        const bool typing =
            !typed.isEmpty() && typed.front().isPrint() &&
            !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
        if (typing) {
            typeIntoHeldPairs(typed);
            event->accept();
            return;
        }
        const bool modifierOnly = event->key() == Qt::Key_Shift || event->key() == Qt::Key_Control ||
                                  event->key() == Qt::Key_Alt || event->key() == Qt::Key_Meta ||
                                  event->key() == Qt::Key_AltGr;
        if (!modifierOnly) {
            // Any other key lets the pairs go first; Backspace takes only them.
            releaseHeldPairs();
            if (event->key() == Qt::Key_Backspace) {
                event->accept();
                return;
            }
        }
    }
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (isReturn && !(event->modifiers() & ~Qt::KeypadModifier)) {
        Q_EMIT returnPressed();
        event->accept();
        return;
    }
    const bool plainBackspace = event->key() == Qt::Key_Backspace &&
                                !(event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier));
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
