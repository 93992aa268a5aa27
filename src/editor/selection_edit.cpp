#include "editor/selection_edit.h"

#include "editor/raw_text.h"

#include <QTextCursor>
#include <QTextEdit>

#include <algorithm>

namespace {

constexpr auto kDefaultLinkLabel = "link";

struct Range {
    qsizetype start;
    qsizetype count;
};

Range clamped(qsizetype textLength, qsizetype location, qsizetype length)
{
    const qsizetype start = std::clamp<qsizetype>(location, 0, textLength);
    const qsizetype count = std::clamp<qsizetype>(length, 0, textLength - start);
    return {start, count};
}

bool apply(QTextEdit &view, const SelectionEdit &edit)
{
    if (view.isReadOnly())
        return false;
    QTextCursor cursor(view.document());
    cursor.beginEditBlock();
    cursor.setPosition(int(edit.start));
    cursor.setPosition(int(edit.start + edit.count), QTextCursor::KeepAnchor);
    cursor.insertText(edit.replacement);
    cursor.endEditBlock();
    cursor.setPosition(int(edit.caret));
    view.setTextCursor(cursor);
    return true;
}

Range selectionOf(const QTextEdit &view)
{
    const QTextCursor cursor = view.textCursor();
    return {cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart()};
}

} // namespace

SelectionEdit SelectionEdit::wrap(const QString &text, qsizetype location, qsizetype length,
                                  const QString &opening, const QString &closing)
{
    const Range r = clamped(text.size(), location, length);
    SelectionEdit edit{r.start, r.count, {}, 0};
    if (r.count >= 1) {
        edit.replacement = opening + text.mid(r.start, r.count) + closing;
        edit.caret = r.start + edit.replacement.size();
    } else {
        edit.replacement = opening + closing;
        edit.caret = r.start + opening.size();
    }
    return edit;
}

SelectionEdit SelectionEdit::link(const QString &text, qsizetype location, qsizetype length,
                                  const QString &url)
{
    const Range r = clamped(text.size(), location, length);
    const QString label = r.count >= 1 ? text.mid(r.start, r.count) : QString::fromLatin1(kDefaultLinkLabel);
    SelectionEdit edit{r.start, r.count,
                       QLatin1Char('[') + label + QLatin1String("](") + url + QLatin1Char(')'), 0};
    edit.caret = r.start + edit.replacement.size();
    return edit;
}

bool wrapSelectionInMarkers(QTextEdit &view, const QString &opening, const QString &closing)
{
    const Range s = selectionOf(view);
    return apply(view, SelectionEdit::wrap(rawText(*view.document()), s.start, s.count, opening, closing));
}

bool insertMarkdownLink(QTextEdit &view, const QString &url)
{
    const Range s = selectionOf(view);
    return apply(view, SelectionEdit::link(rawText(*view.document()), s.start, s.count, url));
}

void selectClamped(QTextEdit &view, qsizetype location, qsizetype length)
{
    const Range r = clamped(rawText(*view.document()).size(), location, length);
    QTextCursor cursor(view.document());
    cursor.setPosition(int(r.start));
    cursor.setPosition(int(r.start + r.count), QTextCursor::KeepAnchor);
    view.setTextCursor(cursor);
}
