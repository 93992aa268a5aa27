#include "store/sync_engine.h"

#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox.h"

#include <algorithm>

// Blocks this device sent coming back from the service: its echoes, the ids they take, and copies
// the service made anew of a block deleted meanwhile.

bool SyncEngine::adoptEcho(qint64 serverID, const QString &clientID)
{
    if (clientID.isEmpty())
        return false;
    const FNBlock *block = m_store.block(clientID);
    if (!block)
        return false;
    if (block->serverID != 0 && block->serverID != serverID) {
        // The block this device sent by its id was deleted meanwhile and the service made it anew:
        // what went from here was only its place, so the delete stands.
        const qint64 mine = m_unsentEdits.value(clientID);
        if (block->deletedAt ||
            (BlockFields::sendsPlace(mine) && !(mine & (BlockFields::Content | BlockFields::Kind)))) {
            deleteStrayCopy(clientID, serverID);
            return true;
        }
        return false; // another record of the service claims this block; the pull takes it as new
    }
    // The upsert reached the service but its reply did not reach here: the block is this device's
    // own, as sent, and takes its id rather than coming back as a second copy.
    if (m_roomPages.contains(block->pageLocalID))
        m_ownEchoes.insert(clientID, m_applied);
    noteLanded(block->pageLocalID, clientID);
    giveBlockServerID(clientID, serverID);
    return true;
}

void SyncEngine::giveBlockServerID(const QString &blockLocalID, qint64 serverID)
{
    if (!m_store.block(blockLocalID))
        return;
    // A copy the pull made of this very block before its id was known would share the id.
    const auto sharing = m_store.blocksWithServerID(serverID);
    const bool copied = std::any_of(sharing.begin(), sharing.end(),
                                    [&](const FNBlock *b) { return b->localID != blockLocalID; });
    if (copied) {
        m_store.change([&](StoreState &s) {
            s.blocks.erase(std::remove_if(s.blocks.begin(), s.blocks.end(),
                                          [&](const FNBlock &b) {
                                              return b.serverID == serverID && b.localID != blockLocalID;
                                          }),
                           s.blocks.end());
        });
    }
    if (m_store.block(blockLocalID)->serverID == serverID && !copied)
        return;
    m_store.editBlock(
        blockLocalID, [&](FNBlock &block) { block.serverID = serverID; }, LocalStore::Stamp::Keep);
    // Deleted here while its upsert was on its way: no delete could be queued without the id.
    if (m_store.block(blockLocalID)->deletedAt)
        m_outbox.blockDelete(blockLocalID, serverID);
}

bool SyncEngine::holdsEditsBelow(const FNBlock &block, const QHash<QString, qint64> &sent) const
{
    const QHash<QString, qint64> unsent = m_outbox.blocksWithUnsentEdits();
    constexpr qint64 kOwn = BlockFields::Content | BlockFields::Kind | BlockFields::Place;
    const auto editedHere = [&](const FNBlock &b) {
        return b.serverID == 0 || (unsent.value(b.localID) & kOwn) || (sent.value(b.localID) & kOwn) ||
               (m_unsentEdits.value(b.localID) & kOwn) || m_landedHere.contains(b.localID);
    };
    for (const FNBlock *b : m_store.blocksOfPage(block.pageLocalID)) {
        if (b->deletedAt || b->localID == block.localID || !editedHere(*b))
            continue;
        size_t depth = 0;
        for (const FNBlock *up = parentBlock(*b); up && depth < kMaxBlockDepth;
             up = parentBlock(*up), ++depth) {
            if (up->localID == block.localID)
                return true;
        }
    }
    return false;
}

void SyncEngine::deleteStrayCopy(const QString &blockLocalID, qint64 serverID,
                                 const QHash<QString, qint64> &sent)
{
    const FNBlock *block = m_store.block(blockLocalID);
    if (!block)
        return;
    // The copy holds what was changed here under it, on the service too: a delete would take that.
    if (!block->deletedAt && holdsEditsBelow(*block, sent)) {
        giveBlockServerID(blockLocalID, serverID);
        return;
    }
    // Known by the new id from now on, so its echo and its delete's find it here, deleted.
    m_store.editBlock(
        blockLocalID,
        [&](FNBlock &b) {
            b.serverID = serverID;
            if (!b.deletedAt)
                b.deletedAt = now();
        },
        LocalStore::Stamp::Keep);
    // Its marks go with the pull's sweep; a queued upsert leaves out a block deleted here.
    m_outbox.dropFillChecks({blockLocalID});
    m_outbox.strayCopyDelete(blockLocalID, serverID);
}

void SyncEngine::noteStrayDeletesBeforePull()
{
    m_straysBeforePull.clear();
    for (const FNSyncOp &op : m_store.state().outbox) {
        if (Outbox::isStrayCopyDelete(op))
            m_straysBeforePull.insert(op.localID);
    }
}

bool SyncEngine::strayDeleteWaits(const FNSyncOp &op) const
{
    return Outbox::isStrayCopyDelete(op) && (m_freshCopyError || !m_straysBeforePull.contains(op.localID));
}
