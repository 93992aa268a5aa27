#include "support/page_sync_steps.h"

#include "support/chaos_device.h"
#include "support/chaos_order.h"
#include "support/test_device.h"

#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox.h"

#include <QTest>

#include <memory>

namespace {

constexpr auto kWait = 20000;

} // namespace

std::function<QDateTime()> steppingClock()
{
    auto now = std::make_shared<QDateTime>(QDateTime::currentDateTimeUtc());
    return [now] { return *now = now->addSecs(61); };
}

void awaitWorkspace(ChaosDevice &d, qint64 workspaceServerID)
{
    d.refresh();
    // A device without it fails at its first step, with what that step needed.
    if (!QTest::qWaitFor([&] { return d.store().currentWorkspaceServerID() == workspaceServerID; }, kWait))
        qWarning("the device's workspace did not arrive");
}

bool settleDevice(ChaosDevice &d)
{
    for (int i = 0; i < 2; ++i) {
        if (!QTest::qWaitFor([&] { return !d.isBusy(); }, kWait))
            return false;
        d.sync();
        if (!QTest::qWaitFor([&] { return !d.isBusy(); }, kWait))
            return false;
    }
    return true;
}

void layGapless(LocalStore &store, const QString &pageLocalID)
{
    qint64 position = 0;
    QStringList ids;
    for (const FNBlock *b : chaosDeviceOrder(store, pageLocalID))
        ids << b->localID;
    for (const QString &id : ids)
        store.editBlock(id, [&](FNBlock &block) { block.position = position++; });
    Outbox::of(store).blocksEdited(pageLocalID, ids, BlockFields::Place);
    Outbox::of(store).pageBlocksUpsert(pageLocalID);
}

QString blockWithText(const ChaosDevice &d, qint64 pageServerID, const QString &text)
{
    const FNPage *page = d.store().pageWithServerID(pageServerID);
    if (!page)
        return {};
    for (const FNBlock *b : chaosDeviceOrder(d.store(), page->localID)) {
        if (TestDevice::textOf(*b) == text)
            return b->localID;
    }
    return {};
}

QStringList textsOnDevice(const ChaosDevice &d, qint64 pageServerID)
{
    QStringList out;
    const FNPage *page = d.store().pageWithServerID(pageServerID);
    if (!page)
        return out;
    for (const FNBlock *b : chaosDeviceOrder(d.store(), page->localID))
        out << TestDevice::textOf(*b);
    return out;
}

QStringList textsOnService(FakeService &fake, qint64 pageServerID)
{
    QStringList out;
    for (const auto *b : chaosServiceOrder(fake.state(), pageServerID))
        out << FakeService::stringField(b->content, QStringLiteral("text"));
    return out;
}
