#include "blocks/drawing_stroke.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The drawing's stroke reader over any stored text: every stroke it gives has points within the
// limit and a width the writer can write, and what the writer makes of them reads back the same.
namespace {

[[noreturn]] void finding(const char *what, const QString &text)
{
    std::fprintf(stderr, "finding: %s: %s\n", what, qPrintable(text));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::vector<DrawingStroke> strokes = DrawingBlock::parseStrokes(text);
    for (const DrawingStroke &stroke : strokes) {
        if (stroke.points.empty())
            finding("a stroke without points", text);
        for (const QPointF &p : stroke.points) {
            if (!(std::fabs(p.x()) < 100000 && std::fabs(p.y()) < 100000))
                finding("a point beyond the limit", text);
        }
        if (!DrawingBlock::wholePart(stroke.width))
            finding("a width with no whole-number form", text);
        (void)parseHexColor(stroke.color);
    }
    const QString written = DrawingBlock::serializeStrokes(strokes);
    const std::vector<DrawingStroke> reread = DrawingBlock::parseStrokes(written);
    if (reread.size() != strokes.size())
        finding("the written text reads back as another number of strokes", text);
    if (DrawingBlock::serializeStrokes(reread) != written)
        finding("the written text does not read back the same", text);
    return 0;
}
