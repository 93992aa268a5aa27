// A 2,000-block page in the large state (200,000 blocks): what opening it and typing 1,000 keys into
// it cost the GUI thread, each key with the commit, refresh, flush and save it causes, against one
// QTextDocument laid out with the same page's text in the same run. Offscreen; run a Release build:
// bench_page_scale [rounds = 3]
#include "bench_long_page.h"
#include "bench_state.h"
#include "bench_stats.h"
#include "blocks/block_content.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "store/local_store.h"
#include "ui/app_context.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLayout>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kPageBlocks = BenchLongPage::kBlocks;
constexpr double kKeystrokeBudget = 16;
constexpr int kKeys = 1000;
// The row's commit, the page's flush and the store's save each run out well inside a key's gap, so
// every key pays all three.
constexpr std::chrono::milliseconds kKeyGap{40};
constexpr std::chrono::milliseconds kKeyTimers{1};
constexpr std::chrono::milliseconds kKeySave{1};
constexpr double kFirstFrameBudget = 100;
constexpr double kInteractiveBudget = 300;

double ms(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// The longest the event loop goes without running while it spins (a real event loop: QTest's waits
// sleep between their passes) until `done` holds or the time is up.
double longestStall(int forMs, const std::function<bool()> &done = {})
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    double longest = 0;
    QEventLoop loop;
    QTimer monitor;
    monitor.setTimerType(Qt::PreciseTimer);
    monitor.setInterval(1);
    QObject::connect(&monitor, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, double(now - last) / 1e6);
        last = now;
        if ((done && done()) || clock.elapsed() >= forMs)
            loop.quit();
    });
    monitor.start();
    loop.exec();
    return longest;
}

struct Open {
    double firstFrame = 0;
    double interactive = 0;
};

Open openPage(const AppContext &context, const QString &pageLocalID, PageView **out)
{
    Open o;
    QElapsedTimer t;
    t.start();
    PageViewModel::Timing timing;
    timing.blockFlush = kKeyTimers;
    timing.rowText = kKeyTimers;
    auto *view = new PageView(context, pageLocalID, nullptr, timing);
    view->resize(1000, 800);
    view->show();
    view->scrollArea()->widget()->layout()->activate();
    (void)view->grab(); // the first frame painted
    o.firstFrame = ms(t);
    if (!QTest::qWaitFor([view] { return view->isLaidOut(); }, 600000))
        qFatal("the page never laid out");
    // Interactive: the rows settled and the event loop answers a zero timer at once.
    for (int stable = 0, last = -1; stable < 3;) {
        QCoreApplication::processEvents();
        view->scrollArea()->widget()->layout()->activate();
        const int height = view->scrollArea()->widget()->height();
        stable = height == last ? stable + 1 : 0;
        last = height;
    }
    o.interactive = ms(t);
    *out = view;
    return o;
}

// Times the GUI thread spends delivering events, counting only the outermost delivery of each.
class TimedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        // Named before delivery: a receiver may be gone after it (a deferred delete).
        const char *name = nullptr;
        const char *parentName = nullptr;
        if (m_depth++ == 0) {
            m_openSince = m_clock.nsecsElapsed();
            name = receiver->metaObject()->className();
            if (const QObject *parent = receiver->parent())
                parentName = parent->metaObject()->className();
        }
        const int type = event->type();
        const bool done = QApplication::notify(receiver, event);
        if (--m_depth == 0) {
            const qint64 took = m_clock.nsecsElapsed() - m_openSince;
            m_busy += took;
            if (took > m_longestDelivery) {
                m_longestDelivery = took;
                m_longestWhat = describe(name, parentName, type);
            }
        }
        return done;
    }
    // The longest single delivery since the last call, and what received it.
    QString takeLongestDelivery(double *ms)
    {
        *ms = double(std::exchange(m_longestDelivery, 0)) / 1e6;
        return std::exchange(m_longestWhat, QString());
    }
    // Milliseconds of delivery so far, the one under way included.
    double busyMs() const
    {
        return double(m_busy + (m_depth > 0 ? m_clock.nsecsElapsed() - m_openSince : 0)) / 1e6;
    }

