// A typed edit's sync cycle with the large state loaded (200,000 blocks): the text of one block of a
// page on the service changes, its upsert is queued as the editor queues it, and the cycle runs
// (the pull before the push, the push, the pull after it) until the state holding its answer is
// on disk. Compare two builds with compare_builds.sh; run a Release build:
//   bench_typed_edit_cycle [rounds = 20]
#include "bench_service_thread.h"
#include "bench_state.h"
#include "bench_stats.h"
#include "json/json_coder.h"
#include "store/block_fields.h"
#include "store/outbox.h"
#include "support/test_device.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

int fail(int line)
{
    std::fprintf(stderr, "failed at line %d\n", line);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = std::max(3, argc > 1 ? QByteArray(argv[1]).toInt() : 20);

    BenchServiceThread service;
    if (!service.started())
        return fail(__LINE__);
    const auto account = service.createAccount("cycle@example.com", "secret12", "Bench");
    TestDevice d(service.origin(), account.token, LocalStore::kSaveDelay);
    d.engine().setQueueDelay(std::chrono::hours(1));

    // A page of ten lines on the service, pulled, then the large state around it.
    const FNPage page = d.addPage(account.workspaceId, QStringLiteral("Typed page"));
    if (!d.sync())
        return fail(__LINE__);
    for (int k = 0; k < 10; ++k)
        d.addBlock(page.localID, QStringLiteral("Line %1").arg(k), k * 1024);
    if (!d.queueBlockUpsert(page.localID) || !d.sync())
        return fail(__LINE__);
    const QString typed = d.liveBlocks(page.localID).front().localID;
    StoreState large = BenchState::generate();
    large.outbox.clear();
    d.store().change([&](StoreState &s) {
        for (FNPage &p : large.pages)
            s.pages.push_back(std::move(p));
        for (FNBlock &b : large.blocks)
            s.blocks.push_back(std::move(b));
    });
    d.store().save();
    if (d.store().state().blocks.size() < size_t(BenchState::kBlocks))
        return fail(__LINE__);

    std::vector<double> cycles;
    for (int r = 0; r < rounds; ++r) {
        QTest::qWait(200);
        QElapsedTimer t;
        t.start();
        d.setBlockText(typed, QStringLiteral("Typed in round %1").arg(r));
        if (!d.queueBlockUpsert(page.localID) || !d.sync())
            return fail(__LINE__);
        if (!QTest::qWaitFor([&] { return !d.store().isSavePending(); }, 60000))
            return fail(__LINE__);
        cycles.push_back(t.nsecsElapsed() / 1e6);
        if (!d.store().state().outbox.empty())
            return fail(__LINE__);
    }
    const double middle = median(cycles);
    std::printf("typed edit cycle, %d rounds: median %.1f ms, fastest %.1f ms, slowest %.1f ms\n", rounds,
                middle, *std::min_element(cycles.begin(), cycles.end()),
                *std::max_element(cycles.begin(), cycles.end()));
    std::printf("figures: cycle_ms=%.2f\n", middle);
    return 0;
}
