// Lines typed offline at many spots: on a 2,000-block page spaced as this app spaces it, 2,000 lines
// typed each after a different block while another device of the account edits the text of 200 of
// the page's blocks; then the one reconnect cycle that sends the lines and pulls the other device's
// edits with the lines' echoes. The anchor, timed in the same run: the same 2,000 lines typed as one
// run (each after the last, from block 1,000) on a page of the same shape, with the same edits
// meanwhile. Reported: the GUI thread's time for the cycle against the anchor's, and the longest
// stall of each (wall clock). Goals: at most 1.5 times the anchor; the runs' repair adds no stall
// over 16 ms, so the cycle's longest is at most 16 ms or the anchor's own. Each goal is checked on
// the medians of the rounds with a margin for a busy machine; the run fails when one is missed.
// Offscreen; run a Release build: bench_many_runs [rounds]
#include "bench_service_thread.h"
#include "bench_stall_meter.h"
#include "bench_stats.h"
#include "editor/page_block_list.h"
#include "store/local_store.h"
#include "support/test_device.h"

#include <QApplication>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

int fail(int line)
{
    std::fprintf(stderr, "failed at line %d\n", line);
    return 1;
}

constexpr int kPageBlocks = 2000;
constexpr int kTypedLines = 2000;
constexpr int kRunAfter = 1000;  // where the anchor's one run is typed
constexpr int kEditedEvery = 10; // the other device edits every 10th block: 200 of them
constexpr double kTotalGoal = 1.5;
constexpr double kLongestGoalMs = 16;
constexpr double kNoiseMargin = 1.15; // a goal counts as missed only this far past it

