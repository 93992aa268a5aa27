// The bytes of typing a run of lines in the middle of a long page: 100 lines typed one after another
// after block 1,000 of a 2,000-block page spaced as this app spaces it, counted on the wire both ways
// (heads and bodies) by a relay on loopback. A line costs what the editor sends for it: the empty
// block on Return, then its text after the pause, a sync cycle each. Each line halves the room left
// at the spot, so now and then blocks move to make room; the largest line and the total of the 100
// are given as ratios to one plain line typed in the same run. A second page, numbered one apart as
// other clients number a page they renumber, has no room anywhere: the first line typed after its
// 5th block, against the same plain line. Bytes do not depend on the machine: a goal missed by any
// margin fails the run.
//   bench_typed_lines_bytes
#include "editor/page_block_list.h"
#include "fake-service/fake_service.h"
#include "store/local_store.h"
#include "support/test_device.h"

#include "bench_relayed_page.h"
#include "bench_stats.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kPageBlocks = 2000;
constexpr int kTypedLines = 100;
constexpr int kTightAfter = 4; // the 5th block

// Types a line after `after` as the editor sends it; the new block and the bytes of both cycles.
std::optional<std::pair<QString, qint64>> typeLine(RelayedPage &setup, PageBlockList &list,
                                                   const QString &after, const QString &text)
{
    TestDevice &device = *setup.device;
    const FNBlock *block = device.block(after);
    if (!block)
        return std::nullopt;
    setup.relay->reset();
    const auto made = list.insertBlockAfter(*block, QStringLiteral("text"), QString());
    if (!made || !device.queueBlockUpsert(setup.page.localID) || !device.sync())
        return std::nullopt;
    device.setBlockText(*made, text);
    if (!device.queueBlockUpsert(setup.page.localID) || !device.sync())
        return std::nullopt;
    return std::pair{*made, setup.relay->bytes()};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    FakeService fake;
    if (!fake.start())
        return 1;
    std::optional<RelayedPage> setup =
        relayedPage(fake, QStringLiteral("typed@example.com"), QStringLiteral("Typed"), kPageBlocks);
    if (!setup)
        return 1;
    TestDevice &device = *setup->device;
    const FNPage &page = setup->page;
    const std::vector<QString> &ids = setup->blockIDs;

    PageBlockList list(device.store(), page.localID);
    const auto typeAfter = [&](const QString &after, int n) {
        return typeLine(*setup, list, after, QStringLiteral("Typed line %1, a few words long").arg(n));
    };

    // One plain insert, where there is room, elsewhere on the page.
    const auto plain = typeAfter(ids[kPageBlocks / 4], 0);
    if (!plain)
        return 1;
    qint64 largest = 0;
    qint64 total = 0;
    int roomy = 0; // cycles that cost more than half again a plain one
    QString after = ids[kPageBlocks / 2];
    for (int i = 1; i <= kTypedLines; ++i) {
        const auto typed = typeAfter(after, i);
        if (!typed) {
            std::fprintf(stderr, "cycle %d failed\n", i);
            return 1;
        }
        after = typed->first;
        largest = std::max(largest, typed->second);
        total += typed->second;
        roomy += typed->second * 2 > plain->second * 3 ? 1 : 0;
    }
    // The lines still read in the order typed, right after block 1,000 and before block 1,001.
    const std::vector<FNBlock> order = list.topLevelBlocks();
    const auto at = std::find_if(order.begin(), order.end(),
                                 [&](const FNBlock &b) { return b.localID == ids[kPageBlocks / 2]; });
    bool inOrder = at != order.end() && order.end() - at > kTypedLines + 1;
    for (int i = 1; inOrder && i <= kTypedLines; ++i)
        inOrder = TestDevice::textOf(*(at + i)) == QStringLiteral("Typed line %1, a few words long").arg(i);
    inOrder = inOrder && (at + kTypedLines + 1)->localID == ids[kPageBlocks / 2 + 1];

    std::optional<RelayedPage> tight =
        relayedPage(fake, QStringLiteral("tight@example.com"), QStringLiteral("Tight"), kPageBlocks, 1);
    if (!tight)
        return 1;
    PageBlockList tightList(tight->device->store(), tight->page.localID);
    const auto tightLine = typeLine(*tight, tightList, tight->blockIDs[kTightAfter],
                                    QStringLiteral("Typed line 0, a few words long"));
    if (!tightLine)
        return 1;

    const double largestRatio = double(largest) / double(plain->second);
    const double totalRatio = double(total) / (double(plain->second) * kTypedLines);
    const double tightRatio = double(tightLine->second) / double(plain->second);
    std::printf("anchor: a plain line (its block, then its text): %lld bytes\n", qlonglong(plain->second));
    Goals goals;
    std::printf("largest of %d lines: %lld bytes, %.2f x plain", kTypedLines, qlonglong(largest),
                largestRatio);
    goals.atMost(largestRatio, 3, false);
    std::printf("\ntotal of %d lines: %lld bytes, %.2f x %d plain", kTypedLines, qlonglong(total), totalRatio,
                kTypedLines);
    goals.atMost(totalRatio, 2, false);
    std::printf("\nlines over 1.5 x plain: %d; lines in the order typed: %s\n", roomy,
                inOrder ? "yes" : "NO");
    std::printf("first line after block %d of a page numbered one apart: %lld bytes, %.2f x plain",
                kTightAfter + 1, qlonglong(tightLine->second), tightRatio);
    goals.atMost(tightRatio, 3, false);
    std::printf("\n");
    goals.holds(inOrder, "the lines read in the order typed");
    return goals.exitCode();
}
