#include "store/sync_engine.h"

#include "api/wire/blocks.h"
#include "store/block_fields.h"
#include "store/block_places.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/page_blocks_upsert.h"
#include "store/page_links.h"
#include "store/sync_payload.h"

#include <QSet>

#include <cstdlib>
#include <limits>
#include <map>

// A block upsert sends from this device's copy every field of a block: those changed here, and the
// others as the pull just before it left them, the service's newest. A write of another device landing
// between that pull and the push is written over; the feed then brings it back before the push's
// echo, and the fields only filled are put back to it and sent again. What that takes is kept in the
// state (FNFillCheck), so it holds across a kill and a lost answer.

namespace {

constexpr qint64 kFields[] = {BlockFields::Content, BlockFields::Kind, BlockFields::Place};

using syncPayload::has;
using syncPayload::intOr;
using syncPayload::stringOr;
using syncPayload::valueOr;

bool holds(const JSONObject &version, qint64 field)
{
    switch (field) {
    case BlockFields::Content:
        return has(version, "content");
    case BlockFields::Kind:
        return has(version, "type");
    default:
        return has(version, "position");
    }
}

// Whether the two hold the same value of the field; a missing parent is the top level.
bool sameField(const JSONObject &a, const JSONObject &b, qint64 field)
{
    switch (field) {
    case BlockFields::Content:
        return valueOr(a, "content") == valueOr(b, "content");
    case BlockFields::Kind:
        return valueOr(a, "type") == valueOr(b, "type");
    default:
        return intOr(a, "position", 0) == intOr(b, "position", 0) &&
               intOr(a, "parent_block_id", 0) == intOr(b, "parent_block_id", 0);
    }
}

// Whether another device's position of a block stands over this device's move of it, made only to
// make room, from `from` to `ours`. Its own room made the same way stands where it goes further: the
// lines each device made room for then all keep to their side of the block.
bool theirPlaceStands(qint64 from, qint64 ours, qint64 theirs)
{
    if (theirs == from)
        return false; // not moved there: a copy of the place as it was
    const bool sameWay = (theirs > from) == (ours > from);
    return !sameWay || std::abs(theirs - from) >= std::abs(ours - from);
}

} // namespace

bool SyncEngine::needsFreshCopy() const
{
    // Only a push that is due: one waiting out its back-off sends nothing this cycle.
    const QDateTime passTime = now();
    const auto &outbox = m_store.state().outbox;
    return std::any_of(outbox.begin(), outbox.end(), [&](const FNSyncOp &op) {
        return (!op.nextRetryAt || *op.nextRetryAt <= passTime) &&
               (needsPullFirst(op) || Outbox::isStrayCopyDelete(op));
    });
}

bool SyncEngine::needsPullFirst(const FNSyncOp &op)
{
    return fillsFields(op) || (op.kind() == SyncOpKind::BlockUpsert && op.unanswered);
}

bool SyncEngine::roomGivesWay(const FNBlock &block, const JSONObject &pulled) const
{
    const FNFillCheck *check = m_outbox.fillCheck(block.localID);
    if (!check || !check->roomFrom)
        return false; // nothing known of where it was: this device's move holds, as any other
    if (has(pulled, "parent_block_id") && block.parentBlockLocalID.isEmpty() &&
        intOr(pulled, "parent_block_id", 0) != block.parentBlockServerID)
        return true;
    return has(pulled, "position") &&
           theirPlaceStands(*check->roomFrom, block.position, intOr(pulled, "position", 0));
}

void SyncEngine::yieldRoom(const FNBlock &block)
{
    // A page's upsert of room moves may carry thousands of blocks: it is rewritten once for all of
    // them that give way in the page of the feed, not once for each.
    m_yieldedRoom[block.pageLocalID].insert(block.localID);
    if (const auto it = m_unsentEdits.find(block.localID); it != m_unsentEdits.end())
        *it &= ~qint64(BlockFields::Room);
}

void SyncEngine::settleYieldedRoom()
{
    for (auto it = m_yieldedRoom.cbegin(); it != m_yieldedRoom.cend(); ++it) {
        m_outbox.unmarkFields(it.key(), it.value(), BlockFields::Room);
        for (const QString &id : it.value())
            m_outbox.dropRoomFrom(id);
    }
    m_yieldedRoom.clear();
}

