#include "editor/page_outbox.h"

#include "editor/page_block_list.h"
#include "store/local_store.h"
#include "store/page_blocks_upsert.h"

PageOutbox::PageOutbox(const PageBlockList &list)
    : m_list(list)
{
}

std::optional<BlocksUpsertReq> PageOutbox::blocksUpsertRequest(int *waitingForParent) const
{
    if (waitingForParent)
        *waitingForParent = 0;
    if (!m_list.page())
        return std::nullopt;
    LocalStore &store = m_list.store();
    auto upsert =
        storedBlocksUpsert(store, m_list.pageLocalID(), Outbox::of(store).editedBlocks(m_list.pageLocalID()));
    if (!upsert)
        return std::nullopt;
    if (waitingForParent)
        *waitingForParent = upsert->waitingForParent;
    return std::move(upsert->req);
}

PageOutbox::UpsertResult PageOutbox::queueBlockUpserts() const
{
    if (!m_list.page())
        return {};
    return Outbox::of(m_list.store()).pageBlocksUpsert(m_list.pageLocalID());
}

void PageOutbox::blockEdited(const QString &blockLocalID, qint64 fields) const
{
    Outbox::of(m_list.store()).blockEdited(m_list.pageLocalID(), blockLocalID, fields);
}

std::optional<FNSyncOp> PageOutbox::queuePageTitle(qint64 pageServerID, const QString &title,
                                                   std::chrono::milliseconds sendAfter) const
{
    PagePatchReq patch;
    patch.page_id = pageServerID;
    patch.title = title;
    return queuePageUpdate(patch, sendAfter);
}

void PageOutbox::queuePageIcon(qint64 pageServerID, const QString &icon) const
{
    PagePatchReq patch;
    patch.page_id = pageServerID;
    patch.icon = icon;
    queuePageUpdate(patch);
}

std::optional<FNSyncOp> PageOutbox::queuePageUpdate(const PagePatchReq &patch,
                                                    std::chrono::milliseconds sendAfter) const
{
    return Outbox::of(m_list.store())
        .pageUpdate(m_list.pageLocalID(), patch, Outbox::Unencodable::QueueEmptyObject,
                    QDateTime::currentDateTimeUtc(), sendAfter);
}

void PageOutbox::queueBlockDelete(LocalStore &store, const FNBlock &block)
{
    Outbox::of(store).blockDelete(block.localID, block.serverID);
}
