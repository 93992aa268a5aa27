// What a change of the outbox alone costs the GUI thread with the sidebar and the home dashboard
// shown over the large state: a push takes one operation out per reply and the event loop turns in
// between, so any listing that rebuilds on it does so once per operation. Anchors timed in the same
// run: the same outbox changes with no view open, and one page rename (which must rebuild both). Also
// a rename with the dashboard hidden behind an open page, as each keystroke in a page's title makes.
// Offscreen; run a Release build: bench_outbox_listing [rounds]
#include "app/home_view.h"
#include "bench_state.h"
#include "bench_stats.h"
#include "library/library_view.h"
#include "support/app_harness.h"

#include <QApplication>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr int kOps = 200;

// Lets every queued rebuild run, as the event loop does between two replies of a push.
void turn()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// GUI-thread time of queuing `kOps` page updates and taking them out one at a time, as a push does,
// per outbox change.
double perOutboxChange(LocalStore &store, const QString &pageID, int round)
{
    std::vector<QString> ids;
    for (int i = 0; i < kOps; ++i) {
        PagePatchReq patch;
        patch.title = QStringLiteral("Title %1 of round %2").arg(i).arg(round);
        if (auto op = Outbox::of(store).pageUpdate(pageID, patch, Outbox::Unencodable::QueueNothing))
            ids.push_back(op->localID);
    }
    turn();
    const double start = threadCpuMs();
    for (const QString &id : ids) {
        Outbox::of(store).drop(id);
        turn();
    }
    return (threadCpuMs() - start) / double(ids.size());
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = std::max(3, argc > 1 ? QByteArray(argv[1]).toInt() : 3);

    AppDevice device;
    AppHarness harness(device);
    LocalStore &store = harness.store;
    store.change([](StoreState &s) { s = BenchState::generate(); });
    const qint64 workspace = store.currentWorkspaceServerID();
    const auto it =
        std::find_if(store.state().pages.begin(), store.state().pages.end(),
                     [&](const FNPage &p) { return !p.deletedAt && p.workspaceServerID == workspace; });
    if (it == store.state().pages.end())
        return 1;
    const QString pageID = it->localID;

    std::vector<double> bare, shown, renames, hiddenRenames;
    for (int r = 0; r < rounds; ++r)
        bare.push_back(perOutboxChange(store, pageID, r));

    QWidget window;
    auto *library = new LibraryView(harness.context(), &window);
    auto *home = new HomeView(harness.context(), &window);
    library->setGeometry(0, 0, 280, 900);
    home->setGeometry(280, 0, 1120, 900);
    window.resize(1400, 900);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    QTest::qWait(200);

    for (int r = 0; r < rounds; ++r) {
        shown.push_back(perOutboxChange(store, pageID, r + rounds));
        const double start = threadCpuMs();
        store.editPage(pageID, [&](FNPage &p) { p.title = QStringLiteral("Renamed %1").arg(r); });
        turn();
        renames.push_back(threadCpuMs() - start);
        home->hide();
        const double hiddenStart = threadCpuMs();
        store.editPage(pageID, [&](FNPage &p) { p.title = QStringLiteral("Typed %1").arg(r); });
        turn();
        hiddenRenames.push_back(threadCpuMs() - hiddenStart);
        home->show();
        turn();
        std::printf("round %d: per outbox change %.3f ms with no view, %.3f ms with the sidebar and the "
                    "dashboard shown; a page rename %.1f ms (%.1f ms with the "
                    "dashboard hidden)\n",
                    r + 1, bare.back(), shown.back(), renames.back(), hiddenRenames.back());
    }
    const double b = median(bare), s = median(shown), n = median(renames);
    std::printf("outbox change with the sidebar and the dashboard over %d blocks (medians of %d): %.3f ms = "
                "%.2fx the same change with no view (%.3f ms), %.3f of a 16 ms frame; a page rename, "
                "which rebuilds both, %.1f ms; with the dashboard hidden behind an open page %.1f ms = %.2f "
                "of a 16 ms "
                "frame\n",
                BenchState::kBlocks, rounds, s, s / b, b, s / 16.0, n, median(hiddenRenames),
                median(hiddenRenames) / 16.0);
    store.changeOutsideRecords([](StoreState &state) { state.outbox.clear(); });
    return 0;
}
