#include "editor/selection_edit.h"

#include "editor/marker_spans.h"
#include "editor/raw_text.h"

#include <QTextCursor>
#include <QTextEdit>

#include <algorithm>
#include <vector>

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

// The line of `text` that holds offset `at`: no marker pair spans a line break.
struct Line {
    qsizetype start;
    QStringView text;
};

Line lineAround(const QString &text, qsizetype at)
{
    const qsizetype start = at == 0 ? 0 : text.lastIndexOf(QLatin1Char('\n'), at - 1) + 1;
    qsizetype end = text.indexOf(QLatin1Char('\n'), at);
    if (end < 0)
        end = text.size();
    return {start, QStringView(text).sliced(start, end - start)};
}

bool markedBy(QStringView line, const MarkerSpans::Span &span, const QString &opening, const QString &closing)
{
    return line.sliced(span.wholeStart, span.innerStart - span.wholeStart) == opening &&
           line.sliced(span.innerEnd, span.wholeEnd - span.innerEnd) == closing;
}

// Exactly the markers on each side of `at`: "**|**" is an empty bold pair, "***|***" is not.
bool emptyPairAt(const QString &text, qsizetype at, const QString &opening, const QString &closing)
{
    const qsizetype before = at - opening.size();
    const qsizetype after = at + closing.size();
    if (before < 0 || after > text.size() || opening.isEmpty() || closing.isEmpty())
        return false;
    if (QStringView(text).sliced(before, opening.size()) != opening ||
        QStringView(text).sliced(at, closing.size()) != closing)
        return false;
    return (before == 0 || text[before - 1] != opening.front()) &&
           (after == text.size() || text[after] != closing.back());
}

// The pair of these markers whose text the part [from, to) of a line is, with or without its markers.
const MarkerSpans::Span *pairAround(QStringView line, const QList<MarkerSpans::Span> &spans, qsizetype from,
                                    qsizetype to, const QString &opening, const QString &closing)
{
    for (const MarkerSpans::Span &span : spans) {
        if (markedBy(line, span, opening, closing) && span.wholeStart <= from && from <= span.innerStart &&
            span.innerEnd <= to && to <= span.wholeEnd)
            return &span;
    }
    return nullptr;
}

// A selection over line breaks, where no pair reaches: each line's part is a pair of its own. All
// come off when every part is a pair's text, else each part not yet one is wrapped. The text from
// the first part's text to the last's stays selected.
SelectionEdit toggleLines(const QString &text, Range r, const QString &opening, const QString &closing)
{
    struct Part {
        qsizetype from; // what the edit replaces
        qsizetype to;
        QString replacement;
        qsizetype innerFrom; // the part's text within `replacement`
        qsizetype innerTo;
        bool paired;
    };
    std::vector<Part> parts;
    bool allPaired = true;
    const qsizetype end = r.start + r.count;
    for (qsizetype at = r.start; at < end;) {
        const Line line = lineAround(text, at);
        const qsizetype lineEnd = line.start + line.text.size();
        const qsizetype from = std::max(r.start, line.start) - line.start;
        const qsizetype to = std::min(end, lineEnd) - line.start;
        if (to > from) {
            const QList<MarkerSpans::Span> spans = MarkerSpans::spans(line.text);
            const MarkerSpans::Span *pair = pairAround(line.text, spans, from, to, opening, closing);
            allPaired = allPaired && pair;
            const QString inner =
                pair ? line.text.sliced(pair->innerStart, pair->innerEnd - pair->innerStart).toString()
                     : line.text.sliced(from, to - from).toString();
            Part part{line.start + from, line.start + to, inner, 0, inner.size(), pair != nullptr};
            if (pair) {
                part.from = line.start + pair->wholeStart;
                part.to = line.start + pair->wholeEnd;
            }
            parts.push_back(part);
        }
        at = lineEnd + 1;
    }
    if (parts.empty())
        return SelectionEdit::wrap(text, r.start, r.count, opening, closing);
    SelectionEdit edit{parts.front().from, parts.back().to - parts.front().from, {}, 0};
    for (size_t i = 0; i < parts.size(); ++i) {
        Part &part = parts[i];
        if (i > 0)
            edit.replacement += text.sliced(parts[i - 1].to, part.from - parts[i - 1].to);
        if (!allPaired) {
            // A part that is a pair already keeps it as it stands.
            const QString inner = part.replacement;
            part.replacement =
                part.paired ? text.sliced(part.from, part.to - part.from) : opening + inner + closing;
            part.innerFrom = opening.size();
            part.innerTo = part.innerFrom + inner.size();
        }
        edit.caret = edit.replacement.size() + part.innerTo;
        edit.replacement += part.replacement;
    }
    edit.selected = edit.caret - parts.front().innerFrom; // the first part starts the replacement
    edit.caret += edit.start;
    return edit;
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
        // The text stays selected: a second press finds it wrapped and takes the pair off.
        edit.caret = r.start + opening.size() + r.count;
        edit.selected = r.count;
    } else {
        edit.replacement = opening + closing;
        edit.caret = r.start + opening.size();
    }
    return edit;
}

