// Push and pull throughput of the sync engine against the fake service on loopback, and how long
// applying a pulled batch holds the GUI thread. Run a Release build: bench_sync_engine [pulled ops]
#include "api/wire/pages.h"
#include "api/wire/sync.h"
#include "fake-service/fake_service.h"
#include "json/json_coder.h"
#include "support/test_device.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

// A reply of n pulled operations: pages first, then blocks spread over them.
QByteArray syncReply(int n)
{
    const int pages = std::max(1, n / 20);
    JsonWriter w;
    w.startObject();
    w.key("ops");
    w.startArray();
    for (int i = 0; i < n; ++i) {
        const bool page = i < pages;
        w.startObject();
        w.field("entity_type", QString::fromLatin1(page ? "page" : "block"));
        w.field("entity_id", qint64(1000000 + i));
        w.field("op", QStringLiteral("upsert"));
        w.key("payload");
        w.startObject();
        if (page) {
            w.field("title", QStringLiteral("Pulled page %1").arg(i));
            w.field("workspace_id", qint64(1));
        } else {
            w.field("page_id", qint64(1000000 + i % pages));
            w.field("type", QStringLiteral("text"));
            w.field("position", qint64(i));
            w.key("content");
            w.startObject();
            w.field("text", QStringLiteral("Block %1 with a line of ordinary text to carry").arg(i));
            w.endObject();
        }
        w.endObject();
        w.field("server_ts", qint64(i + 1));
        w.endObject();
    }
    w.endArray();
    w.field("server_ts", qint64(n));
    w.endObject();
    return w.bytes();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int pulled = argc > 1 ? QByteArray(argv[1]).toInt() : 20000;
    const int pushed = 1000;

    FakeService fake;
    if (!fake.start())
        return 1;
    const auto account = fake.createAccount("bench@example.com", "secret12", "Bench");

    // Push: one page, then 1,000 page updates, each its own request.
    {
        TestDevice d(fake.origin(), account.token);
        const FNPage page = d.addPage(account.workspaceId, "Bench");
        d.sync();
        for (int i = 0; i < pushed; ++i) {
            PagePatchReq patch;
            patch.title = QStringLiteral("Title %1").arg(i);
            d.queuePageUpdate(page.localID, patch);
        }
        QElapsedTimer t;
        t.start();
        d.sync();
        const double s = t.nsecsElapsed() / 1e9;
        std::printf("push: %d operations in %.2f s = %.0f ops/s (%zu left)\n", pushed, s, pushed / s,
                    d.store().state().outbox.size());
    }

    // Pull: a canned reply of `pulled` operations; the apply runs in one go on this thread.
    {
        TestDevice d(fake.origin(), account.token);
        fake.setFault("/api/sync.php", FakeService::Fault::http(200, syncReply(pulled)));
        QElapsedTimer t;
        t.start();
        qint64 applyNs = 0;
        QElapsedTimer apply;
        QObject::connect(&d.store(), &LocalStore::stateChanged, [&] {
            if (!apply.isValid())
                apply.start();
        });
        d.sync();
        applyNs = apply.isValid() ? apply.nsecsElapsed() : 0;
        const double s = t.nsecsElapsed() / 1e9;
        std::printf("pull: %d operations in %.2f s = %.0f ops/s; apply held the thread %.0f ms "
                    "(%zu pages, %zu blocks)\n",
                    pulled, s, pulled / s, applyNs / 1e6, d.store().state().pages.size(),
                    d.store().state().blocks.size());
    }
    return 0;
}
