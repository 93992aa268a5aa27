// The bytes one typed edit costs on the wire, on a 40-block and on a 2,000-block page: a relay on
// loopback between the app and the fake service counts every byte both ways (heads and bodies) of
// the sync cycle that sends it. Each figure is also given as a ratio to the edit's own upsert body,
// the least any cycle could send. Bytes do not depend on the machine.
//   bench_sync_bytes
#include "fake-service/fake_service.h"
#include "store/local_store.h"
#include "support/test_device.h"

#include "bench_relayed_page.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

struct Figures {
    qint64 cycle = 0;
    qint64 upsertBody = 0;
};

Figures measure(FakeService &fake, int blocks)
{
    static int made = 0;
    std::optional<RelayedPage> setup = relayedPage(fake, QStringLiteral("bytes%1@example.com").arg(++made),
                                                   QStringLiteral("Bytes"), blocks);
    if (!setup)
        return {};
    CountingRelay &relay = *setup->relay;
    TestDevice &device = *setup->device;
    const FNPage &page = setup->page;
    const QString middle = setup->blockIDs[blocks / 2];

    device.setBlockText(middle, QStringLiteral("Line typed into, a few words long"));
    if (!device.queueBlockUpsert(page.localID))
        return {};
    fake.clearRequests();
    relay.reset();
    if (!device.sync())
        return {};
    Figures f;
    f.cycle = relay.bytes();
    for (const HttpRequest &r : fake.requestsTo(QStringLiteral("/api/blocks.php")))
        f.upsertBody += r.body.size();
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    FakeService fake;
    if (!fake.start())
        return 1;
    const Figures shortPage = measure(fake, 40);
    const Figures longPage = measure(fake, 2000);
    if (shortPage.upsertBody == 0 || longPage.upsertBody == 0) {
        std::fprintf(stderr, "a cycle failed\n");
        return 1;
    }
    std::printf("%-16s %12s %14s %8s\n", "page", "cycle bytes", "upsert body", "ratio");
    for (const auto &[name, f] : {std::pair{"40 blocks", shortPage}, std::pair{"2,000 blocks", longPage}})
        std::printf("%-16s %12lld %14lld %8.2f\n", name, qlonglong(f.cycle), qlonglong(f.upsertBody),
                    double(f.cycle) / double(f.upsertBody));
    const double growth = double(longPage.cycle) / double(shortPage.cycle);
    std::printf("long page / short page: %.3f (goal: at most 1.20); both under 4,096 bytes: %s\n", growth,
                shortPage.cycle < 4096 && longPage.cycle < 4096 ? "yes" : "NO");
    return 0;
}
