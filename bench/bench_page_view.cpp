// Opening a long page in the editor, and what one keystroke costs there. Offscreen; run a Release
// build: bench_page_view [blocks]
#include "bench_stats.h"
#include "blocks/block_content.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "store/local_store.h"
#include "ui/app_context.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLayout>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

const char *const kKinds[] = {"text",   "text",   "text", "text",  "h1",      "h2",   "h3",     "bullet",
                              "bullet", "number", "todo", "quote", "callout", "code", "toggle", "divider"};

QString sentence(std::mt19937 &random, int words)
{
    static const QStringList vocabulary =
        QStringLiteral(
            "the plan for next quarter needs **clear** owners and *dates* so that every team knows what "
            "ships when we review `budget` numbers weekly and keep notes in this page for "
            "[reference](https://example.com)")
            .split(QLatin1Char(' '));
    QStringList out;
    for (int i = 0; i < words; ++i)
        out << vocabulary[int(random() % vocabulary.size())];
    return out.join(QLatin1Char(' '));
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 2000;

    QTemporaryDir dir;
    LocalStore store(dir.path());
    FNPage page;
    page.serverID = 7;
    page.title = QStringLiteral("Bench page");
    store.upsertPage(page);
    std::mt19937 random(42);
    for (int i = 0; i < count; ++i) {
        FNBlock block;
        block.pageLocalID = page.localID;
        block.pageServerID = page.serverID;
        block.serverID = 1000 + i;
        block.type = QString::fromLatin1(kKinds[i % std::size(kKinds)]);
        block.position = i;
        const int words = 4 + int(random() % 60); // a heading to a short paragraph
        block.contentJSON = *BlockContent::encode({{QStringLiteral("text"), sentence(random, words)}});
        store.upsertBlock(block);
    }
    store.save();

    AppContext context;
    context.store = &store;

    // Rows alone, made outside any window: what each row costs to build.
    {
        QElapsedTimer t;
        t.start();
        std::vector<BlockRow *> rows;
        BlockFocus focus;
        for (const FNBlock &block : store.state().blocks)
            rows.push_back(new BlockRow(store, block, &focus, {}));
        const qint64 built = t.elapsed();
        qDeleteAll(rows);
        std::printf("rows alone: %d rows built in %lld ms (%.2f ms per row)\n", count, built,
                    double(built) / count);
    }

    QElapsedTimer open;
    open.start();
    auto *view = new PageView(context, page.localID);
    view->resize(1000, 800);
    view->show();
    view->scrollArea()->widget()->layout()->activate();
    const qint64 firstRows = open.elapsed();
    if (!QTest::qWaitFor([view] { return view->isLaidOut(); }, 600000))
        return 1;
    // Rows settle their heights once shown: wait until the page's height holds still.
    for (int stable = 0, last = -1; stable < 3;) {
        QCoreApplication::processEvents();
        view->scrollArea()->widget()->layout()->activate();
        const int height = view->scrollArea()->widget()->height();
        stable = height == last ? stable + 1 : 0;
        last = height;
    }
    const qint64 laidOut = open.elapsed();
    std::printf("open: the rows in view shown after %lld ms, laid out and settled after %lld ms\n", firstRows,
                laidOut);
    std::printf("      content height %d px\n", view->scrollArea()->widget()->height());

    // One keystroke in a block in the middle: the commit into the store (every open row and the
    // page react to the change), the save it schedules, and the page's flush 0.7 s later.
    const QString target = view->model().blocks().topLevelBlocks()[size_t(count / 2)].localID;
    BlockRow *row = view->row(target);
    std::vector<double> commits, refreshes, saves, flushes;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        row->model().commitTextNow(row->model().text() + QLatin1Char('x'));
        commits.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        QCoreApplication::processEvents(); // the page's coalesced refresh, relayout and repaint
        refreshes.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        store.save();
        saves.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        view->model().queueBlockUpserts();
        flushes.push_back(double(t.nsecsElapsed()) / 1e6);
        // What the push does with it, so the next save is the same size.
        store.changeOutsideRecords([](StoreState &state) { state.outbox.clear(); });
    }
    std::printf("keystroke: commit into the store %.2f ms, the page's refresh and repaint %.2f ms, "
                "the save it schedules %.2f ms, the page's flush %.2f ms (medians of 5)\n",
                median(commits), median(refreshes), median(saves), median(flushes));

    // A new block near the top: the 1,999 blocks below are renumbered, the new row made and placed.
    {
        QElapsedTimer t;
        t.start();
        view->model().insertBlockAfter(view->model().blocks().topLevelBlocks().front());
        const double edit = double(t.nsecsElapsed()) / 1e6;
        t.restart();
        QCoreApplication::processEvents();
        std::printf("insert after the first block: store edit %.2f ms, new row and relayout %.2f ms\n", edit,
                    double(t.nsecsElapsed()) / 1e6);
        store.changeOutsideRecords([](StoreState &state) { state.outbox.clear(); });
    }

    // Select mode on and off: every row shows or hides its selection box.
    {
        QElapsedTimer t;
        t.start();
        view->model().toggleSelectMode();
        const qint64 on = t.elapsed();
        t.restart();
        view->model().toggleSelected(target);
        const double one = double(t.nsecsElapsed()) / 1e6;
        t.restart();
        view->model().toggleSelectMode();
        std::printf("select mode: on %lld ms, one block selected %.2f ms, off %lld ms\n", on, one,
                    t.elapsed());
    }

    QElapsedTimer close;
    close.start();
    delete view;
    std::printf("close: %lld ms\n", close.elapsed());
    return 0;
}
