// What the sidebar and the home dashboard cost the GUI thread over the large state. First a change of
// the outbox alone: a push takes one operation out per reply and the event loop turns in between, so
// any listing that rebuilds on it does so once per operation; its anchor is the same changes with no
// view open. Then a page rename with the sidebar and the dashboard shown, against the same rename with
// the dashboard hidden behind an open page (as each keystroke in a page's title makes): the ratio says
// what the dashboard adds to a rename. Offscreen; run a Release build: bench_outbox_listing [rounds]
#include "app/home_view.h"
#include "bench_state.h"
#include "bench_stats.h"
#include "library/library_view.h"
#include "support/app_harness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

// Waits out any save armed or under way, so none lands inside a timed change.
void settle(LocalStore &store)
{
    QElapsedTimer waited;
    waited.start();
    while (store.isSavePending() && waited.elapsed() < 120000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    turn();
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

// GUI-thread time of one rename of the page and of everything it queues.
double rename(LocalStore &store, const QString &pageID, const QString &title)
{
    settle(store);
    const double start = threadCpuMs();
    store.editPage(pageID, [&](FNPage &p) { p.title = title; });
    turn();
    return threadCpuMs() - start;
}

double loadAverage()
{
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = std::max(3, argc > 1 ? QByteArray(argv[1]).toInt() : 9);

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
    const double loadBefore = loadAverage();

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

    const auto renameHidden = [&](int r) {
        home->hide();
        hiddenRenames.push_back(rename(store, pageID, QStringLiteral("Typed %1").arg(r)));
        home->show();
        turn();
    };
    for (int r = 0; r < rounds; ++r) {
        shown.push_back(perOutboxChange(store, pageID, r + rounds));
        // Alternated, so neither rename always follows the other.
        if (r % 2)
            renameHidden(r);
        renames.push_back(rename(store, pageID, QStringLiteral("Renamed %1").arg(r)));
        if (r % 2 == 0)
            renameHidden(r);
        std::printf("round %d: per outbox change %.3f ms with no view, %.3f ms with the sidebar and the "
                    "dashboard shown; a page rename %.2f ms, %.2f ms with the dashboard hidden\n",
                    r + 1, bare.back(), shown.back(), renames.back(), hiddenRenames.back());
    }
    const double b = median(bare), s = median(shown), n = median(renames), h = median(hiddenRenames);
    std::printf("outbox change with the sidebar and the dashboard over %d blocks (medians of %d): %.3f ms = "
                "%.2fx the same change with no view (%.3f ms), %.3f of a 16 ms frame\n",
                BenchState::kBlocks, rounds, s, s / b, b, s / 16.0);
    std::printf("page rename with the sidebar and the dashboard shown: %.2f ms = %.2fx the same rename with "
                "the dashboard hidden (%.2f ms), medians of %d; %.2f of a 16 ms frame\n",
                n, n / h, h, rounds, n / 16.0);
    std::printf("load average %.2f before, %.2f after\n", loadBefore, loadAverage());
    store.changeOutsideRecords([](StoreState &state) { state.outbox.clear(); });
    return 0;
}
