#include "store/outbox.h"

#include "store/block_fields.h"
#include "store/local_store.h"

#include <algorithm>

// The fill checks and the sweep of marks left by blocks that are gone. Bookkeeping no view shows:
// changed untold, written with the next save.

namespace {

template <typename State>
auto findCheck(State &s, const QString &blockLocalID) -> decltype(&s.fillChecks.front())
{
    const auto it = std::find_if(s.fillChecks.begin(), s.fillChecks.end(),
                                 [&](const FNFillCheck &c) { return c.blockLocalID == blockLocalID; });
    return it == s.fillChecks.end() ? nullptr : &*it;
}

} // namespace

const FNFillCheck *Outbox::fillCheck(const QString &blockLocalID) const
{
    return findCheck(m_store.state(), blockLocalID);
}

void Outbox::noteOtherVersion(const QString &blockLocalID, qint64 fields, const JSONObject &version)
{
    m_store.changeUntold([&](StoreState &s) {
        FNFillCheck *check = findCheck(s, blockLocalID);
        if (!check) {
            s.fillChecks.push_back(FNFillCheck{blockLocalID, fields, std::nullopt});
            check = &s.fillChecks.back();
        }
        // A version that carries only some keys (a move) leaves the others as they were.
        JSONObject other = check->other.value_or(JSONObject{});
        for (const char *key : {"content", "type", "position", "parent_block_id"}) {
            const auto it = version.find(QLatin1String(key));
            if (it != version.end())
                other[QLatin1String(key)] = it->second;
        }
        check->other = std::move(other);
    });
    save();
}

void Outbox::noteFilled(const QString &blockLocalID, qint64 fields)
{
    if (fields == 0) {
        dropFillChecks({blockLocalID});
        return;
    }
    m_store.changeUntold([&](StoreState &s) {
        if (FNFillCheck *check = findCheck(s, blockLocalID)) {
            check->fields = fields;
            check->repaired = 0; // what was put back went out with it
        } else {
            s.fillChecks.push_back(FNFillCheck{blockLocalID, fields, std::nullopt});
        }
    });
    save();
}

void Outbox::noteRepaired(const QString &blockLocalID, qint64 fields)
{
    m_store.changeUntold([&](StoreState &s) {
        FNFillCheck *check = findCheck(s, blockLocalID);
        if (!check) {
            s.fillChecks.push_back(FNFillCheck{blockLocalID, 0, std::nullopt});
            check = &s.fillChecks.back();
        }
        check->repaired |= fields;
    });
    save();
}

void Outbox::unmarkFields(const QString &pageLocalID, const QString &blockLocalID, qint64 fields)
{
    m_store.changeUntold([&](StoreState &s) {
        if (FNFillCheck *check = findCheck(s, blockLocalID))
            check->repaired &= ~fields;
        for (FNBlockEdit &e : s.editedBlocks) {
            if (e.blockLocalID == blockLocalID)
                e.fields &= ~fields;
        }
        std::erase_if(s.editedBlocks, [](const FNBlockEdit &e) { return e.fields == 0; });
    });
    // The queued upserts of the page carry them no more; a block left with nothing to carry goes out.
    const std::vector<FNSyncOp> queued = m_store.state().outbox;
    for (FNSyncOp op : queued) {
        if (op.kind() != SyncOpKind::BlockUpsert || op.refLocalID != pageLocalID || !op.carriedFields ||
            !op.carriedFields->contains(blockLocalID))
            continue;
        (*op.carriedFields)[blockLocalID] &= ~fields;
        replace(op);
    }
    takeOutOfUpserts([&](const FNSyncOp &op, const BlockUpsertItem &item) {
        return item.client_id == blockLocalID && op.carriedFields &&
               op.carriedFields->value(blockLocalID, BlockFields::All) == 0;
    });
    save();
}

void Outbox::noteRoomMoves(const QString &pageLocalID, const QHash<QString, qint64> &fromPositions)
{
    if (fromPositions.isEmpty())
        return;
    m_store.changeUntold([&](StoreState &s) {
        QHash<QString, size_t> checked;
        for (size_t i = 0; i < s.fillChecks.size(); ++i)
            checked.insert(s.fillChecks[i].blockLocalID, i);
        for (auto it = fromPositions.cbegin(); it != fromPositions.cend(); ++it) {
            const auto found = checked.constFind(it.key());
            if (found == checked.cend()) {
                FNFillCheck check{it.key(), 0, std::nullopt};
                check.roomFrom = it.value();
                s.fillChecks.push_back(std::move(check));
            } else if (!s.fillChecks[*found].roomFrom) {
                s.fillChecks[*found].roomFrom = it.value();
            }
        }
    });
    blocksEdited(pageLocalID, QStringList(fromPositions.keyBegin(), fromPositions.keyEnd()), BlockFields::Room);
    save();
}

void Outbox::dropRoomFrom(const QString &blockLocalID)
{
    const FNFillCheck *check = fillCheck(blockLocalID);
    if (!check || !check->roomFrom)
        return;
    m_store.changeUntold([&](StoreState &s) {
        FNFillCheck *c = findCheck(s, blockLocalID);
        c->roomFrom.reset();
        if (c->fields == 0 && !c->other && c->repaired == 0)
            std::erase_if(s.fillChecks, [&](const FNFillCheck &f) { return f.blockLocalID == blockLocalID; });
    });
    save();
}

void Outbox::dropFillChecks(const QSet<QString> &blockLocalIDs)
{
    if (blockLocalIDs.isEmpty())
        return;
    const auto gone = [&](const FNFillCheck &c) { return blockLocalIDs.contains(c.blockLocalID); };
    const auto &checks = m_store.state().fillChecks;
    if (std::none_of(checks.begin(), checks.end(), gone))
        return;
    m_store.changeUntold([&](StoreState &s) { std::erase_if(s.fillChecks, gone); });
    save();
}

void Outbox::keepMarksOfDeletedPage(const QString &pageLocalID, std::chrono::milliseconds undoWindow)
{
    m_undoablePages.insert(pageLocalID, QDeadlineTimer(undoWindow));
}

void Outbox::dropMarksOfGoneBlocks()
{
    m_undoablePages.removeIf([](const auto &entry) { return entry.value().hasExpired(); });
    const auto gone = [&](const QString &blockLocalID) {
        const FNBlock *block = m_store.block(blockLocalID);
        if (!block || block->deletedAt)
            return true;
        const FNPage *page = m_store.page(block->pageLocalID);
        return !page || (page->deletedAt && !m_undoablePages.contains(page->localID));
    };
    QSet<QString> dropped;
    for (const FNBlockEdit &e : m_store.state().editedBlocks) {
        if (gone(e.blockLocalID))
            dropped.insert(e.blockLocalID);
    }
    for (const FNFillCheck &c : m_store.state().fillChecks) {
        if (gone(c.blockLocalID))
            dropped.insert(c.blockLocalID);
    }
    if (dropped.isEmpty())
        return;
    m_store.changeUntold([&](StoreState &s) {
        std::erase_if(s.editedBlocks, [&](const FNBlockEdit &e) { return dropped.contains(e.blockLocalID); });
        std::erase_if(s.fillChecks, [&](const FNFillCheck &c) { return dropped.contains(c.blockLocalID); });
    });
    save();
}
