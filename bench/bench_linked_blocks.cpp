// The linked blocks (page link, contents, breadcrumbs, bookmark, embed, synced block) on a page of
// the 200,000-block state: what they add to one keystroke elsewhere on the page, what their refresh
// costs, and the searches per keystroke. Every figure is a median, also given as a ratio to the
// anchor: the same keystroke on a page of the same blocks without the linked kinds.
// Offscreen; run a Release build: bench_linked_blocks [runs]
#include "bench_state.h"
#include "blocks/bookmark_block.h"
#include "blocks/breadcrumbs_block.h"
#include "blocks/embed_block.h"
#include "blocks/mention_block.h"
#include "blocks/synced_block.h"
#include "blocks/toc_block.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "store/local_store.h"
#include "ui/app_context.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

// The store's save of the whole state follows 150 ms after an edit; it is measured on its own
// (bench_local_store), so each run waits for it outside the timing.
void letTheSaveRun(LocalStore &store)
{
    QTest::qWaitFor([&] { return !store.isSavePending(); }, 5000);
}

template <typename F>
double medianMs(int runs, F &&f, LocalStore *store = nullptr)
{
    std::vector<double> v;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f(i);
        v.push_back(double(t.nsecsElapsed()) / 1e6);
        if (store)
            letTheSaveRun(*store);
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A copy of a page's live blocks on a new page: the anchor's page.
FNPage copyPage(LocalStore &store, const FNPage &from)
{
    FNPage page = from;
    page.localID = newLocalID();
    page.serverID = 0;
    page.title += QStringLiteral(" (copy)");
    store.upsertPage(page);
    std::vector<FNBlock> blocks;
    for (const FNBlock *b : store.blocksOfPage(from.localID)) {
        if (b->deletedAt || !b->parentBlockLocalID.isEmpty())
            continue;
        FNBlock copy = *b;
        copy.localID = newLocalID();
        copy.serverID = 0;
        copy.pageLocalID = page.localID;
        blocks.push_back(copy);
    }
    store.appendBlocks(blocks);
    return page;
}

std::unique_ptr<PageView> open(AppContext context, const FNPage &page)
{
    auto view = std::make_unique<PageView>(context, page.localID);
    view->resize(1000, 800);
    view->show();
    if (!QTest::qWaitFor([&] { return view->isLaidOut(); }, 60000))
        qFatal("the page did not lay out");
    return view;
}

// A paragraph of the page, and what one keystroke in it costs: the commit into the store with
// every open view told, and the page's coalesced refresh after it.
double keystroke(PageView &view, int runs)
{
    BlockRow *row = nullptr;
    for (const FNBlock &b : view.model().blocks().topLevelBlocks()) {
        if (b.type == QLatin1String("text") && (row = view.row(b.localID)))
            break;
    }
    if (!row)
        qFatal("no paragraph on the page (%zu top-level blocks)",
               view.model().blocks().topLevelBlocks().size());
    return medianMs(
        runs,
        [&](int) {
            row->model().commitTextNow(row->model().text() + QLatin1Char('x'));
            QCoreApplication::processEvents();
        },
        view.model().context().store);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = std::max(3, argc > 1 ? QByteArray(argv[1]).toInt() : 15);

    QTemporaryDir dir;
    {
        LocalStore seed(dir.path());
        seed.change([](StoreState &s) { s = BenchState::generate(); });
        seed.save();
    }
    LocalStore store(dir.path()); // loaded from the file, as at start-up
    std::printf("state: %zu pages, %zu blocks; medians of %d runs\n\n", store.state().pages.size(),
                store.state().blocks.size(), runs);

    // Page 60 sits three levels deep (60 -> 30 -> 15); its new blocks link to other pages' records.
    const FNPage page = *store.pageWithServerID(10060);
    const FNPage linked = *store.pageWithServerID(10123);
    const FNBlock *sourceBlock = nullptr;
    for (const FNBlock *b : store.blocksOfPage(store.pageWithServerID(10077)->localID)) {
        if (!b->deletedAt && b->serverID != 0 && SyncedBlock::isSearchable(b->type)) {
            sourceBlock = b;
            break;
        }
    }
    const qint64 sourceID = sourceBlock->serverID;
    const FNPage anchorPage = copyPage(store, page);

    qint64 position = -6;
    const auto add = [&](const char *type, const JSONObject &content) {
        FNBlock b;
        b.pageLocalID = page.localID;
        b.pageServerID = page.serverID;
        b.type = QString::fromLatin1(type);
        b.position = position++;
        b.contentJSON = BlockContent::encode(content).value_or(QStringLiteral("{}"));
        store.upsertBlock(b);
    };
    add("mention", {{QStringLiteral("page_id"), linked.serverID}});
    add("toc", {});
    add("breadcrumbs", {});
    add("bookmark", {{QStringLiteral("url"), QStringLiteral("https://www.example.com/a/b")},
                     {QStringLiteral("title"), QStringLiteral("A page")},
                     {QStringLiteral("description"), QStringLiteral("About a page.")}});
    add("embed", {{QStringLiteral("url"), QStringLiteral("https://www.youtube.com/watch?v=x")}});
    add("synced", {{QStringLiteral("source_id"), sourceID}});

    AppContext context;
    context.store = &store;

    // The anchor: a keystroke in a paragraph of a page holding the same blocks, without the six.
    double anchor = 0;
    {
        auto view = open(context, anchorPage);
        anchor = keystroke(*view, runs);
    }
    auto view = open(context, page);
    std::vector<BlockView *> views;
    for (const FNBlock *b : store.blocksOfPage(page.localID)) {
        BlockRow *row = view->row(b->localID);
        if (row && row->kindView())
            views.push_back(row->kindView());
    }
    if (views.size() != 6)
        qFatal("expected the six linked views, found %zu", views.size());
    const double withSix = keystroke(*view, runs);
    const double refreshSix = medianMs(runs, [&](int) {
        for (BlockView *v : views)
            v->refresh();
    });
    // A keystroke in a heading: the contents list re-reads and redraws its entry.
    const FNBlock *heading = nullptr;
    for (const FNBlock *b : store.blocksOfPage(page.localID)) {
        if (!b->deletedAt && TocBlock::isHeading(b->type) && b->parentBlockLocalID.isEmpty())
            heading = b;
    }
    double headingKeystroke = 0;
    if (heading) {
        BlockRow *row = view->row(heading->localID);
        headingKeystroke = medianMs(
            runs,
            [&](int) {
                row->model().commitTextNow(row->model().text() + QLatin1Char('x'));
                QCoreApplication::processEvents();
            },
            &store);
    }
    // An edit of the mirrored block on its own page: the mirror re-reads.
    const double sourceEdit = medianMs(
        runs,
        [&](int i) {
            store.editBlock(SyncedBlock::source(store, sourceID)->localID, [i](FNBlock &b) {
                b.contentJSON = QStringLiteral("{\"text\":\"source edit %1\"}").arg(i);
            });
            QCoreApplication::processEvents();
        },
        &store);

    // The searches, one keystroke at a time: a query typed letter by letter, each prefix searched.
    const auto typed = [&](const QString &query, auto search) {
        std::vector<double> perKey;
        for (int r = 0; r < runs; ++r) {
            for (qsizetype n = 1; n <= query.size(); ++n) {
                QElapsedTimer t;
                t.start();
                volatile size_t found = search(query.left(n)).size();
                (void)found;
                perKey.push_back(double(t.nsecsElapsed()) / 1e6);
            }
        }
        std::sort(perKey.begin(), perKey.end());
        return std::pair{perKey[perKey.size() / 2], perKey.back()};
    };
    const auto pageCommon = typed(QStringLiteral("plan"),
                                  [&](const QString &q) { return MentionBlock::searchResults(store, q); });
    const auto pageRare =
        typed(QStringLiteral("zzq"), [&](const QString &q) { return MentionBlock::searchResults(store, q); });
    // The block search runs in slices between events: a keystroke waits for one slice at most; the
    // whole pass is the time until the list shows.
    const auto sliced = [&](const QString &query) {
        std::vector<double> slices, passes;
        for (int r = 0; r < runs; ++r) {
            for (qsizetype n = 1; n <= query.size(); ++n) {
                std::vector<const FNBlock *> found;
                QElapsedTimer pass;
                pass.start();
                for (size_t from = 0; from < store.state().blocks.size();) {
                    QElapsedTimer t;
                    t.start();
                    from = SyncedBlock::searchSlice(store, query.left(n), from, SyncedBlock::kSliceBlocks,
                                                    found);
                    slices.push_back(double(t.nsecsElapsed()) / 1e6);
                }
                passes.push_back(double(pass.nsecsElapsed()) / 1e6);
            }
        }
        std::sort(slices.begin(), slices.end());
        std::sort(passes.begin(), passes.end());
        return std::pair{slices.back(), passes[passes.size() / 2]};
    };
    const auto blockCommon = sliced(QStringLiteral("plan"));
    const auto blockRare = sliced(QStringLiteral("zzq"));

    const auto row = [&](const char *what, double ms) {
        std::printf("%-68s %8.3f ms  %6.2fx\n", what, ms, ms / anchor);
    };
    std::printf("%-68s %8s     %7s\n", "", "median", "ratio");
    row("anchor: keystroke in a paragraph, page without the six kinds", anchor);
    row("keystroke in a paragraph, page with the six kinds open", withSix);
    row("  the six views' share of it (difference)", std::max(0.0, withSix - anchor));
    row("all six views' refresh together (each re-reads)", refreshSix);
    if (heading)
        row("keystroke in a heading (its entry in the contents list changes)", headingKeystroke);
    row("the mirrored block edited on its own page (the mirror re-reads)", sourceEdit);
    row("page-link search over 5,000 titles, per keystroke, common word", pageCommon.first);
    row("page-link search over 5,000 titles, per keystroke, no match", pageRare.first);
    row("  slowest keystroke, no match", pageRare.second);
    row("synced-block search, 200,000 blocks, common word: whole pass", blockCommon.second);
    row("synced-block search, 200,000 blocks, no match: whole pass", blockRare.second);
    row("  longest a keystroke waits (its slowest slice), common word", blockCommon.first);
    row("  longest a keystroke waits (its slowest slice), no match", blockRare.first);
    return 0;
}
