#include "store/outbox.h"

#include "json/json_coder.h"
#include "json/json_error.h"
#include "store/block_fields.h"
#include "store/local_store.h"

#include <QSet>

#include <algorithm>
#include <functional>

// The fill checks and the sweep of marks left by blocks that are gone. Bookkeeping no view shows:
// changed untold, written with the next save.

namespace {

// Nothing that may have landed to check, nothing put back to send, no room to settle.
bool isIdle(const FNFillCheck &c)
{
    return c.fields == 0 && c.repaired == 0 && !c.roomFrom;
}

} // namespace

void Outbox::indexChecks() const
{
    const auto &checks = m_store.state().fillChecks;
    m_checks.at.clear();
    m_checks.at.reserve(qsizetype(checks.size()));
    for (size_t i = 0; i < checks.size(); ++i) {
        if (!m_checks.at.contains(checks[i].blockLocalID))
            m_checks.at.insert(checks[i].blockLocalID, i);
    }
    m_checks.count = checks.size();
    m_checks.generation = m_store.generation();
    m_checks.stale = false;
}

qsizetype Outbox::checkAt(const QString &blockLocalID) const
{
    const auto &checks = m_store.state().fillChecks;
    if (m_checks.stale || m_checks.count != checks.size() || m_checks.generation != m_store.generation())
        indexChecks();
    for (int pass = 0; pass < 2; ++pass) {
        const auto it = m_checks.at.constFind(blockLocalID);
        if (it == m_checks.at.cend())
            return -1;
        if (*it < checks.size() && checks[*it].blockLocalID == blockLocalID)
            return qsizetype(*it);
        indexChecks(); // the list was written some other way since
    }
    return -1;
}

FNFillCheck &Outbox::addCheck(StoreState &s, FNFillCheck check)
{
    const bool inStep = !m_checks.stale && m_checks.count == s.fillChecks.size();
    s.fillChecks.push_back(std::move(check));
    if (inStep) {
        m_checks.at.insert(s.fillChecks.back().blockLocalID, s.fillChecks.size() - 1);
        m_checks.count = s.fillChecks.size();
    } else {
        m_checks.stale = true;
    }
    return s.fillChecks.back();
}

void Outbox::eraseCheck(StoreState &s, size_t at)
{
    // The last check takes its slot: the list's order means nothing, and nothing else moves.
    const bool inStep = !m_checks.stale && m_checks.count == s.fillChecks.size();
    const QString gone = s.fillChecks[at].blockLocalID;
    const bool moved = at + 1 != s.fillChecks.size();
    if (moved)
        s.fillChecks[at] = std::move(s.fillChecks.back());
    s.fillChecks.pop_back();
    if (!inStep) {
        m_checks.stale = true;
        return;
    }
    m_checks.at.remove(gone);
    if (moved)
        m_checks.at.insert(s.fillChecks[at].blockLocalID, at);
    m_checks.count = s.fillChecks.size();
}

const FNFillCheck *Outbox::fillCheck(const QString &blockLocalID) const
{
    const qsizetype at = checkAt(blockLocalID);
    return at < 0 ? nullptr : &m_store.state().fillChecks[size_t(at)];
}

void Outbox::noteOtherVersion(const QString &blockLocalID, qint64 fields, const JSONObject &version)
{
    m_store.changeUntold([&](StoreState &s) {
        const qsizetype at = checkAt(blockLocalID);
        FNFillCheck &check =
            at < 0 ? addCheck(s, FNFillCheck{blockLocalID, fields, std::nullopt}) : s.fillChecks[size_t(at)];
        // A version that carries only some keys (a move) leaves the others as they were.
        JSONObject other = check.other.value_or(JSONObject{});
        for (const char *key : {"content", "type", "position", "parent_block_id"}) {
            const auto it = version.find(QLatin1String(key));
            if (it != version.end())
                other[QLatin1String(key)] = it->second;
        }
        check.other = std::move(other);
    });
    saveChecks();
}

