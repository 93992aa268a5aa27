#include "editor/marker_spans.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>

namespace {

struct Pass {
    QRegularExpression pattern;
    MarkerSpans::Style style;
};

// Compiled once: they run on every keystroke. Unicode properties give "\s" its full meaning.
const std::array<Pass, 6> &passes()
{
    static const auto options = QRegularExpression::UseUnicodePropertiesOption;
    static const std::array<Pass, 6> all{{
        {QRegularExpression(QStringLiteral("`([^`\\n]+)`"), options), MarkerSpans::Code},
        {QRegularExpression(QStringLiteral("\\*\\*([^*\\n]+?)\\*\\*"), options), MarkerSpans::Bold},
        {QRegularExpression(QStringLiteral("(?<!\\*)\\*(?!\\*)([^*\\n]+?)(?<!\\*)\\*(?!\\*)"), options),
         MarkerSpans::Italic},
        {QRegularExpression(QStringLiteral("__([^_\\n]+?)__"), options), MarkerSpans::Underline},
        {QRegularExpression(QStringLiteral("~~([^~\\n]+?)~~"), options), MarkerSpans::Strikethrough},
        {QRegularExpression(QStringLiteral("\\[([^\\]\\n]+)\\]\\((https?://[^\\)\\s]+)\\)"), options),
         MarkerSpans::Link},
    }};
    return all;
}

void mark(QList<MarkerSpans::Styles> &styles, qsizetype from, qsizetype to, MarkerSpans::Style style)
{
    for (qsizetype i = from; i < to; ++i)
        styles[i] |= style;
}

} // namespace

QList<MarkerSpans::Span> MarkerSpans::spans(QStringView line)
{
    QList<Span> found;
    if (line.isEmpty())
        return found;
    for (const Pass &pass : passes()) {
        if (!pass.pattern.isValid())
            continue;
        auto it = pass.pattern.globalMatch(line);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            found.append(
                {pass.style, m.capturedStart(0), m.capturedStart(1), m.capturedEnd(1), m.capturedEnd(0)});
        }
    }
    return found;
}

QList<MarkerSpans::Styles> MarkerSpans::styles(QStringView line)
{
    QList<Styles> styles(line.size());
    for (const Span &span : spans(line)) {
        mark(styles, span.innerStart, span.innerEnd, span.style);
        // For a link the trailing part is "](", the address and ")": only the label shows.
        mark(styles, span.wholeStart, span.innerStart, HiddenMarker);
        mark(styles, span.innerEnd, span.wholeEnd, HiddenMarker);
    }
    return styles;
}

MarkerSpans::Split MarkerSpans::split(QStringView text, qsizetype at)
{
    at = std::clamp<qsizetype>(at, 0, text.size());
    // Pairs never span a line break: only the caret's line matters.
    const qsizetype lineStart = at == 0 ? 0 : text.lastIndexOf(QLatin1Char('\n'), at - 1) + 1;
    qsizetype lineEnd = text.indexOf(QLatin1Char('\n'), at);
    if (lineEnd < 0)
        lineEnd = text.size();
    const QStringView line = text.sliced(lineStart, lineEnd - lineStart);
    const QList<Span> found = spans(line);

    // A cut in a marker or right at the edge of a pair's text would leave an empty pair behind:
    // it moves before or after the whole pair, as often as nesting asks.
    qsizetype p = at - lineStart;
    for (bool moved = true; moved;) {
        moved = false;
        for (const Span &span : found) {
            if (p <= span.wholeStart || p >= span.wholeEnd)
                continue;
            if (p <= span.innerStart) {
                p = span.wholeStart;
                moved = true;
            } else if (p >= span.innerEnd) {
                p = span.wholeEnd;
                moved = true;
            }
        }
    }

    QList<Span> open;
    for (const Span &span : found) {
        if (span.innerStart < p && p < span.innerEnd)
            open.append(span);
    }
    // Outer pairs open first and close last.
    std::sort(open.begin(), open.end(), [](const Span &a, const Span &b) {
        return a.wholeStart != b.wholeStart ? a.wholeStart < b.wholeStart : a.wholeEnd > b.wholeEnd;
    });
    Split result;
    result.head = text.first(lineStart + p).toString();
    for (auto span = open.crbegin(); span != open.crend(); ++span)
        result.head += line.sliced(span->innerEnd, span->wholeEnd - span->innerEnd);
    for (const Span &span : open)
        result.tail += line.sliced(span.wholeStart, span.innerStart - span.wholeStart);
    result.tail += text.sliced(lineStart + p);
    return result;
}
