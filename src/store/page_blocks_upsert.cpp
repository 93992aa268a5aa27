#include "store/page_blocks_upsert.h"

#include "json/json_error.h"
#include "store/local_store.h"

#include <QHash>

#include <algorithm>

std::optional<BlocksUpsertReq> storedBlocksUpsert(const LocalStore &store, const QString &pageLocalID)
{
    const FNPage *page = store.page(pageLocalID);
    if (!page || page->serverID == 0)
        return std::nullopt;
    std::vector<FNBlock> blocks;
    for (const FNBlock *b : store.blocksOfPage(pageLocalID)) {
        if (!b->deletedAt)
            blocks.push_back(*b);
    }
    std::stable_sort(blocks.begin(), blocks.end(),
                     [](const FNBlock &a, const FNBlock &b) { return a.position < b.position; });
    QHash<QString, qint64> serverIDs;
    for (const FNBlock &b : blocks)
        serverIDs.insert(b.localID, b.serverID);

    BlocksUpsertReq req;
    req.page_id = page->serverID;
    for (const FNBlock &b : blocks) {
        qint64 parentID = b.parentBlockServerID;
        if (!b.parentBlockLocalID.isEmpty()) {
            // A block whose parent is not on the service yet waits for a later upsert.
            parentID = serverIDs.value(b.parentBlockLocalID, 0);
            if (parentID == 0)
                continue;
        }
        BlockUpsertItem item;
        item.client_id = b.localID;
        if (b.serverID != 0)
            item.id = b.serverID;
        item.type = b.type;
        try {
            item.content = parseJSONObject(b.contentJSON.toUtf8());
        } catch (const DecodeError &) {
            // Not a JSON object: sent empty, stored as it is.
        }
        item.position = b.position;
        if (parentID != 0)
            item.parent_block_id = parentID;
        req.blocks.push_back(std::move(item));
    }
    if (req.blocks.empty())
        return std::nullopt;
    return req;
}