private:
    QElapsedTimer m_clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    static QString describe(const char *name, const char *parentName, int type)
    {
        QString what = QString::fromLatin1(name);
        if (parentName)
            what += QLatin1Char('<') + QString::fromLatin1(parentName);
        return what + QLatin1Char('/') + QString::number(type);
    }

    int m_depth = 0;
    qint64 m_openSince = 0;
    qint64 m_busy = 0;
    qint64 m_longestDelivery = 0;
    QString m_longestWhat;
};

// GUI-thread time between one key and the next: its processor time, and the wall-clock time spent
// delivering events.
class KeyMeter
{
public:
    explicit KeyMeter(TimedApplication &app)
        : m_app(app)
    {
    }
    // A key is about to be typed: the time since the last one is that key's.
    void nextKey()
    {
        const double cpu = threadCpuMs();
        const double busy = m_app.busyMs();
        double longest = 0;
        QString what = m_app.takeLongestDelivery(&longest);
        if (m_started) {
            cpuPerKey.push_back(cpu - m_cpuAt);
            wallPerKey.push_back(busy - m_busyAt);
            longestDelivery.push_back(QStringLiteral("%1 %2 ms").arg(what).arg(longest, 0, 'f', 1));
        }
        m_started = true;
        m_cpuAt = cpu;
        m_busyAt = busy;
    }

    std::vector<double> cpuPerKey, wallPerKey;
    std::vector<QString> longestDelivery;

private:
    TimedApplication &m_app;
    bool m_started = false;
    double m_cpuAt = 0;
    double m_busyAt = 0;
};

double longestOf(const std::vector<double> &v)
{
    return *std::max_element(v.begin(), v.end());
}

double percentile99(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * 99 / 100)];
}

