#include "editor/marker_spans.h"

#include <QRegularExpression>

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

QList<MarkerSpans::Styles> MarkerSpans::styles(QStringView line)
{
    QList<Styles> styles(line.size());
    if (line.isEmpty())
        return styles;
    for (const Pass &pass : passes()) {
        if (!pass.pattern.isValid())
            continue;
        auto it = pass.pattern.globalMatch(line);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            const qsizetype wholeStart = m.capturedStart(0);
            const qsizetype wholeEnd = m.capturedEnd(0);
            const qsizetype innerStart = m.capturedStart(1);
            const qsizetype innerEnd = m.capturedEnd(1);
            mark(styles, innerStart, innerEnd, pass.style);
            // For a link the trailing part is "](", the address and ")": only the label shows.
            mark(styles, wholeStart, innerStart, HiddenMarker);
            mark(styles, innerEnd, wholeEnd, HiddenMarker);
        }
    }
    return styles;
}
