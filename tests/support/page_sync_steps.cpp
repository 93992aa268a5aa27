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

void PageSyncPair::newAccount(const QString &prefix)
{
    static int made = 0;
    m_account = m_fake.createAccount(QStringLiteral("%1%2@example.com").arg(prefix.toLower()).arg(++made),
                                     "secret12", prefix);
    m_fake.clearFaults();
    m_a = device();
    m_b = device();
}

void PageSyncPair::endDevices()
{
    m_fake.clearFaults();
    m_fake.releaseHeldAnswers();
    m_a.reset();
    m_b.reset();
}

std::unique_ptr<ChaosDevice> PageSyncPair::device(std::function<QDateTime()> clock, ChaosDevice::Remains remains)
{
    const bool fresh = !remains.dir;
    auto d = std::make_unique<ChaosDevice>(m_fake.origin(), m_account.token, clock ? clock : steppingClock(),
                                           std::move(remains));
    if (fresh)
        awaitWorkspace(*d, m_account.workspaceId);
    return d;
}

QString PageSyncPair::sharedPage(const QStringList &texts, bool gapless)
{
    const auto made = m_a->createPage(std::nullopt);
    if (!made || !settle(*m_a) || !settle(*m_a))
        return {};
    m_pageA = *made;
    for (const QString &text : texts)
        m_a->addBlock(m_pageA, text);
    if (gapless)
        layGapless(m_a->store(), m_pageA);
    if (!settle(*m_a) || !settle(*m_b))
        return {};
    m_pageID = m_a->page(m_pageA)->serverID;
    m_fake.clearRequests();
    return m_pageA;
}

bool PageSyncPair::runsKeepTheirOrder(const QStringList &texts, int lines)
{
    for (const QString name : {"A", "B"}) {
        qsizetype last = -1;
        for (int i = 0; i < lines; ++i) {
            const qsizetype at = texts.indexOf(QStringLiteral("%1 %2").arg(name).arg(i));
            if (at <= last)
                return false;
            last = at;
        }
    }
    return true;
}

bool PageSyncPair::runsStayTogether(const QStringList &texts, int lines)
{
    if (!runsKeepTheirOrder(texts, lines))
        return false;
    for (const QString name : {"A", "B"}) {
        const qsizetype first = texts.indexOf(QStringLiteral("%1 0").arg(name));
        if (texts.indexOf(QStringLiteral("%1 %2").arg(name).arg(lines - 1)) != first + lines - 1)
            return false;
    }
    return true;
}