bool SyncEngine::fillsFields(const FNSyncOp &op)
{
    if (op.kind() != SyncOpKind::BlockUpsert || !op.carriedFields)
        return false;
    const auto &carried = *op.carriedFields;
    return std::any_of(carried.cbegin(), carried.cend(), [](qint64 f) { return f != BlockFields::All; });
}

void SyncEngine::fillFromStore(BlocksUpsertReq &req, const FNSyncOp &op)
{
    m_sending.clear();
    if (const FNPage *page = m_store.page(op.refLocalID); page && page->serverID != 0)
        req.page_id = page->serverID;
    std::erase_if(req.blocks, [&](BlockUpsertItem &item) {
        const FNBlock *block = m_store.block(item.client_id);
        // Deleted here, or by the pull just before as the service had it: it must not come back.
        if (block && block->deletedAt)
            return true;
        // Without a copy here to fill from, it goes as queued.
        if (block)
            fillItem(item, *block, op);
        // A link queued, or made from a template, while its page had no server id names the page by
        // a local id no other device knows.
        pageLinks::resolveLink(m_store, item.type, item.content);
        return false;
    });
}

void SyncEngine::fillItem(BlockUpsertItem &item, const FNBlock &block, const FNSyncOp &op)
{
    // A block the service does not have (or no longer has) goes whole.
    const qint64 carried = block.serverID != 0 ? op.fieldsCarried(item.client_id) : BlockFields::All;
    if (block.serverID == 0) {
        item.id.reset();
        // A pull may have put it back after the block it was typed after since it was queued.
        item.position = block.position;
    }
    const qint64 filled = BlockFields::All & ~carried;
    fillUpsertItem(m_store, item, block, filled);
    // A field put back to another device's write is that device's, not this one's: a still newer
    // write of it covered by this push is put back in turn.
    const FNFillCheck *check = m_outbox.fillCheck(item.client_id);
    const qint64 theirs = filled | (check ? check->repaired : 0);
    m_sending.insert(item.client_id, block.serverID != 0 ? theirs : 0);
}

void SyncEngine::noteSending()
{
    for (auto it = m_sending.cbegin(); it != m_sending.cend(); ++it)
        m_outbox.noteFilled(it.key(), it.value());
    m_sending.clear();
}

qint64 SyncEngine::noteOtherVersion(const FNBlock &block, const JSONObject &pulled, qint64 mine)
{
    const FNFillCheck *check = m_outbox.fillCheck(block.localID);
    // Only a block some of whose fields go, or went, out unchanged can be written over.
    if ((mine == 0 || mine == BlockFields::All) && !check)
        return mine;
    // A field put back and not sent yet was this device's only to restore that write: a newer one
    // stands instead.
    qint64 overtaken = 0;
    if (check) {
        for (const qint64 field : kFields) {
            if ((check->repaired & field) && holds(pulled, field))
                overtaken |= field;
        }
    }
    if (overtaken) {
        m_outbox.unmarkFields(block.pageLocalID, block.localID, overtaken);
        mine &= ~overtaken;
        if (const auto it = m_unsentEdits.find(block.localID); it != m_unsentEdits.end())
            *it = mine;
    }
    m_outbox.noteOtherVersion(block.localID, BlockFields::All & ~mine, pulled);
    return mine;
}