void Outbox::noteFilled(const QString &blockLocalID, qint64 fields)
{
    if (fields == 0) {
        dropFillChecks({blockLocalID});
        return;
    }
    m_store.changeUntold([&](StoreState &s) {
        if (const qsizetype at = checkAt(blockLocalID); at >= 0) {
            s.fillChecks[size_t(at)].fields = fields;
            s.fillChecks[size_t(at)].repaired = 0; // what was put back went out with it
            s.fillChecks[size_t(at)].awaitingEcho = true;
        } else {
            addCheck(s, FNFillCheck{blockLocalID, fields, std::nullopt}).awaitingEcho = true;
        }
    });
    saveChecks();
}

void Outbox::noteRepaired(const QString &blockLocalID, qint64 fields)
{
    m_store.changeUntold([&](StoreState &s) {
        const qsizetype at = checkAt(blockLocalID);
        FNFillCheck &check =
            at < 0 ? addCheck(s, FNFillCheck{blockLocalID, 0, std::nullopt}) : s.fillChecks[size_t(at)];
        check.repaired |= fields;
    });
    saveChecks();
}

void Outbox::unmarkFields(const QString &pageLocalID, const QString &blockLocalID, qint64 fields)
{
    unmarkFields(pageLocalID, QSet<QString>{blockLocalID}, fields);
}

void Outbox::unmarkFields(const QString &pageLocalID, const QSet<QString> &blockLocalIDs, qint64 fields)
{
    if (blockLocalIDs.isEmpty())
        return;
    m_store.changeUntold([&](StoreState &s) {
        for (const QString &id : blockLocalIDs) {
            const qsizetype at = checkAt(id);
            if (at < 0)
                continue;
            FNFillCheck &check = s.fillChecks[size_t(at)];
            check.repaired &= ~fields;
            if (isIdle(check))
                eraseCheck(s, size_t(at));
        }
        std::erase_if(s.editedBlocks, [&](FNBlockEdit &e) {
            if (blockLocalIDs.contains(e.blockLocalID))
                e.fields &= ~fields;
            return e.fields == 0;
        });
    });
    // Only the page's queued upserts that carry the blocks are touched, and only those left carrying
    // nothing of one of them are read, once each, to leave those blocks out.
    const auto &outbox = m_store.state().outbox;
    std::vector<size_t> carrying;
    for (size_t i = 0; i < outbox.size(); ++i) {
        const FNSyncOp &op = outbox[i];
        if (op.refLocalID != pageLocalID || !op.carriedFields || op.kind() != SyncOpKind::BlockUpsert)
            continue;
        const auto &carried = *op.carriedFields;
        if (std::any_of(blockLocalIDs.begin(), blockLocalIDs.end(),
                        [&](const QString &id) { return carried.contains(id); }))
            carrying.push_back(i);
    }
    QHash<QString, QSet<QString>> emptied; // by operation, the blocks it carries nothing of
    if (!carrying.empty()) {
        m_store.changeOutsideRecords([&](StoreState &s) {
            for (const size_t i : carrying) {
                auto &carried = *s.outbox[i].carriedFields;
                for (const QString &id : blockLocalIDs) {
                    const auto it = carried.find(id);
                    if (it == carried.end())
                        continue;
                    *it &= ~fields;
                    if (*it == 0)
                        emptied[s.outbox[i].localID].insert(id);
                }
            }
        });
    }
    for (auto it = emptied.cbegin(); it != emptied.cend(); ++it) {
        std::optional<FNSyncOp> op = find(it.key());
        if (!op)
            continue;
        BlocksUpsertReq req;
        try {
            req = sharedJSONDecode<BlocksUpsertReq>(op->payloadJSON.toUtf8());
        } catch (const DecodeError &) {
            continue;
        }
        if (std::erase_if(req.blocks,
                          [&](const BlockUpsertItem &item) { return it->contains(item.client_id); }) == 0)
            continue;
        for (const QString &id : *it)
            op->carriedFields->remove(id);
        if (req.blocks.empty())
            drop(op->localID);
        else
            replaceBlocksUpsert(*op, req);
    }
    save();
}

