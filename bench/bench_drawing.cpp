// The drawing block: writing and reading a large drawing's stroke text, and repainting a full canvas.
// Each figure is also given as a ratio to an anchor timed in the same run: splitting the same
// drawing text into its space-separated tokens with QString::split, one string per token. Offscreen; run a
// Release build: bench_drawing [strokes] [points per stroke]
#include "bench_stats.h"
#include "blocks/drawing_block_model.h"
#include "blocks/drawing_canvas.h"
#include "blocks/drawing_stroke.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>

namespace {

constexpr int kRuns = 5;

// Milliseconds, the median of kRuns.
double timed(const std::function<void()> &work)
{
    std::vector<double> runs;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        runs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    return median(runs);
}

// Freehand-like strokes across a canvas `width` by `height`: small steps in a drifting direction.
std::vector<DrawingStroke> scribbles(int strokes, int points, double width, double height)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    const auto &palette = DrawingBlockModel::palette();
    std::vector<DrawingStroke> out;
    out.reserve(size_t(strokes));
    for (int s = 0; s < strokes; ++s) {
        DrawingStroke stroke;
        stroke.color = palette[size_t(s) % palette.size()];
        stroke.width = 1 + 11 * unit(random);
        QPointF at(unit(random) * width, unit(random) * height);
        double heading = unit(random) * 6.283;
        for (int p = 0; p < points; ++p) {
            stroke.points.push_back(at);
            heading += (unit(random) - 0.5) * 0.6;
            at += QPointF(std::cos(heading) * 3, std::sin(heading) * 3);
            at = QPointF(std::clamp(at.x(), 0.0, width), std::clamp(at.y(), 0.0, height));
        }
        out.push_back(std::move(stroke));
    }
    return out;
}

void report(const char *what, double ms, double anchor)
{
    std::printf("  %-48s %9.2f ms  %8.2f x anchor\n", what, ms, ms / anchor);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int strokeCount = argc > 1 ? QByteArray(argv[1]).toInt() : 5000;
    const int pointCount = argc > 2 ? QByteArray(argv[2]).toInt() : 200;

    // The format: the whole drawing written and read, as every commit and every showing does.
    const std::vector<DrawingStroke> drawing = scribbles(strokeCount, pointCount, 700, 800);
    const QString text = DrawingBlock::serializeStrokes(drawing);
    qint64 sink = 0;
    const double anchor = timed([&] { sink += text.split(QLatin1Char(' ')).size(); });
    const double write = timed([&] { sink += DrawingBlock::serializeStrokes(drawing).size(); });
    const double read = timed([&] { sink += qint64(DrawingBlock::parseStrokes(text).size()); });
    if (DrawingBlock::parseStrokes(text).size() != drawing.size())
        return 1;
    std::printf("drawing of %d strokes x %d points, %.1f MB of text (medians of %d)\n", strokeCount,
                pointCount, double(text.size()) / 1e6, kRuns);
    std::printf("  %-48s %9.2f ms  %8.2f x anchor\n", "anchor: QString::split of the text on spaces", anchor,
                1.0);
    report("write (serializeStrokes)", write, anchor);
    report("read (parseStrokes)", read, anchor);

    // The canvas: 1,000 strokes at 800 points high, as the page paints it.
    const std::vector<DrawingStroke> canvasStrokes = scribbles(1000, pointCount, 700, 800);
    DrawingBlockModel model({}, {});
    model.loadFromContent(DrawingBlock::serializeStrokes(canvasStrokes), 800);
    DrawingCanvas canvas(model);
    canvas.resize(700, 800);
    QImage target(canvas.size(), QImage::Format_ARGB32_Premultiplied);
    const auto paint = [&] {
        target.fill(Qt::white);
        canvas.render(&target);
    };
    std::vector<double> builds;
    for (int i = 0; i < kRuns; ++i) {
        model.loadFromContent(DrawingBlock::serializeStrokes(canvasStrokes), 800); // a fresh picture
        QElapsedTimer t;
        t.start();
        paint();
        builds.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    const double repaint = timed(paint);
    // A stroke of 500 points being drawn over the finished ones, as every mouse move repaints it.
    for (int i = 0; i < 500; ++i)
        model.dragChanged(QPointF(100 + i, 100 + 200 * std::sin(i / 40.0)));
    const double drawingRepaint = timed(paint);
    model.dragEnded();
    const double afterStroke = timed(paint);
    std::printf("canvas 700 x 800 with 1000 strokes x %d points (medians of %d)\n", pointCount, kRuns);
    report("first paint (the picture drawn from every stroke)", median(builds), anchor);
    report("repaint", repaint, anchor);
    report("repaint while a 500-point stroke is drawn", drawingRepaint, anchor);
    report("repaint after that stroke is finished", afterStroke, anchor);
    std::printf("  picture rebuilds: %d (one per fresh load)\n", canvas.cacheRebuilds());
    return sink == 0 ? 1 : 0;
}
