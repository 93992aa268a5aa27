#include "editor/page_outbox.h"

#include "blocks/block_content.h"
#include "editor/page_block_list.h"
#include "store/outbox.h"

#include <QHash>

PageOutbox::PageOutbox(const PageBlockList &list)
    : m_list(list)
{
}

std::optional<BlocksUpsertReq> PageOutbox::blocksUpsertRequest(int *waitingForParent) const
{
    if (waitingForParent)
        *waitingForParent = 0;
    const auto page = m_list.page();
    if (!page || page->serverID == 0)
        return std::nullopt;
    const std::vector<FNBlock> blocks = m_list.pageBlocks();
    QHash<QString, qint64> serverIDs; // the first block with each localID
    serverIDs.reserve(qsizetype(blocks.size()));
    for (const FNBlock &block : blocks)
        serverIDs.insert(block.localID, block.serverID);

    BlocksUpsertReq req;
    req.page_id = page->serverID;
    req.blocks.reserve(blocks.size());
    for (const FNBlock &block : blocks) {
        qint64 parentID = block.parentBlockServerID;
        if (!block.parentBlockLocalID.isEmpty()) {
            const auto parent = serverIDs.constFind(block.parentBlockLocalID);
            // A parent that is gone leaves its child out for good; one still without a server id
            // only until it has one.
            if (parent == serverIDs.cend())
                continue;
            if (*parent == 0) {
                if (waitingForParent)
                    ++*waitingForParent;
                continue;
            }
            parentID = *parent;
        }
        BlockUpsertItem item;
        item.client_id = block.localID;
        if (block.serverID != 0)
            item.id = block.serverID;
        item.type = block.type;
        auto decoded = m_decoded.find(block.localID);
        if (decoded == m_decoded.end() || decoded->first != block.contentJSON)
            decoded =
                m_decoded.insert(block.localID, {block.contentJSON, BlockContent::decode(block.contentJSON)});
        item.content = decoded->second;
        item.position = block.position;
        if (parentID != 0)
            item.parent_block_id = parentID;
        req.blocks.push_back(std::move(item));
    }
    return req;
}

PageOutbox::UpsertResult PageOutbox::queueBlockUpserts() const
{
    UpsertResult result;
    const auto page = m_list.page();
    if (!page) {
        result.outcome = Outcome::NoPage;
        return result;
    }
    if (page->serverID == 0) {
        result.outcome = Outcome::PageNotOnServer;
        return result;
    }
    const std::optional<BlocksUpsertReq> req = blocksUpsertRequest(&result.waitingForParent);
    if (!req || req->blocks.empty()) {
        result.outcome = Outcome::NothingToSend;
        return result;
    }
    if (!Outbox::of(m_list.store()).blocksUpsert(page->localID, *req)) {
        result.outcome = Outcome::NotEncodable;
        return result;
    }
    result.outcome = Outcome::Queued;
    return result;
}

void PageOutbox::queuePageTitle(qint64 pageServerID, const QString &title) const
{
    PagePatchReq patch;
    patch.page_id = pageServerID;
    patch.title = title;
    queuePageUpdate(patch);
}

void PageOutbox::queuePageIcon(qint64 pageServerID, const QString &icon) const
{
    PagePatchReq patch;
    patch.page_id = pageServerID;
    patch.icon = icon;
    queuePageUpdate(patch);
}

void PageOutbox::queuePageUpdate(const PagePatchReq &patch) const
{
    Outbox::of(m_list.store()).pageUpdate(m_list.pageLocalID(), patch, Outbox::Unencodable::QueueEmptyObject);
}

void PageOutbox::queueBlockDelete(LocalStore &store, const FNBlock &block)
{
    Outbox::of(store).blockDelete(block.localID, block.serverID);
}