void Outbox::noteRoomMoves(const QString &pageLocalID, const QHash<QString, qint64> &fromPositions)
{
    if (fromPositions.isEmpty())
        return;
    m_store.changeUntold([&](StoreState &s) {
        for (auto it = fromPositions.cbegin(); it != fromPositions.cend(); ++it) {
            const qsizetype at = checkAt(it.key());
            if (at < 0) {
                FNFillCheck check{it.key(), 0, std::nullopt};
                check.roomFrom = it.value();
                addCheck(s, std::move(check));
            } else if (!s.fillChecks[size_t(at)].roomFrom) {
                s.fillChecks[size_t(at)].roomFrom = it.value();
            }
        }
    });
    blocksEdited(pageLocalID, QStringList(fromPositions.keyBegin(), fromPositions.keyEnd()),
                 BlockFields::Room);
    save();
}

void Outbox::dropRoomFrom(const QString &blockLocalID)
{
    const qsizetype at = checkAt(blockLocalID);
    if (at < 0 || !m_store.state().fillChecks[size_t(at)].roomFrom)
        return;
    m_store.changeUntold([&](StoreState &s) {
        FNFillCheck &check = s.fillChecks[size_t(at)];
        check.roomFrom.reset();
        // The other device's version is only held against a push that may have landed over it; with
        // none, and nothing put back to send, the check has nothing left to do.
        if (isIdle(check))
            eraseCheck(s, size_t(at));
    });
    saveChecks();
}

void Outbox::settleChecksWithoutEcho()
{
    const auto &checks = m_store.state().fillChecks;
    bool awaiting = false;
    bool waitingForPush = false;
    for (const FNFillCheck &c : checks) {
        awaiting = awaiting || c.awaitingEcho;
        waitingForPush = waitingForPush || (c.fields != 0 && !c.awaitingEcho);
    }
    if (!awaiting && !waitingForPush)
        return;
    // A block an upsert still counted as possibly arriving carries may yet have its echo.
    QSet<QString> mayLand;
    for (const FNSyncOp &op : m_store.state().outbox) {
        if (!op.unanswered || op.kind() != SyncOpKind::BlockUpsert)
            continue;
        if (!op.carriedFields)
            return; // an older build's upsert, which does not name what it carries
        for (auto it = op.carriedFields->keyBegin(); it != op.carriedFields->keyEnd(); ++it)
            mayLand.insert(*it);
    }
    // Fields noted for a push still to go (another device's version came while the block's edit
    // waited) wait for it; with nothing of the block left to send (its room given way), none goes.
    const QHash<QString, qint64> unsent = waitingForPush ? blocksWithUnsentEdits() : QHash<QString, qint64>();
    m_store.changeUntold([&](StoreState &s) {
        for (FNFillCheck &c : s.fillChecks) {
            if (mayLand.contains(c.blockLocalID))
                continue;
            // Its own echo would have dropped the check.
            if (c.awaitingEcho || !unsent.contains(c.blockLocalID)) {
                c.awaitingEcho = false;
                c.fields = 0;
            }
        }
        std::erase_if(s.fillChecks, isIdle);
        m_checks.stale = true;
    });
    saveChecks();
}

void Outbox::dropFillChecks(const QSet<QString> &blockLocalIDs)
{
    std::vector<size_t> found;
    for (const QString &id : blockLocalIDs) {
        if (const qsizetype at = checkAt(id); at >= 0)
            found.push_back(size_t(at));
    }
    if (found.empty())
        return;
    // From the back, so each erase leaves the slots still to come where they were.
    std::sort(found.begin(), found.end(), std::greater<>());
    m_store.changeUntold([&](StoreState &s) {
        for (const size_t at : found)
            eraseCheck(s, at);
    });
    saveChecks();
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
    // A check no push that may have landed filled, with nothing put back and no room to settle, has
    // nothing left to do (older builds left such checks behind for good).
    bool idleChecks = false;
    for (const FNFillCheck &c : m_store.state().fillChecks) {
        if (gone(c.blockLocalID))
            dropped.insert(c.blockLocalID);
        idleChecks = idleChecks || isIdle(c);
    }
    if (dropped.isEmpty() && !idleChecks)
        return;
    m_store.changeUntold([&](StoreState &s) {
        std::erase_if(s.editedBlocks, [&](const FNBlockEdit &e) { return dropped.contains(e.blockLocalID); });
        std::erase_if(s.fillChecks,
                      [&](const FNFillCheck &c) { return isIdle(c) || dropped.contains(c.blockLocalID); });
        m_checks.stale = true;
    });
    if (!dropped.isEmpty())
        save();
    else
        saveChecks();
}
