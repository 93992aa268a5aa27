#include "editor/server_block_merge.h"

#include "blocks/block_content.h"
#include "editor/page_outbox.h"
#include "store/local_store.h"

#include <QSet>

namespace ServerBlockMerge {

namespace {

// The local block, still without a server id, that `dto` is this device's own copy of: the one its
// client id names; or, when the service does not say, an empty name for a block that looks exactly
// like one of `waiting` (left out: the pull tells which it is).
std::optional<QString> waitingOwnBlock(const LocalStore &store, const FNPage &page,
                                       const std::vector<FNBlock> &waiting, const BlockDTO &dto)
{
    if (dto.client_id) {
        const FNBlock *b = store.block(*dto.client_id);
        if (!b || b->pageLocalID != page.localID || b->serverID != 0)
            return std::nullopt;
        return b->localID;
    }
    for (const FNBlock &b : waiting) {
        if (b.type == dto.type && b.position == dto.position &&
            BlockContent::decode(b.contentJSON) == dto.content)
            return QString();
    }
    return std::nullopt;
}

} // namespace

int mergeServerBlocks(LocalStore &store, const FNPage &page, const std::vector<BlockDTO> &blocks)
{
    std::vector<FNBlock> added;
    QSet<qint64> addedIDs; // a reply that lists an id twice adds it once
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::vector<FNBlock> waiting; // this page's blocks that have no server id yet
    for (const FNBlock *b : store.blocksOfPage(page.localID)) {
        if (b->serverID == 0 && !b->deletedAt)
            waiting.push_back(*b);
    }
    for (const BlockDTO &dto : blocks) {
        if (store.blockWithServerID(dto.id) || addedIDs.contains(dto.id))
            continue;
        // This device's own block whose upsert landed before its reply did: it takes the id rather
        // than coming back as a second copy.
        if (const auto own = waitingOwnBlock(store, page, waiting, dto)) {
            if (!own->isEmpty()) {
                store.editBlock(
                    *own, [&](FNBlock &b) { b.serverID = dto.id; }, LocalStore::Stamp::Keep);
                // Removed here before its id came back: the upsert's answer or the pull that would
                // queue its delete now find the id set and leave the block be.
                if (const FNBlock *b = store.block(*own); b && b->deletedAt)
                    PageOutbox::queueBlockDelete(store, *b);
            }
            continue;
        }
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
    store.appendBlocks(added);
    return int(added.size());
}

QString serverContentJSON(const BlockDTO &block)
{
    return BlockContent::encode(block.content).value_or(QStringLiteral("{}"));
}

} // namespace ServerBlockMerge