// The slowest keys of a round by one measure, with their place in it (so a pattern, the first key or
// every n-th, shows) and the longest single event delivery among their work.
void printSlowest(const char *by, const std::vector<double> &measure, const std::vector<double> &wall,
                  const std::vector<double> &cpu, const std::vector<QString> &what)
{
    std::vector<size_t> order(measure.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const size_t shown = std::min<size_t>(5, order.size());
    std::partial_sort(order.begin(), order.begin() + ptrdiff_t(shown), order.end(),
                      [&](size_t a, size_t b) { return measure[a] > measure[b]; });
    std::printf("  slowest keys by %s (delivering/processor, the longest delivery):\n", by);
    for (size_t i = 0; i < shown; ++i)
        std::printf("    #%zu %.1f/%.1f ms (%s)\n", order[i], wall[order[i]], cpu[order[i]],
                    qPrintable(what[order[i]]));
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // rounds show as they end, also into a pipe
    const int rounds = argc > 1 ? std::max(3, QByteArray(argv[1]).toInt()) : 3;

    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-page-scale-XXXXXX")));
    std::printf("generating %d pages, %d blocks and a page of %d blocks...\n", BenchState::kPages,
                BenchState::kBlocks, kPageBlocks);
    const QString pageLocalID = BenchLongPage::seed(dir.path());

    std::vector<double> anchors, anchorCpus, firstFrames, interactives, keyCpus, keyWalls, longestCpus,
        longestWalls, p99Walls;
    for (int round = 0; round < rounds; ++round) {
        // Each round loads afresh: nothing a first key pays is built before it.
        LocalStore store(dir.path(), kKeySave);
        AppContext context;
        context.store = &store;
        const QString pageText = BenchLongPage::text(store, pageLocalID);
        const double cpuBefore = threadCpuMs();
        anchors.push_back(BenchLongPage::documentAnchor(pageText));
        anchorCpus.push_back(threadCpuMs() - cpuBefore);

        PageView *view = nullptr;
        const Open o = openPage(context, pageLocalID, &view);
        firstFrames.push_back(o.firstFrame);
        interactives.push_back(o.interactive);

        // A block in the middle of the page, scrolled to and typed into.
        const QString target = view->model().blocks().topLevelBlocks()[size_t(kPageBlocks / 2)].localID;
        BlockRow *row = view->row(target);
        if (!row || !row->focusEditor(BlockRow::Caret::end))
            qFatal("no row to type into");
        // In the middle of the view, with rows below it to move when its text wraps.
        view->scrollArea()->ensureWidgetVisible(row, 0, view->scrollArea()->viewport()->height() / 2);
        (void)longestStall(200);

        // Keys far enough apart that each one's commit, refresh, flush and save end before the next.
        KeyMeter meter(app);
        int typed = 0;
        QTimer typist;
        typist.setTimerType(Qt::PreciseTimer);
        typist.setInterval(kKeyGap);
        QEventLoop typing;
        QObject::connect(&typist, &QTimer::timeout, [&] {
            meter.nextKey();
            if (typed == kKeys) {
                typing.quit();
                return;
            }
            QTest::keyClick(row->richEditor(),
                            typed % 6 == 5 ? Qt::Key_Space : Qt::Key(Qt::Key_A + typed % 26));
            ++typed;
        });
        typist.start();
        typing.exec();
        typist.stop();

        keyCpus.push_back(median(meter.cpuPerKey));
        keyWalls.push_back(median(meter.wallPerKey));
        longestCpus.push_back(longestOf(meter.cpuPerKey));
        longestWalls.push_back(longestOf(meter.wallPerKey));
        p99Walls.push_back(percentile99(meter.wallPerKey));
        std::printf(
            "round %d: anchor %.1f ms (%.1f ms processor); first frame %.1f ms, interactive %.1f ms; "
            "a key: median %.2f ms processor, %.2f ms delivering events; longest %.2f ms processor, %.2f ms "
            "delivering; 99th percentile %.2f ms delivering\n",
            round + 1, anchors.back(), anchorCpus.back(), o.firstFrame, o.interactive, keyCpus.back(),
            keyWalls.back(), longestCpus.back(), longestWalls.back(), p99Walls.back());
        printSlowest("delivering", meter.wallPerKey, meter.wallPerKey, meter.cpuPerKey,
                     meter.longestDelivery);
        printSlowest("processor", meter.cpuPerKey, meter.wallPerKey, meter.cpuPerKey, meter.longestDelivery);
        delete view;
        store.save();
    }

    const double anchor = median(anchors);
    const double anchorCpu = median(anchorCpus);
    const auto line = [&](const char *what, double value, double budget) {
        if (budget > 0)
            std::printf("%-58s %9.2f ms  %7.3fx anchor  %5.2fx budget (%g ms)\n", what, value, value / anchor,
                        value / budget, budget);
        else
            std::printf("%-58s %9.2f ms  %7.3fx anchor\n", what, value, value / anchor);
    };
    const auto cpuLine = [&](const char *what, double value) {
        std::printf("%-58s %9.2f ms  %7.3fx anchor's processor time\n", what, value, value / anchorCpu);
    };
    std::printf("\nmedians of %d rounds (a round: a fresh load, the page opened, %d keys %d ms apart, each "
                "committed, flushed and saved before the next)\n",
                rounds, kKeys, int(kKeyGap.count()));
    line("anchor: QTextDocument with the page's text, laid out", anchor, 0);
    cpuLine("  its processor time", anchorCpu);
    line("open: first frame", median(firstFrames), kFirstFrameBudget);
    line("open: interactive", median(interactives), kInteractiveBudget);
    cpuLine("a key: median GUI processor time", median(keyCpus));
    line("a key: median GUI time delivering events", median(keyWalls), kKeystrokeBudget);
    cpuLine("the longest key: GUI processor time", median(longestCpus));
    line("the longest key: GUI time delivering events", median(longestWalls), kKeystrokeBudget);
    line("99th percentile key: GUI time delivering events", median(p99Walls), kKeystrokeBudget);
    double load[3] = {};
    if (getloadavg(load, 3) == 3)
        std::printf("load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    std::printf("figures: anchor_ms=%.3f key_median_x=%.4f key_p99_x=%.4f key_longest_x=%.4f "
                "key_longest_cpu_x=%.4f open_interactive_x=%.3f\n",
                anchor, median(keyWalls) / anchor, median(p99Walls) / anchor, median(longestWalls) / anchor,
                median(longestCpus) / anchorCpu, median(interactives) / anchor);
    return 0;
}