qint64 SyncEngine::repairOverwrite(FNBlock &block, const JSONObject &echo, qint64 mine)
{
    const FNFillCheck *found = m_outbox.fillCheck(block.localID);
    if (!found)
        return 0;
    const FNFillCheck check = *found;
    m_outbox.dropFillChecks({block.localID});
    if (check.repaired)
        m_outbox.noteRepaired(block.localID, check.repaired); // not sent yet: still open to a newer write
    if (check.roomFrom && (mine & BlockFields::Room))         // a later move to make room is still to go out
        m_outbox.noteRoomMoves(block.pageLocalID, {{block.localID, *check.roomFrom}});
    if (!check.other)
        return 0;
    const JSONObject &other = *check.other;
    qint64 repaired = 0;
    for (const qint64 field : kFields) {
        if (!(check.fields & field) || (mine & field) || !holds(other, field) ||
            sameField(echo, other, field))
            continue;
        // Its own place went out only to make room: the other's stands only where it chose one.
        if (field == BlockFields::Place && check.roomFrom &&
            intOr(other, "parent_block_id", 0) == intOr(echo, "parent_block_id", 0) &&
            !theirPlaceStands(*check.roomFrom, intOr(echo, "position", 0), intOr(other, "position", 0)))
            continue;
        if (field == BlockFields::Content) {
            block.contentJSON = contentJSON(other);
        } else if (field == BlockFields::Kind) {
            block.type = stringOr(other, "type", QStringLiteral("text"));
        } else {
            block.position = intOr(other, "position", 0);
            setPulledParent(block, intOr(other, "parent_block_id", 0));
        }
        repaired |= field;
    }
    if (repaired) {
        m_outbox.blockEdited(block.pageLocalID, block.localID, repaired);
        m_outbox.noteRepaired(block.localID, repaired);
        m_repairedPages.insert(block.pageLocalID);
    }
    return repaired;
}

void SyncEngine::setPulledParent(FNBlock &block, qint64 parentServerID)
{
    block.parentBlockServerID = parentServerID;
    // A local link to the old parent would win over the service's new one.
    if (block.parentBlockLocalID.isEmpty())
        return;
    const FNBlock *parent = m_store.block(block.parentBlockLocalID);
    if (!parent || parent->serverID != parentServerID)
        block.parentBlockLocalID.clear();
}

void SyncEngine::queueRepairs()
{
    for (const QString &page : std::exchange(m_repairedPages, {}))
        m_outbox.pageBlocksUpsert(page);
}

void SyncEngine::noteRoomPages()
{
    m_roomPages.clear();
    m_roomBases.clear();
    // Until its echo is in, a move made only to make room may be new to the other devices.
    for (const FNFillCheck &check : m_store.state().fillChecks) {
        if (!check.roomFrom)
            continue;
        if (const FNBlock *block = m_store.block(check.blockLocalID)) {
            m_roomPages.insert(block->pageLocalID);
            m_roomBases.insert(block->localID, *check.roomFrom);
        }
    }
}

