#include "editor/marker_spans.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The marker reader over any block text: one style per UTF-16 unit, spans inside the line and in
// order, and a split that cuts the text into two parts.
namespace {

[[noreturn]] void finding(const char *what, const QString &line)
{
    std::fprintf(stderr, "finding: %s: %s\n", what, qPrintable(line));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks where to split.
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (MarkerSpans::styles(line).size() != line.size())
            finding("one style per unit", line);
        for (const MarkerSpans::Span &s : MarkerSpans::spans(line)) {
            if (!(0 <= s.wholeStart && s.wholeStart <= s.innerStart && s.innerStart <= s.innerEnd &&
                  s.innerEnd <= s.wholeEnd && s.wholeEnd <= line.size()))
                finding("span out of order or out of the line", line);
        }
    }
    const qsizetype at = text.isEmpty() ? 0 : qsizetype(data[0]) % (text.size() + 1);
    const MarkerSpans::Split split = MarkerSpans::split(text, at);
    if (split.head.size() + split.tail.size() < text.size())
        finding("split lost characters", text);
    return 0;
}
