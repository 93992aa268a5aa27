#include "editor/server_block_merge.h"

#include "editor/block_content.h"
#include "store/local_store.h"

#include <QSet>

namespace ServerBlockMerge {

int mergeServerBlocks(LocalStore &store, const FNPage &page, const std::vector<BlockDTO> &blocks)
{
    std::vector<FNBlock> added;
    QSet<qint64> addedIDs; // a reply that lists an id twice adds it once
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const BlockDTO &dto : blocks) {
        if (store.indexOfBlockWithServerID(dto.id) >= 0 || addedIDs.contains(dto.id))
            continue;
        FNBlock block;
        block.localID = newLocalID();
        block.serverID = dto.id;
        block.pageServerID = page.serverID;
        block.pageLocalID = page.localID;
        block.parentBlockServerID = dto.parent_block_id.value_or(0);
        block.type = dto.type;
        block.contentJSON = serverContentJSON(dto);
        block.position = dto.position;
        block.indentLevel = 0;
        block.createdAt = block.updatedAt = now;
        addedIDs.insert(dto.id);
        added.push_back(std::move(block));
    }
    if (added.empty())
        return 0;
    // Fresh ids that no local block carries: the upsert rule appends each, so one change appends
    // them all (and the open rows react once, not once per block).
    store.change(
        [&](StoreState &state) { state.blocks.insert(state.blocks.end(), added.begin(), added.end()); });
    store.scheduleSave();
    return int(added.size());
}

QString serverContentJSON(const BlockDTO &block)
{
    return BlockContent::encode(block.content).value_or(QStringLiteral("{}"));
}

} // namespace ServerBlockMerge
