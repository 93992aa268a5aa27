// The 2,000-block page in the large state (200,000 blocks), its scroll bar's handle dragged from the
// top to the bottom as a pointer drags it: how long after each move of the drag the window has drawn
// it, against one QTextDocument laid out with the same page's text in the same run, and how far the
// view ends from the page's end. Offscreen; run a Release build: bench_page_scroll [rounds = 3]
#include "bench_long_page.h"
#include "bench_state.h"
#include "bench_stats.h"
#include "editor/page_view.h"
#include "store/local_store.h"
#include "support/editor_steps.h"
#include "ui/app_context.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kMoves = 60;
// A move a frame: a pointer dragging at a steady pace.
constexpr std::chrono::milliseconds kMoveGap{16};
constexpr double kFrameBudget = 16;
// The goals, as ratios to the anchor.
constexpr double kMedianGoal = 0.05;
constexpr double kLongestGoal = 0.15;

double msSince(const QElapsedTimer &clock, qint64 at)
{
    return double(clock.nsecsElapsed() - at) / 1e6;
}

// Notes when a window has drawn (the end of each update request delivered to it), and the longest
// the GUI thread spent delivering one event, counting only the outermost delivery.
class DrawnApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        // The top-level widget paints on it; a window system that paces the frames asks its window.
        const bool drawing = event->type() == QEvent::UpdateRequest && watched &&
                             (receiver == watched || receiver == watched->windowHandle());
        const qint64 start = m_depth++ == 0 ? clock.nsecsElapsed() : -1;
        // Named before delivery: a receiver may be gone after it (a deferred delete).
        const QString what = start >= 0 && watched ? QStringLiteral("%1/%2")
                                                         .arg(QLatin1String(receiver->metaObject()->className()))
                                                         .arg(int(event->type()))
                                                   : QString();
        const bool done = QApplication::notify(receiver, event);
        --m_depth;
        if (drawing)
            lastDrawn = clock.nsecsElapsed();
        if (start >= 0 && watched) {
            const double took = double(clock.nsecsElapsed() - start) / 1e6;
            if (took > longestDelivery) {
                longestDelivery = took;
                longestWhat = what;
            }
        }
        return done;
    }

    QWidget *watched = nullptr;
    qint64 lastDrawn = -1;
    double longestDelivery = 0;
    QString longestWhat; // its receiver's class and the event's type
    QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();

private:
    int m_depth = 0;
};

struct Drag {
    std::vector<double> moveToDrawn;
    double longestDelivery = 0; // while the handle was held
    QString longestWhat;
    int shortOfEnd = 0;
};

