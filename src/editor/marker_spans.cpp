#include "editor/marker_spans.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <vector>

namespace {

struct Pass {
    QRegularExpression pattern;
    MarkerSpans::Style style;
};

// Compiled once: they run on every keystroke. Unicode properties give "\s" its full meaning. Bold
// and italic are paired by `starSpans` instead, between the code pass and these.
const std::array<Pass, 4> &passes()
{
    static const auto options = QRegularExpression::UseUnicodePropertiesOption;
    static const std::array<Pass, 4> all{{
        {QRegularExpression(QStringLiteral("`([^`\\n]+)`"), options), MarkerSpans::Code},
        {QRegularExpression(QStringLiteral("__([^_\\n]+?)__"), options), MarkerSpans::Underline},
        {QRegularExpression(QStringLiteral("~~([^~\\n]+?)~~"), options), MarkerSpans::Strikethrough},
        {QRegularExpression(QStringLiteral("\\[([^\\]\\n]+)\\]\\((https?://[^\\)\\s]+)\\)"), options),
         MarkerSpans::Link},
    }};
    return all;
}

void addMatches(QList<MarkerSpans::Span> &found, const Pass &pass, QStringView line)
{
    if (!pass.pattern.isValid())
        return;
    auto it = pass.pattern.globalMatch(line);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        found.append(
            {pass.style, m.capturedStart(0), m.capturedStart(1), m.capturedEnd(1), m.capturedEnd(0)});
    }
}

// Runs of one and two stars are italic and bold markers that never pair with each other, so "*a
// **b** c*" nests and "**q***z*" is bold then italic; a run of three may give one of each. Runs of
// two and four are bold markers alike ("**a****b**" is two bold pairs side by side).
bool pairable(qsizetype opener, qsizetype closer)
{
    const bool threes = (opener + closer) % 3 == 0;
    return !threes || opener % 3 == 0 || (opener % 2 == 0 && closer % 2 == 0);
}

// Bold and italic pairs of a line, nested as they were typed: each run of stars closes the nearest
// open run it pairs with (from the inside out, two stars at a time where both have two), and what
// is left of it opens. Open runs passed over, and runs never closed, stay as typed.
QList<MarkerSpans::Span> starSpans(QStringView line)
{
    struct Open {
        qsizetype from; // the stars still open end at from + count
        qsizetype count;
        qsizetype length; // the whole run's
    };
    QList<MarkerSpans::Span> bold;
    QList<MarkerSpans::Span> italic;
    std::vector<Open> open;
    // Whether runs pair depends on their lengths modulo 6 alone: the open runs below bottom[L % 6]
    // were found to pair with no run of length L, so a line of many runs is read in linear time.
    std::array<size_t, 6> bottom{};
    const auto shrinkTo = [&](size_t size) {
        open.resize(size);
        for (size_t &b : bottom)
            b = std::min(b, size);
    };
    for (qsizetype i = 0; i < line.size();) {
        if (line[i] != QLatin1Char('*')) {
            if (line[i] == QLatin1Char('\n'))
                shrinkTo(0); // no pair spans a line break
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < line.size() && line[end] == QLatin1Char('*'))
            ++end;
        const qsizetype length = end - i;
        size_t &lowest = bottom[size_t(length % 6)];
        qsizetype at = i;
        while (at < end) {
            const auto searched = open.rend() - qsizetype(std::min(lowest, open.size()));
            const auto opener = std::find_if(open.rbegin(), searched,
                                             [&](const Open &o) { return pairable(o.length, length); });
            if (opener == searched) {
                lowest = open.size();
                break;
            }
            shrinkTo(size_t(opener.base() - open.begin()));
            Open &o = open.back();
            const qsizetype use = end - at >= 2 && o.count >= 2 ? 2 : 1;
            const qsizetype innerStart = o.from + o.count;
            (use == 2 ? bold : italic)
                .append({use == 2 ? MarkerSpans::Bold : MarkerSpans::Italic, innerStart - use, innerStart, at,
                         at + use});
            o.count -= use;
            if (o.count == 0)
                shrinkTo(open.size() - 1);
            at += use;
        }
        if (at < end)
            open.push_back({at, end - at, length});
        i = end;
    }
    return bold + italic;
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
    addMatches(found, passes()[0], line);
    found += starSpans(line);
    for (size_t i = 1; i < passes().size(); ++i)
        addMatches(found, passes()[i], line);
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

qsizetype MarkerSpans::literalMarkers(QStringView text)
{
    qsizetype count = 0;
    for (const QStringView line : text.tokenize(QLatin1Char('\n'))) {
        const QList<Styles> drawn = styles(line);
        for (qsizetype i = 0; i < line.size(); ++i) {
            const char16_t c = line[i].unicode();
            const bool marker = c == u'*' || c == u'_' || c == u'~' || c == u'`';
            if (marker && !(drawn[i] & HiddenMarker))
                ++count;
        }
    }
    return count;
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
