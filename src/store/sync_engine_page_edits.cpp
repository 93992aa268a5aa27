#include "store/sync_engine.h"

#include "store/local_store.h"
#include "store/outbox.h"

#include <QCoroSignal>

#include <algorithm>

namespace {

// How long a caller waits for a cycle already under way before going on.
constexpr std::chrono::seconds kCycleWait{30};

} // namespace

QCoro::Task<> SyncEngine::cycleUnderWayEnds(QPointer<SyncEngine> engine)
{
    if (engine && engine->m_isSyncing)
        co_await qCoro(engine.data(), &SyncEngine::cycleFinished, kCycleWait);
}

QCoro::Task<bool> SyncEngine::sendPageEditsFirst(qint64 pageServerID)
{
    QPointer<SyncEngine> self(this);
    const FNPage *page = pageServerID != 0 ? m_store.pageWithServerID(pageServerID) : nullptr;
    if (!page)
        co_return true;
    const QString pageLocalID = page->localID;
    // Typed and not queued yet: it would go with the next flush, after the change.
    if (!m_outbox.editedBlocks(pageLocalID).isEmpty())
        m_outbox.pageBlocksUpsert(pageLocalID);
    // A refused edit will likely never land, and an unreadable one is never sent.
    const auto waits = [this, pageLocalID] {
        const std::vector<FNSyncOp> edits = m_outbox.queuedPageEdits(pageLocalID);
        return std::any_of(edits.begin(), edits.end(),
                           [](const FNSyncOp &op) { return !op.refused && isReadable(op); });
    };
    if (!waits())
        co_return true;
    if (m_isSyncing) {
        co_await cycleUnderWayEnds(self);
        if (!self)
            co_return false;
        if (!waits())
            co_return true;
    }
    m_outbox.hurryPageEdits(pageLocalID);
    co_await syncQuietly(self);
    co_return self && !waits();
}

void SyncEngine::dropRefusedPageEdits(qint64 pageServerID)
{
    const FNPage *page = pageServerID != 0 ? m_store.pageWithServerID(pageServerID) : nullptr;
    if (!page)
        return;
    for (const FNSyncOp &op : m_outbox.queuedPageEdits(page->localID)) {
        if (op.refused)
            m_outbox.drop(op.localID);
    }
}
