#include "store/page_blocks_upsert.h"

#include "json/json_error.h"
#include "store/block_fields.h"
#include "store/local_store.h"

#include <QHash>
#include <QSet>

#include <algorithm>

std::optional<PageBlocksUpsert> storedBlocksUpsert(const LocalStore &store, const QString &pageLocalID,
                                                   const QHash<QString, qint64> &edited,
                                                   const QSet<QString> &queued)
{
    const FNPage *page = store.page(pageLocalID);
    if (!page || page->serverID == 0)
        return std::nullopt;
    std::vector<const FNBlock *> blocks;
    std::vector<const FNBlock *> removed;
    for (const FNBlock *b : store.blocksOfPage(pageLocalID))
        (b->deletedAt ? removed : blocks).push_back(b);
    // Only the blocks that go out are sorted, and their ids looked up only when some block needs
    // them: a flush of one edited block on a long page pays for a scan, not for indexing every block.
    std::vector<const FNBlock *> sent;
    bool anyParent = false;
    for (const FNBlock *b : blocks) {
        // A change of nothing the service keeps (an indent) sends nothing, nor does a new block
        // unchanged since an upsert queued already carries it.
        if (edited.value(b->localID) == 0 && (b->serverID != 0 || queued.contains(b->localID)))
            continue;
        sent.push_back(b);
        anyParent = anyParent || !b->parentBlockLocalID.isEmpty();
    }
    QHash<QString, qint64> serverIDs; // the live blocks' ids, by local id
    if (!sent.empty() && (anyParent || !removed.empty())) {
        serverIDs.reserve(qsizetype(blocks.size()));
        for (const FNBlock *b : blocks) {
            if (!serverIDs.contains(b->localID))
                serverIDs.insert(b->localID, b->serverID);
        }
    }
    // Blocks under a block deleted here, at any depth: the service removes them with it, and would
    // keep a copy sent afterwards at the top level, its parent gone.
    QSet<QString> underRemoved;
    QSet<QString> goneLocal;
    QSet<qint64> goneServer;
    if (!sent.empty()) {
        for (const FNBlock *b : removed) {
            if (!serverIDs.contains(b->localID))
                goneLocal.insert(b->localID);
            if (b->serverID != 0 && !store.liveBlockWithServerID(b->serverID))
                goneServer.insert(b->serverID);
        }
    }
    for (bool grew = !sent.empty() && !removed.empty(); grew;) {
        grew = false;
        for (const FNBlock *b : blocks) {
            const bool under = b->parentBlockLocalID.isEmpty() ? goneServer.contains(b->parentBlockServerID)
                                                               : goneLocal.contains(b->parentBlockLocalID);
            if (!under || underRemoved.contains(b->localID))
                continue;
            underRemoved.insert(b->localID);
            goneLocal.insert(b->localID);
            if (b->serverID != 0)
                goneServer.insert(b->serverID);
            grew = true;
        }
    }
    std::stable_sort(sent.begin(), sent.end(),
                     [](const FNBlock *a, const FNBlock *b) { return listedBefore(*a, *b); });

    PageBlocksUpsert out;
    out.req.page_id = page->serverID;
    for (const FNBlock *b : sent) {
        if (underRemoved.contains(b->localID))
            continue;
        qint64 parentID = b->parentBlockServerID;
        if (!b->parentBlockLocalID.isEmpty()) {
            const auto parent = serverIDs.constFind(b->parentBlockLocalID);
            if (parent != serverIDs.cend() && *parent == 0) {
                ++out.waitingForParent;
                continue;
            }
            if (parent != serverIDs.cend())
                parentID = *parent;
        }
        BlockUpsertItem item;
        try {
            item.content = parseJSONObject(b->contentJSON.toUtf8());
        } catch (const DecodeError &) {
            continue;
        }
        item.client_id = b->localID;
        if (b->serverID != 0)
            item.id = b->serverID;
        item.type = b->type;
        item.position = b->position;
        if (parentID != 0)
            item.parent_block_id = parentID;
        out.req.blocks.push_back(std::move(item));
        out.carried.append(b->localID);
        out.fields.insert(b->localID, b->serverID == 0 ? qint64(BlockFields::All) : edited.value(b->localID));
    }
    return out;
}

void fillUpsertItem(const LocalStore &store, BlockUpsertItem &item, const FNBlock &block, qint64 fields)
{
    if (block.serverID != 0)
        item.id = block.serverID;
    if (fields & BlockFields::Content) {
        try {
            item.content = parseJSONObject(block.contentJSON.toUtf8());
        } catch (const DecodeError &) {
        }
    }
    if (fields & BlockFields::Kind)
        item.type = block.type;
    if (fields & BlockFields::Place) {
        item.position = block.position;
        qint64 parentID = block.parentBlockServerID;
        if (!block.parentBlockLocalID.isEmpty()) {
            if (const FNBlock *parent = store.block(block.parentBlockLocalID);
                parent && parent->serverID != 0)
                parentID = parent->serverID;
        }
        if (parentID != 0)
            item.parent_block_id = parentID;
        else
            item.parent_block_id.reset();
    }
}
