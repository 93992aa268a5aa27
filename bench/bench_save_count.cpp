// How often "state.json" is written for work that changes little or nothing: opening a page, a sync
// cycle with nothing new (a refresh), a pull of an operation applied already, and a push of 1,000
// operations. Writes are counted at the rename that puts each one in place. Offscreen; run a Release
// build: bench_save_count
#include "api/wire/pages.h"
#include "bench_state_writes.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "support/test_device.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

// Lets the rest settle: saves due, replies, the page's own refresh.
void settle(LocalStore &store)
{
    QTest::qWait(1500);
    (void)QTest::qWaitFor([&] { return !store.isSavePending(); }, 10000);
}

template <typename F>
int writesDuring(LocalStore &store, F &&work)
{
    settle(store);
    const int before = g_stateWrites.load();
    work();
    settle(store);
    return g_stateWrites.load() - before;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr int kPushed = 1000;

    FakeService fake;
    if (!fake.start())
        return 1;
    const auto account = fake.createAccount("bench@example.com", "secret12", "Bench");

    TestDevice a(fake.origin(), account.token, LocalStore::kSaveDelay);
    const FNPage page = a.addPage(account.workspaceId, QStringLiteral("Counted"));
    a.sync();
    for (int i = 0; i < 40; ++i)
        a.addBlock(page.localID, QStringLiteral("Line %1 of the counted page").arg(i), i);
    a.queueBlockUpsert(page.localID);
    a.sync();

    const int open = writesDuring(a.store(), [&] {
        auto *view = new PageView(a.context(), page.localID);
        view->resize(1000, 800);
        view->show();
        (void)QTest::qWaitFor([view] { return view->isLaidOut(); }, 60000);
        QTest::qWait(1000);
        delete view;
    });
    const int refresh = writesDuring(a.store(), [&] { a.sync(); });

    // The other device learns everything, then pulls the newest operation again: one it has
    // applied already.
    TestDevice b(fake.origin(), account.token, LocalStore::kSaveDelay);
    b.sync();
    b.store().setCursorServerTs(b.store().state().cursorServerTs - 1);
    b.store().save();
    const int pull = writesDuring(b.store(), [&] { b.sync(); });

    QElapsedTimer pushTime;
    int cycles = 0;
    const int push = writesDuring(a.store(), [&] {
        for (int i = 0; i < kPushed; ++i) {
            PagePatchReq patch;
            patch.title = QStringLiteral("Title %1").arg(i);
            a.queuePageUpdate(page.localID, patch);
        }
        pushTime.start();
        for (; cycles < 50 && !a.store().state().outbox.empty(); ++cycles)
            a.sync();
    });

    std::printf("writes of state.json (anchor: one write per operation that changed the state)\n");
    std::printf("%-44s %6s %10s\n", "", "writes", "per op");
    std::printf("%-44s %6d %10s\n", "open a page and close it", open, "-");
    std::printf("%-44s %6d %10s\n", "sync cycle with nothing new (refresh)", refresh, "-");
    std::printf("%-44s %6d %10s\n", "pull of an operation applied already", pull, "-");
    std::printf("%-44s %6d %10.3f\n", "queue and push 1,000 operations", push, double(push) / kPushed);
    std::printf("outbox left after the push: %zu; push took %lld ms in %d cycles\n",
                a.store().state().outbox.size(), pushTime.elapsed(), cycles);
    if (!a.store().state().outbox.empty()) {
        const FNSyncOp &op = a.store().state().outbox.front();
        std::printf("first left: %s %s attempts %lld: %s\n", qPrintable(op.entity), qPrintable(op.op),
                    qlonglong(op.attempts), qPrintable(op.lastError.value_or(QString())));
    }
    return 0;
}