// Presses the handle and drags it to the bar's bottom in even moves a frame apart, each move
// delivered as the window system delivers it; then lets the view settle.
Drag drag(DrawnApplication &app, PageView &view)
{
    QScrollBar *bar = view.scrollArea()->verticalScrollBar();
    QWindow *window = view.windowHandle();
    app.watched = &view;
    app.longestDelivery = 0;
    const QRect handle = EditorSteps::scrollBarHandle(bar);
    const QPoint from = bar->mapTo(&view, handle.center());
    const QPoint to = bar->mapTo(&view, QPoint(handle.center().x(), bar->height() - 1));
    const auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        qt_handleMouseEvent(window, at, window->mapToGlobal(at), buttons,
                            type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, type, Qt::NoModifier,
                            int(app.clock.elapsed()));
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton);

    Drag out;
    std::vector<qint64> pending; // moves not drawn yet, by when they were sent
    int move = 0;
    QEventLoop loop;
    QTimer pointer;
    pointer.setTimerType(Qt::PreciseTimer);
    pointer.setInterval(kMoveGap);
    QTimer watch; // notes the draws as they come, between the moves
    watch.setTimerType(Qt::PreciseTimer);
    watch.setInterval(0);
    qint64 seen = app.lastDrawn;
    const auto noteDraws = [&] {
        if (app.lastDrawn == seen)
            return;
        seen = app.lastDrawn;
        for (const qint64 at : pending)
            out.moveToDrawn.push_back(double(seen - at) / 1e6);
        pending.clear();
    };
    QObject::connect(&watch, &QTimer::timeout, noteDraws);
    QObject::connect(&pointer, &QTimer::timeout, [&] {
        noteDraws();
        if (move == kMoves) {
            if (pending.empty() || msSince(app.clock, pending.front()) > 1000)
                loop.quit();
            return;
        }
        ++move;
        const int before = bar->value();
        const qint64 at = app.clock.nsecsElapsed();
        send(QEvent::MouseMove, from + (to - from) * move / kMoves, Qt::LeftButton);
        if (bar->value() != before)
            pending.push_back(at);
    });
    pointer.start();
    watch.start();
    loop.exec();
    send(QEvent::MouseButtonRelease, to, Qt::NoButton);
    out.longestDelivery = app.longestDelivery;
    out.longestWhat = app.longestWhat;
    app.watched = nullptr;

    // Settled: nothing left to make, and the layout still for a while.
    QTest::qWaitFor([&] { return view.isLaidOut(); }, 60000);
    for (int still = 0, last = -1; still < 10; QTest::qWait(10)) {
        const int height = view.scrollArea()->widget()->height();
        still = height == last && view.isLaidOut() ? still + 1 : 0;
        last = height;
    }
    out.shortOfEnd = bar->maximum() - bar->value();
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    DrawnApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int rounds = argc > 1 ? std::max(3, QByteArray(argv[1]).toInt()) : 3;

    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-page-scroll-XXXXXX")));
    std::printf("generating %d pages, %d blocks and a page of %d blocks...\n", BenchState::kPages,
                BenchState::kBlocks, BenchLongPage::kBlocks);
    const QString pageLocalID = BenchLongPage::seed(dir.path());

    std::vector<double> anchors, medians, longests, deliveries;
    std::vector<int> shorts, overBudget;
    for (int round = 0; round < rounds; ++round) {
        LocalStore store(dir.path());
        AppContext context;
        context.store = &store;
        anchors.push_back(BenchLongPage::documentAnchor(BenchLongPage::text(store, pageLocalID)));

        PageView view(context, pageLocalID);
        view.resize(1000, 800);
        view.show();
        if (!QTest::qWaitForWindowExposed(&view) || !QTest::qWaitFor([&] { return view.isLaidOut(); }, 600000))
            qFatal("the page never showed");
        QTest::qWait(200);

        const Drag d = drag(app, view);
        if (d.moveToDrawn.empty())
            qFatal("the drag moved nothing (the bar %d..%d at %d)", view.scrollArea()->verticalScrollBar()->minimum(),
                   view.scrollArea()->verticalScrollBar()->maximum(), view.scrollArea()->verticalScrollBar()->value());
        medians.push_back(median(d.moveToDrawn));
        longests.push_back(*std::max_element(d.moveToDrawn.begin(), d.moveToDrawn.end()));
        overBudget.push_back(int(std::count_if(d.moveToDrawn.begin(), d.moveToDrawn.end(),
                                               [](double ms) { return ms > kFrameBudget; })));
        shorts.push_back(d.shortOfEnd);
        deliveries.push_back(d.longestDelivery);
        std::printf("round %d: anchor %.1f ms; %zu moves drawn: median %.2f ms, longest %.2f ms, %d over %g ms; "
                    "the longest event while dragging %.2f ms (%s); %d rows made; the view ends %d px short of "
                    "the page's end\n",
                    round + 1, anchors.back(), d.moveToDrawn.size(), medians.back(), longests.back(),
                    overBudget.back(), kFrameBudget, d.longestDelivery, qPrintable(d.longestWhat),
                    int(view.topLevelList()->rows().size()),
                    shorts.back());
    }

    const double anchor = median(anchors);
    std::printf("\nmedians of %d rounds (a round: a fresh load, the page opened, its scroll bar's handle dragged "
                "to the bottom in %d moves %d ms apart)\n",
                rounds, kMoves, int(kMoveGap.count()));
    std::printf("%-52s %9.2f ms\n", "anchor: QTextDocument with the page's text, laid out", anchor);
    std::printf("%-52s %9.2f ms  %7.3fx anchor (goal %.2fx)\n", "a move to its drawing: median", median(medians),
                median(medians) / anchor, kMedianGoal);
    std::printf("%-52s %9.2f ms  %7.3fx anchor (goal %.2fx)\n", "a move to its drawing: longest", median(longests),
                median(longests) / anchor, kLongestGoal);
    std::printf("%-52s %9.2f ms  %7.3fx anchor\n", "the longest event delivered while dragging",
                median(deliveries), median(deliveries) / anchor);
    std::vector<double> shortPx(shorts.begin(), shorts.end());
    std::printf("%-52s %9.0f px (the longest %d px)\n", "the view short of the page's end", median(shortPx),
                *std::max_element(shorts.begin(), shorts.end()));
    double load[3] = {};
    if (getloadavg(load, 3) == 3)
        std::printf("load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    std::printf("figures: anchor_ms=%.3f move_median_x=%.4f move_longest_x=%.4f short_px=%.0f\n", anchor,
                median(medians) / anchor, median(longests) / anchor, median(shortPx));
    return 0;
}