SelectionEdit SelectionEdit::toggle(const QString &text, qsizetype location, qsizetype length,
                                    const QString &opening, const QString &closing)
{
    const Range r = clamped(text.size(), location, length);
    const Line line = lineAround(text, r.start);
    qsizetype from = r.start - line.start;
    const qsizetype to = from + r.count;
    if (to > line.text.size())
        return toggleLines(text, r, opening, closing);
    const QList<MarkerSpans::Span> spans = MarkerSpans::spans(line.text);
    for (const MarkerSpans::Span &span : spans) {
        if (!markedBy(line.text, span, opening, closing))
            continue;
        if (r.count == 0) {
            // The caret at the pair's text or in one of its markers leaves the pair on that side:
            // what is typed next is not formatted, and no marker is cut in two.
            qsizetype past = -1;
            if (span.innerEnd <= from && from < span.wholeEnd)
                past = span.wholeEnd;
            else if (span.wholeStart < from && from <= span.innerStart)
                past = span.wholeStart;
            if (past >= 0)
                return {line.start + past, 0, {}, line.start + past};
            continue;
        }
        if (span.wholeStart <= from && from <= span.innerStart && span.innerEnd <= to &&
            to <= span.wholeEnd) {
            const QString inner =
                line.text.sliced(span.innerStart, span.innerEnd - span.innerStart).toString();
            const qsizetype start = line.start + span.wholeStart;
            return {start, span.wholeEnd - span.wholeStart, inner, start + inner.size(), inner.size()};
        }
        if (span.innerStart <= from && to <= span.innerEnd) {
            // Part of the pair's text: it comes out of the pair, the rest on either side keeps it.
            QString replacement;
            if (from > span.innerStart)
                replacement = line.text.sliced(span.wholeStart, from - span.wholeStart).toString() + closing;
            const qsizetype caret = line.start + span.wholeStart + replacement.size() + r.count;
            replacement += line.text.sliced(from, r.count);
            if (to < span.innerEnd)
                replacement += opening + line.text.sliced(to, span.wholeEnd - to).toString();
            return {line.start + span.wholeStart, span.wholeEnd - span.wholeStart, replacement, caret,
                    r.count};
        }
    }
    if (r.count == 0 && emptyPairAt(text, r.start, opening, closing)) {
        const qsizetype start = r.start - opening.size();
        return {start, opening.size() + closing.size(), {}, start};
    }
    if (r.count == 0) {
        // New markers never go inside another pair's marker: the caret leaves that pair first.
        // Right inside a pair they nest, read as typed ("*a **b** c*").
        for (bool moved = true; moved;) {
            moved = false;
            for (const MarkerSpans::Span &span : spans) {
                if (span.wholeStart < from && from < span.innerStart) {
                    from = span.wholeStart;
                    moved = true;
                } else if (span.innerEnd < from && from < span.wholeEnd) {
                    from = span.wholeEnd;
                    moved = true;
                }
            }
        }
        return wrap(text, line.start + from, 0, opening, closing);
    }
    return wrap(text, location, length, opening, closing);
}

bool SelectionEdit::addsLiteralMarkers(const QString &text) const
{
    const auto lines = [](const QString &t, qsizetype from, qsizetype to) {
        const qsizetype start = from == 0 ? 0 : t.lastIndexOf(QLatin1Char('\n'), from - 1) + 1;
        qsizetype end = t.indexOf(QLatin1Char('\n'), to);
        if (end < 0)
            end = t.size();
        return QStringView(t).sliced(start, end - start);
    };
    const QString after = QString(text).replace(start, count, replacement);
    return MarkerSpans::literalMarkers(lines(after, start, start + replacement.size())) >
           MarkerSpans::literalMarkers(lines(text, start, start + count));
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

bool applySelectionEdit(QTextEdit &view, const SelectionEdit &edit)
{
    if (view.isReadOnly())
        return false;
    QTextCursor cursor(view.document());
    if (edit.changesText()) {
        cursor.beginEditBlock();
        cursor.setPosition(int(edit.start));
        cursor.setPosition(int(edit.start + edit.count), QTextCursor::KeepAnchor);
        cursor.insertText(edit.replacement);
        cursor.endEditBlock();
    }
    cursor.setPosition(int(edit.caret - edit.selected));
    cursor.setPosition(int(edit.caret), QTextCursor::KeepAnchor);
    view.setTextCursor(cursor);
    return true;
}

bool insertMarkdownLink(QTextEdit &view, const QString &url)
{
    const Range s = selectionOf(view);
    return applySelectionEdit(view, SelectionEdit::link(rawText(*view.document()), s.start, s.count, url));
}

void selectClamped(QTextEdit &view, qsizetype location, qsizetype length)
{
    const Range r = clamped(rawText(*view.document()).size(), location, length);
    QTextCursor cursor(view.document());
    cursor.setPosition(int(r.start));
    cursor.setPosition(int(r.start + r.count), QTextCursor::KeepAnchor);
    view.setTextCursor(cursor);
}