void SyncEngine::keepPlacesAmongRoom()
{
    for (auto page = m_placedByOthers.cbegin(); page != m_placedByOthers.cend(); ++page) {
        struct Placed {
            const FNBlock *block;
            qint64 applied;
        };
        std::vector<Placed> placed;
        QSet<const FNBlock *> isPlaced;
        for (auto entry = page.value().cbegin(); entry != page.value().cend(); ++entry) {
            const FNBlock *b = m_store.block(entry.key());
            // Put elsewhere since by this device's own echo: no longer the other's place.
            if (b && !b->deletedAt && b->position == entry.value().position) {
                placed.push_back({b, entry.value().applied});
                isPlaced.insert(b);
            }
        }
        if (placed.empty())
            continue;
        // Per parent of a placed block, its siblings by the places the other device saw, sorted once:
        // those moved here to make room count where they were, those the service does not have yet
        // not at all (their own runs are put back after their neighbours afterwards), and the placed
        // ones go together between the others.
        struct Sibling {
            qint64 base;
            const FNBlock *block;
        };
        struct Group {
            const FNBlock *lead;
            std::vector<Sibling> siblings;
        };
        std::vector<Group> groups;
        const auto groupOf = [&](const FNBlock &b) -> Group * {
            for (Group &g : groups) {
                if (sameParent(*g.lead, b))
                    return &g;
            }
            return nullptr;
        };
        for (const Placed &p : placed) {
            if (!groupOf(*p.block))
                groups.push_back({p.block, {}});
        }
        for (const FNBlock *b : m_store.blocksOfPage(page.key())) {
            if (b->deletedAt || b->serverID == 0 || isPlaced.contains(b))
                continue;
            if (Group *g = groupOf(*b))
                g->siblings.push_back({m_roomBases.value(b->localID, b->position), b});
        }
        for (Group &g : groups) {
            std::stable_sort(g.siblings.begin(), g.siblings.end(),
                             [](const Sibling &a, const Sibling &b) { return a.base < b.base; });
        }
        QHash<QString, qint64> roomFrom; // noted once for the page: each note walks every check
        // The placed blocks by the pair of siblings they were placed between.
        std::map<std::pair<const Sibling *, const Sibling *>, std::vector<const FNBlock *>> spans;
        for (const Placed &p : placed) {
            const std::vector<Sibling> &siblings = groupOf(*p.block)->siblings;
            const qint64 at = p.block->position;
            const auto counts = [&](const Sibling &s) {
                // Landed from here after the other device placed its block: not there when it did.
                return m_ownEchoes.value(s.block->localID, -1) <= p.applied ||
                       m_roomBases.contains(s.block->localID);
            };
            const auto split = std::upper_bound(siblings.begin(), siblings.end(), at,
                                                [](qint64 v, const Sibling &s) { return v < s.base; });
            const Sibling *before = nullptr;
            for (auto it = split; it != siblings.begin() && !before;) {
                if (counts(*--it))
                    before = &*it;
            }
            const Sibling *after = nullptr;
            for (auto it = split; it != siblings.end() && !after; ++it) {
                if (counts(*it))
                    after = &*it;
            }
            spans[{before, after}].push_back(p.block);
        }
        for (auto &[between, blocks] : spans) {
            const auto [before, after] = between;
            const bool moved = (before && before->base != before->block->position) ||
                               (after && after->base != after->block->position);
            if (!moved)
                continue;
            const qint64 lo = before ? before->block->position
                                     : BlockPlaces::moved(after->block->position, -2 * kBlockPositionGap);
            const qint64 hi = after ? after->block->position
                                    : BlockPlaces::moved(before->block->position, 2 * kBlockPositionGap);
            const auto inside = [&](const FNBlock *b) {
                return (!before || b->position > lo) && (!after || b->position < hi);
            };
            if (std::all_of(blocks.begin(), blocks.end(), inside))
                continue; // between them still
            std::stable_sort(blocks.begin(), blocks.end(),
                             [](const FNBlock *a, const FNBlock *b) { return listedBefore(*a, *b); });
            // Those left before the one or past the other come between, in the order the other device
            // gave them, next to those still there; the rest keep their places.
            const auto firstInside = std::find_if(blocks.begin(), blocks.end(), inside);
            const auto pastInside = std::find_if_not(firstInside, blocks.end(), inside);
            const auto spreadOver = [&](auto from, auto to, qint64 low, qint64 high) {
                const auto places =
                    BlockPlaces::spread(low, high, size_t(to - from), std::numeric_limits<quint64>::max());
                if (from == to || !places)
                    return; // no room left there: they keep the places they came with
                QStringList ids;
                for (auto it = from; it != to; ++it)
                    ids << (*it)->localID;
                for (qsizetype i = 0; i < ids.size(); ++i) {
                    const qint64 position = (*places)[size_t(i)];
                    const qint64 was = m_store.block(ids[i])->position;
                    if (was == position)
                        continue;
                    m_store.editBlock(
                        ids[i], [&](FNBlock &block) { block.position = position; }, LocalStore::Stamp::Keep);
                    roomFrom.insert(ids[i], was);
                    m_unsentEdits[ids[i]] =
                        BlockFields::merged(m_unsentEdits.value(ids[i]), BlockFields::Room);
                }
            };
            if (firstInside == blocks.end()) {
                spreadOver(blocks.begin(), blocks.end(), lo, hi);
                continue;
            }
            const qint64 insideLow = (*firstInside)->position;
            const qint64 insideHigh = (*(pastInside - 1))->position;
            spreadOver(blocks.begin(), firstInside, lo, insideLow);
            spreadOver(pastInside, blocks.end(), insideHigh, hi);
        }
        if (!roomFrom.isEmpty()) {
            m_outbox.noteRoomMoves(page.key(), roomFrom);
            m_repairedPages.insert(page.key());
        }
    }
    m_placedByOthers.clear();
    m_roomBases.clear();
    m_ownEchoes.clear();
}
