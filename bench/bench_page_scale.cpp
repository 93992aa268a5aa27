// A 2,000-block page in the large state (200,000 blocks): what opening it and typing into it cost,
// against one QTextDocument laid out with the same page's text in the same run. Offscreen; run a
// Release build: bench_page_scale [rounds = 3]
#include "bench_state.h"
#include "bench_stats.h"
#include "blocks/block_content.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "store/local_store.h"
#include "ui/app_context.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLayout>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kPageBlocks = 2000;
constexpr qint64 kPageServerID = 99000;
constexpr double kKeystrokeBudget = 16;
constexpr double kFirstFrameBudget = 100;
constexpr double kInteractiveBudget = 300;

double ms(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// The long page, appended to the large state.
QString addLongPage(StoreState &state)
{
    BenchState::Generator g;
    FNPage page;
    page.serverID = kPageServerID;
    page.workspaceServerID = 100;
    page.title = QStringLiteral("The long page");
    page.position = BenchState::kPages;
    state.pages.push_back(page);
    const char *types[] = {"text", "text", "text", "text", "h1", "h2", "bullet", "bullet", "todo", "quote"};
    for (int i = 0; i < kPageBlocks; ++i) {
        FNBlock b;
        b.serverID = 900000 + i;
        b.pageServerID = page.serverID;
        b.pageLocalID = page.localID;
        b.type = QString::fromLatin1(types[g.pick(int(std::size(types)))]);
        b.contentJSON = *BlockContent::encode({{QStringLiteral("text"), g.words(4, 60)}});
        b.position = i;
        state.blocks.push_back(b);
    }
    return page.localID;
}

// The anchor: the page's text in one document, laid out at the view's width.
double documentAnchor(const QString &text)
{
    QElapsedTimer t;
    t.start();
    QTextDocument doc;
    doc.setPlainText(text);
    doc.setTextWidth(900);
    (void)doc.documentLayout()->documentSize();
    return ms(t);
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
    // The page's own flush waits: the bench times it apart, so no key's save counts it too.
    PageViewModel::Timing timing;
    timing.blockFlush = std::chrono::hours(1);
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

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(3, QByteArray(argv[1]).toInt()) : 3;

    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-page-scale-XXXXXX")));
    std::printf("generating %d pages, %d blocks and a page of %d blocks...\n", BenchState::kPages,
                BenchState::kBlocks, kPageBlocks);
    QString pageLocalID;
    {
        LocalStore seed(dir.path());
        seed.change([&](StoreState &s) {
            s = BenchState::generate();
            pageLocalID = addLongPage(s);
        });
        seed.save();
    }
    LocalStore store(dir.path());
    store.block(store.state().blocks.back().localID); // the id index, built once after a load
    AppContext context;
    context.store = &store;

    QString pageText;
    for (const FNBlock *block : store.blocksOfPage(pageLocalID))
        pageText +=
            BlockContent::readString(BlockContent::decode(block->contentJSON), QStringLiteral("text")) +
            QLatin1Char('\n');

    char longestParts[160] = "";
    std::vector<double> anchors, firstFrames, interactives, keys, commits, refreshes, saves, flushes, totals,
        stalls;
    for (int round = 0; round < rounds; ++round) {
        anchors.push_back(documentAnchor(pageText));
        PageView *view = nullptr;
        const Open o = openPage(context, pageLocalID, &view);
        firstFrames.push_back(o.firstFrame);
        interactives.push_back(o.interactive);

        // A block in the middle of the page, scrolled to and typed into.
        const QString target = view->model().blocks().topLevelBlocks()[size_t(kPageBlocks / 2)].localID;
        BlockRow *row = view->row(target);
        if (!row || !row->focusEditor(BlockRow::Caret::end))
            qFatal("no row to type into");
        view->scrollArea()->ensureWidgetVisible(row);
        QTest::qWait(50);
        std::vector<double> roundTotals;
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer t;
            t.start();
            QTest::keyClick(row->richEditor(), Qt::Key_X);
            keys.push_back(ms(t));
            t.restart();
            row->model().commitTextNow(row->richEditor()->toRawText());
            commits.push_back(ms(t));
            t.restart();
            QCoreApplication::processEvents(); // the page's refresh, relayout and repaint
            refreshes.push_back(ms(t));
            // The save the edit armed: what it holds the GUI thread.
            saves.push_back(longestStall(5000, [&] { return !store.isSavePending(); }));
            t.restart();
            view->model().queueBlockUpserts();
            flushes.push_back(ms(t));
            store.changeOutsideRecords([](StoreState &state) { state.outbox.clear(); });
            (void)QTest::qWaitFor([&] { return !store.isSavePending(); }, 5000);
            totals.push_back(keys.back() + commits.back() + refreshes.back() + saves.back() + flushes.back());
            if (totals.back() >= *std::max_element(totals.begin(), totals.end()))
                std::snprintf(longestParts, sizeof longestParts,
                              "key %.2f + commit %.2f + refresh %.2f + save %.2f + flush %.2f ms",
                              keys.back(), commits.back(), refreshes.back(), saves.back(), flushes.back());
            roundTotals.push_back(totals.back());
        }
        // Typing at 30 ms a key for a second with the view's own timers: the longest the loop misses.
        QTimer typist;
        typist.setInterval(30);
        QObject::connect(&typist, &QTimer::timeout, [&] { QTest::keyClick(row->richEditor(), Qt::Key_Y); });
        typist.start();
        stalls.push_back(longestStall(2500));
        typist.stop();
        std::printf("round %d: anchor %.1f ms; first frame %.1f ms, interactive %.1f ms; longest keystroke "
                    "%.2f ms; longest stall while typing %.1f ms\n",
                    round + 1, anchors.back(), o.firstFrame, o.interactive,
                    *std::max_element(roundTotals.begin(), roundTotals.end()), stalls.back());
        delete view;
        store.changeOutsideRecords([](StoreState &state) { state.outbox.clear(); });
        (void)QTest::qWaitFor([&] { return !store.isSavePending(); }, 5000);
    }

    // The same save with no page open: what of the save's time is the store's own.
    std::vector<double> bareSaves;
    const QString edited = store.blocksOfPage(pageLocalID).front()->localID;
    for (int i = 0; i < 5 * rounds; ++i) {
        store.editBlock(edited,
                        [&](FNBlock &b) { b.contentJSON = QStringLiteral(R"({"text":"bare %1"})").arg(i); });
        bareSaves.push_back(longestStall(5000, [&] { return !store.isSavePending(); }));
    }

    const double anchor = median(anchors);
    const auto line = [&](const char *what, double value, double budget) {
        if (budget > 0)
            std::printf("%-58s %9.2f ms  %7.2fx anchor  %5.2fx budget (%g ms)\n", what, value, value / anchor,
                        value / budget, budget);
        else
            std::printf("%-58s %9.2f ms  %7.2fx anchor\n", what, value, value / anchor);
    };
    std::printf("\nmedians of %d rounds (keystroke figures: of 5 keys a round)\n", rounds);
    line("anchor: QTextDocument with the page's text, laid out", anchor, 0);
    line("open: first frame", median(firstFrames), kFirstFrameBudget);
    line("open: interactive", median(interactives), kInteractiveBudget);
    line("keystroke: key into the text view", median(keys), 0);
    line("keystroke: commit into the store", median(commits), 0);
    line("keystroke: page refresh, relayout and repaint", median(refreshes), 0);
    line("keystroke: the save it arms (GUI thread)", median(saves), 0);
    line("  the same save with no page open", median(bareSaves), 0);
    line("keystroke: the page's flush", median(flushes), 0);
    line("keystroke: all of the above", median(totals), kKeystrokeBudget);
    line("keystroke: the longest of all", *std::max_element(totals.begin(), totals.end()), kKeystrokeBudget);
    std::printf("  (the longest: %s)\n", longestParts);
    line("typing 30 ms a key: longest event-loop stall", median(stalls), kKeystrokeBudget);
    return 0;
}