struct Cycle {
    double cpu, longest;
};

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = std::max(1, argc > 1 ? QByteArray(argv[1]).toInt() : 3);

    BenchServiceThread service;
    if (!service.started())
        return fail(__LINE__);
    const auto account = service.createAccount("runs@example.com", "secret12", "Runs");
    TestDevice a(service.origin(), account.token, LocalStore::kSaveDelay);
    TestDevice b(service.origin(), account.token, LocalStore::kSaveDelay);
    a.engine().setQueueDelay(std::chrono::hours(1));
    b.engine().setQueueDelay(std::chrono::hours(1));

    // A page of the shape on the service and both devices; its local id on A.
    const auto sharedPage = [&](int n) -> std::optional<QString> {
        const FNPage page = a.addPage(account.workspaceId, QStringLiteral("Page %1").arg(n));
        if (!a.sync())
            return std::nullopt;
        for (int k = 0; k < kPageBlocks; ++k)
            a.addBlock(page.localID, QStringLiteral("Line %1 of the page, a few words long").arg(k),
                       qint64(k) * kBlockPositionGap);
        if (!a.queueBlockUpsert(page.localID) || !a.sync() || !a.sync() || !b.sync())
            return std::nullopt;
        return page.localID;
    };
    // The other device's edits, sent while A is offline.
    const auto bEdits = [&](qint64 pageServerID) {
        const FNPage *page = b.pageWithServerID(pageServerID);
        if (!page)
            return false;
        const std::vector<FNBlock> blocks = b.liveBlocks(page->localID);
        for (size_t k = 0; k < blocks.size(); k += kEditedEvery)
            b.setBlockText(blocks[k].localID, QStringLiteral("Line %1, edited on the other device").arg(k));
        return b.queueBlockUpsert(page->localID) && b.sync();
    };
    StallMeter meter;
    // A types the lines offline as the editor makes them, `spots` saying after which block each goes
    // (none: after the line before); then the reconnect cycle, measured. Checks each line followed
    // the block it was typed after.
    const auto typeThenReconnect = [&](const QString &pageLocalID,
                                       const std::vector<int> &spots) -> std::optional<Cycle> {
        PageBlockList list(a.store(), pageLocalID);
        const std::vector<FNBlock> blocks = list.topLevelBlocks();
        std::vector<std::pair<QString, QString>> typedAfter;
        QString last;
        for (size_t i = 0; i < spots.size(); ++i) {
            const QString after = spots[i] >= 0 ? blocks[size_t(spots[i])].localID : last;
            const auto made = list.insertBlockAfter(*a.block(after));
            if (!made)
                return std::nullopt;
            a.setBlockText(*made, QStringLiteral("Typed line %1").arg(i));
            typedAfter.emplace_back(after, *made);
            last = *made;
        }
        if (!a.queueBlockUpsert(pageLocalID) || !bEdits(a.page(pageLocalID)->serverID))
            return std::nullopt;
        QTest::qWait(200);
        meter.start();
        const double cpu0 = threadCpuMs();
        if (!a.sync())
            return std::nullopt;
        StallMeter::spinUntil([&] { return !a.store().isSavePending(); }, 60000);
        const double cpu = threadCpuMs() - cpu0;
        meter.stop();
        const std::vector<FNBlock> shown = a.liveBlocks(pageLocalID);
        QHash<QString, size_t> index;
        for (size_t i = 0; i < shown.size(); ++i)
            index.insert(shown[i].localID, i);
        for (const auto &[after, line] : typedAfter) {
            if (index.value(line) != index.value(after) + 1 || shown[index.value(line)].serverID == 0)
                return std::nullopt;
        }
        return Cycle{cpu, meter.longestMs()};
    };

    std::vector<int> manySpots(kTypedLines), oneRun(kTypedLines, -1);
    for (int i = 0; i < kTypedLines; ++i)
        manySpots[size_t(i)] = i * kPageBlocks / kTypedLines;
    oneRun.front() = kRunAfter;

    std::vector<double> anchors, costs, anchorLongest, longest;
    for (int r = 0; r < rounds; ++r) {
        const auto plainPage = sharedPage(2 * r);
        const auto manyPage = sharedPage(2 * r + 1);
        if (!plainPage || !manyPage)
            return fail(__LINE__);
        const auto anchor = typeThenReconnect(*plainPage, oneRun);
        const auto many = typeThenReconnect(*manyPage, manySpots);
        if (!anchor || !many)
            return fail(__LINE__);
        anchors.push_back(anchor->cpu);
        costs.push_back(many->cpu);
        anchorLongest.push_back(anchor->longest);
        longest.push_back(many->longest);
        std::printf(
            "round %d: anchor (one run) %.1f ms GUI thread CPU, longest stall %.1f ms; %d runs %.1f ms, "
            "longest stall %.1f ms\n",
            r + 1, anchor->cpu, anchor->longest, kTypedLines, many->cpu, many->longest);
    }
    const double a0 = median(anchors), c = median(costs), al = median(anchorLongest), l = median(longest);
    const double ratio = c / a0;
    const double longestGoal = std::max(kLongestGoalMs, al);
    const bool ratioMet = ratio <= kTotalGoal * kNoiseMargin;
    const bool longestMet = l <= longestGoal * kNoiseMargin;
    std::printf("reconnect after %d lines typed offline after %d different blocks, another device editing %d "
                "(medians of %d):\n",
                kTypedLines, kTypedLines, kPageBlocks / kEditedEvery, rounds);
    std::printf("  anchor: the same lines typed as one run, %.1f ms GUI thread CPU, longest stall %.1f ms\n",
                a0, al);
    std::printf("  %.1f ms GUI thread CPU = %.2fx the anchor (goal <= %.1f): %s\n", c, ratio, kTotalGoal,
                ratioMet ? "met" : "MISSED");
    std::printf("  longest stall %.1f ms (goal <= %.1f, the larger of %.0f and the anchor's): %s\n", l,
                longestGoal, kLongestGoalMs, longestMet ? "met" : "MISSED");
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("load %.1f\n", load[0]);
    return ratioMet && longestMet ? 0 : 1;
}
