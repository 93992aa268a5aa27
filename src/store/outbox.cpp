#include "store/outbox.h"

#include "json/json_coder.h"
#include "json/json_error.h"
#include "json/json_value.h"
#include "platform/utf8.h"
#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox_payload.h"
#include "store/record_links.h"
#include "store/send_journal.h"
#include "store/sync_payload.h"

#include <algorithm>

namespace {

const QString kPage = QStringLiteral("page");
const QString kBlock = QStringLiteral("block");
// Marks a block delete as one of a stray copy, which another device's write of it withdraws.
const QString kStrayCopyKey = QStringLiteral("stray_copy");
const QString kFolder = QStringLiteral("folder");
const QString kEmptyObject = QStringLiteral("{}");

using outboxPayload::encode;

} // namespace

Outbox::Outbox(LocalStore &store)
    : QObject(&store)
    , m_store(store)
{
    // A bulk edit or a reset may have put other checks in the list.
    connect(&store, &LocalStore::recordsChanged, this, [this] {
        m_checks.stale = true;
        m_unsent.stale = true;
    });
}

Outbox &Outbox::of(LocalStore &store)
{
    if (auto *existing = store.findChild<Outbox *>(QString(), Qt::FindDirectChildrenOnly))
        return *existing;
    return *new Outbox(store);
}

FNSyncOp Outbox::append(const QString &entity, const QString &op, const QString &refLocalID,
                        const QString &payload, const QDateTime &createdAt,
                        std::chrono::milliseconds sendAfter,
                        const std::function<void(StoreState &, FNSyncOp &)> &alongside)
{
    FNSyncOp operation;
    operation.entity = entity;
    operation.op = op;
    operation.refLocalID = refLocalID;
    operation.payloadJSON = payload;
    operation.createdAt = createdAt;
    m_store.changeOutsideRecords([&](StoreState &s) {
        if (alongside)
            alongside(s, operation);
        s.outbox.push_back(operation);
    });
    save();
    Q_EMIT queued(operation, sendAfter);
    return operation;
}

void Outbox::save()
{
    ++m_revision;
    m_store.scheduleSave();
}

void Outbox::saveChecks()
{
    m_store.scheduleSave();
}

QSet<QString> Outbox::queuedRecords(SyncOpKind kind) const
{
    QSet<QString> ids;
    for (const FNSyncOp &op : m_store.state().outbox) {
        if (op.kind() == kind)
            ids.insert(op.refLocalID);
    }
    return ids;
}

bool Outbox::isQueued(SyncOpKind kind, const QString &refLocalID) const
{
    const auto &outbox = m_store.state().outbox;
    return std::any_of(outbox.begin(), outbox.end(),
                       [&](const FNSyncOp &op) { return op.kind() == kind && op.refLocalID == refLocalID; });
}

QHash<QString, qint64> Outbox::queuedPageMoves() const
{
    QHash<QString, qint64> moves;
    for (const FNSyncOp &op : m_store.state().outbox) {
        if (op.kind() != SyncOpKind::PageMove)
            continue;
        try {
            moves.insert(op.refLocalID,
                         sharedJSONDecode<FolderMovePageReq>(op.payloadJSON.toUtf8()).folder_id.value_or(0));
        } catch (const DecodeError &) {
        }
    }
    return moves;
}

std::optional<FNSyncOp> Outbox::find(const QString &opLocalID) const
{
    const auto &outbox = m_store.state().outbox;
    const auto it =
        std::find_if(outbox.begin(), outbox.end(), [&](const FNSyncOp &o) { return o.localID == opLocalID; });
    if (it == outbox.end())
        return std::nullopt;
    return *it;
}

bool Outbox::drop(const QString &opLocalID)
{
    if (!find(opLocalID))
        return false;
    m_store.changeOutsideRecords([&](StoreState &s) {
        std::erase_if(s.outbox, [&](const FNSyncOp &o) { return o.localID == opLocalID; });
    });
    save();
    return true;
}

qsizetype Outbox::drop(const QSet<QString> &opLocalIDs)
{
    const auto &outbox = m_store.state().outbox;
    const auto listed = [&](const FNSyncOp &o) { return opLocalIDs.contains(o.localID); };
    if (opLocalIDs.isEmpty() || std::none_of(outbox.begin(), outbox.end(), listed))
        return 0;
    qsizetype dropped = 0;
    m_store.changeOutsideRecords(
        [&](StoreState &s) { dropped = qsizetype(std::erase_if(s.outbox, listed)); });
    save();
    return dropped;
}

bool Outbox::dropPageDeletes(const QString &pageLocalID)
{
    const auto queuedDelete = [&](const FNSyncOp &op) {
        return op.kind() == SyncOpKind::PageDelete && op.refLocalID == pageLocalID;
    };
    if (!isQueued(SyncOpKind::PageDelete, pageLocalID))
        return false;
    m_store.changeOutsideRecords([&](StoreState &s) { std::erase_if(s.outbox, queuedDelete); });
    save();
    return true;
}

bool Outbox::replace(const FNSyncOp &op)
{
    const auto &outbox = m_store.state().outbox;
    const auto it = std::find_if(outbox.begin(), outbox.end(),
                                 [&](const FNSyncOp &o) { return o.localID == op.localID; });
    if (it == outbox.end())
        return false;
    const size_t index = size_t(std::distance(outbox.begin(), it));
    m_store.changeOutsideRecords([&](StoreState &s) { s.outbox[index] = op; });
    save();
    return true;
}

namespace {

// Rewrites the title the update carries; one that carries none, or does not read, is left as it is.
void retitleUpdatePayload(FNSyncOp &op, const QString &title)
{
    try {
        JSONObject body = parseJSONObject(op.payloadJSON.toUtf8());
        const auto it = body.find(QStringLiteral("title"));
        if (it == body.end())
            return;
        it->second = title;
        if (const auto payload = outboxPayload::encodeObject(body))
            op.payloadJSON = *payload;
    } catch (const DecodeError &) {
    }
}

} // namespace

bool Outbox::retitlePageCreate(const QString &pageLocalID, const QString &title)
{
    bool rewritten = false;
    bool sentUnanswered = false;
    m_store.changeOutsideRecords([&](StoreState &s) {
        for (FNSyncOp &op : s.outbox) {
            if (op.refLocalID != pageLocalID)
                continue;
            // A title typed in the page's header waits as an update behind the create; sent after
            // it, the older title would win.
            if (op.kind() == SyncOpKind::PageUpdate) {
                retitleUpdatePayload(op, title);
                continue;
            }
            if (op.kind() != SyncOpKind::PageCreate)
                continue;
            if (op.unanswered) {
                sentUnanswered = true;
                continue;
            }
            outboxPayload::setKeys(op.payloadJSON, {{QStringLiteral("title"), title}});
            rewritten = true;
        }
    });
    save();
    return rewritten || !sentUnanswered;
}

std::optional<FNSyncOp> Outbox::pageCreate(const QString &pageLocalID, const PageCreateReq &req)
{
    return append(kPage, QStringLiteral("create"), pageLocalID, encode(req).value_or(kEmptyObject));
}

std::optional<FNSyncOp> Outbox::pageUpdate(const QString &pageLocalID, const PagePatchReq &req,
                                           Unencodable ifUnencodable, const QDateTime &createdAt,
                                           std::chrono::milliseconds sendAfter)
{
    auto payload = encode(req);
    if (!payload && ifUnencodable == Unencodable::QueueNothing)
        return std::nullopt;
    return append(kPage, QStringLiteral("update"), pageLocalID, payload.value_or(kEmptyObject), createdAt,
                  sendAfter);
}

std::optional<QString> Outbox::queuedTitle(const QString &pageLocalID) const
{
    std::optional<QString> title;
    for (const FNSyncOp &op : m_store.state().outbox) {
        if (op.refLocalID != pageLocalID ||
            (op.kind() != SyncOpKind::PageCreate && op.kind() != SyncOpKind::PageUpdate))
            continue;
        try {
            const JSONObject body = parseJSONObject(op.payloadJSON.toUtf8());
            const auto it = body.find(QStringLiteral("title"));
            if (it != body.end() && it->second.isString())
                title = it->second.toString();
        } catch (const DecodeError &) {
        }
    }
    return title;
}

void Outbox::goingOut(const QString &opLocalID, std::optional<SendWindow> window,
                      std::optional<QMap<QString, qint64>> filled)
{
    m_store.m_sendJournal->append(SendNote{opLocalID, std::move(window), std::move(filled)});
}

void Outbox::goneOut()
{
    m_store.m_sendJournal->settled();
}

bool Outbox::retitlePageUpdate(const QString &opLocalID, const QString &title)
{
    std::optional<FNSyncOp> op = find(opLocalID);
    if (!op || op->kind() != SyncOpKind::PageUpdate || op->attempts > 0 || op->unanswered)
        return false;
    PagePatchReq req;
    try {
        req = sharedJSONDecode<PagePatchReq>(op->payloadJSON.toUtf8());
    } catch (const DecodeError &) {
        return false;
    }
    req.title = title;
    const auto payload = encode(req);
    if (!payload)
        return false;
    op->payloadJSON = *payload;
    return replace(*op);
}

std::optional<FNSyncOp> Outbox::pageDelete(const QString &pageLocalID, qint64 pageServerID,
                                           std::chrono::milliseconds sendAfter)
{
    JsonWriter w;
    w.startObject();
    w.field("page_id", pageServerID);
    w.endObject();
    return append(kPage, QStringLiteral("delete"), pageLocalID, QString::fromUtf8(w.bytes()),
                  QDateTime::currentDateTimeUtc(), sendAfter);
}

std::optional<FNSyncOp> Outbox::pageMove(const QString &pageLocalID, const FolderMovePageReq &req)
{
    const auto payload = encode(req);
    if (!payload)
        return std::nullopt;
    return append(kPage, QStringLiteral("move"), pageLocalID, *payload);
}

std::optional<FNSyncOp> Outbox::blocksUpsert(const QString &pageLocalID, const BlocksUpsertReq &req,
                                             const QDateTime &createdAt,
                                             std::optional<QMap<QString, qint64>> carriedFields)
{
    const auto payload = encode(req);
    if (!payload)
        return std::nullopt;
    return append(kBlock, QStringLiteral("upsert"), pageLocalID, *payload, createdAt, {},
                  [&](StoreState &, FNSyncOp &op) { op.carriedFields = std::move(carriedFields); });
}

bool Outbox::replaceBlocksUpsert(FNSyncOp op, const BlocksUpsertReq &req)
{
    const auto payload = encode(req);
    if (!payload)
        return false;
    op.payloadJSON = *payload;
    return replace(op);
}

void Outbox::takeOutOfUpserts(const std::function<bool(const FNSyncOp &, const BlockUpsertItem &)> &takeOut,
                              const std::function<bool(const FNSyncOp &)> &mayHold)
{
    // A copy of only those to read: what waits besides costs a look, not a copy.
    std::vector<FNSyncOp> queued;
    for (const FNSyncOp &op : m_store.state().outbox) {
        if (op.kind() == SyncOpKind::BlockUpsert && (!mayHold || mayHold(op)))
            queued.push_back(op);
    }
    for (const FNSyncOp &op : queued) {
        BlocksUpsertReq req;
        try {
            req = sharedJSONDecode<BlocksUpsertReq>(op.payloadJSON.toUtf8());
        } catch (const DecodeError &) {
            continue;
        }
        FNSyncOp kept = op;
        const auto out = [&](const BlockUpsertItem &item) {
            if (!takeOut(op, item))
                return false;
            if (kept.carriedFields)
                kept.carriedFields->remove(item.client_id);
            return true;
        };
        if (std::erase_if(req.blocks, out) == 0)
            continue;
        if (req.blocks.empty())
            drop(op.localID);
        else
            replaceBlocksUpsert(kept, req);
    }
}

void Outbox::blockEdited(const QString &pageLocalID, const QString &blockLocalID, qint64 fields)
{
    blocksEdited(pageLocalID, QStringList{blockLocalID}, fields);
}

void Outbox::blocksEdited(const QString &pageLocalID, const QStringList &blockLocalIDs, qint64 fields)
{
    if (fields == 0 || blockLocalIDs.isEmpty())
        return;
    // Where each of the page's blocks is marked already: a renumbering of a long page marks
    // thousands at once.
    const auto &marks = m_store.state().editedBlocks;
    QHash<QString, size_t> marked;
    for (size_t i = 0; i < marks.size(); ++i) {
        if (marks[i].pageLocalID == pageLocalID)
            marked.insert(marks[i].blockLocalID, i);
    }
    const bool news = std::any_of(blockLocalIDs.begin(), blockLocalIDs.end(), [&](const QString &id) {
        const auto it = marked.constFind(id);
        return it == marked.cend() || BlockFields::merged(marks[*it].fields, fields) != marks[*it].fields;
    });
    if (!news)
        return;
    m_store.changeUntold([&](StoreState &s) {
        for (const QString &id : blockLocalIDs) {
            const auto it = marked.constFind(id);
            if (it != marked.cend()) {
                s.editedBlocks[*it].fields = BlockFields::merged(s.editedBlocks[*it].fields, fields);
                continue;
            }
            marked.insert(id, s.editedBlocks.size());
            s.editedBlocks.push_back(FNBlockEdit{pageLocalID, id, fields});
        }
    });
    save();
}

QHash<QString, qint64> Outbox::editedBlocks(const QString &pageLocalID) const
{
    QHash<QString, qint64> edited;
    for (const FNBlockEdit &e : m_store.state().editedBlocks) {
        if (e.pageLocalID == pageLocalID)
            edited[e.blockLocalID] = BlockFields::merged(edited.value(e.blockLocalID), e.fields);
    }
    return edited;
}

QHash<QString, qint64> Outbox::blocksWithUnsentEdits() const
{
    // Asked at every cycle and every pull: while nothing was queued, sent or marked since, the
    // operations waiting out a back-off are not read again.
    const StoreState &state = m_store.state();
    if (m_unsent.revision == m_revision && m_unsent.generation == m_store.generation() && !m_unsent.stale &&
        m_unsent.operations == state.outbox.size() && m_unsent.marks == state.editedBlocks.size())
        return m_unsent.ids;
    m_unsent = UnsentCache{m_revision, m_store.generation(), state.outbox.size(), state.editedBlocks.size(),
                           false,      unsentNow()};
    return m_unsent.ids;
}

QHash<QString, qint64> Outbox::unsentNow() const
{
    QHash<QString, qint64> ids;
    for (const FNBlockEdit &e : m_store.state().editedBlocks)
        ids[e.blockLocalID] = BlockFields::merged(ids.value(e.blockLocalID), e.fields);
    for (const FNSyncOp &op : m_store.state().outbox) {
        if (op.kind() != SyncOpKind::BlockUpsert)
            continue;
        if (op.carriedFields) {
            for (auto it = op.carriedFields->cbegin(); it != op.carriedFields->cend(); ++it)
                ids[it.key()] = BlockFields::merged(ids.value(it.key()), it.value());
            continue;
        }
        try {
            for (const BlockUpsertItem &item :
                 sharedJSONDecode<BlocksUpsertReq>(op.payloadJSON.toUtf8()).blocks)
                ids[item.client_id] |= BlockFields::All;
        } catch (const DecodeError &) {
            // Never sent: it carries nothing that could land.
        }
    }
    return ids;
}

Outbox::PageBlocksResult Outbox::pageBlocksUpsert(const QString &pageLocalID, const QDateTime &createdAt)
{
    PageBlocksResult result;
    const FNPage *page = m_store.page(pageLocalID);
    if (!page || page->deletedAt)
        return result;
    if (page->serverID == 0) {
        result.outcome = PageBlocksOutcome::PageNotOnServer;
        return result;
    }
    // Blocks typed offline would otherwise ride again in every upsert queued until the page's first
    // one lands: the push merges them per block into the newest anyway.
    QSet<QString> queued;
    for (const FNSyncOp &op : m_store.state().outbox) {
        if (op.carriedFields && op.refLocalID == pageLocalID && op.kind() == SyncOpKind::BlockUpsert) {
            for (auto it = op.carriedFields->cbegin(); it != op.carriedFields->cend(); ++it) {
                if (it.value() != 0)
                    queued.insert(it.key());
            }
        }
    }
    const std::optional<PageBlocksUpsert> upsert =
        storedBlocksUpsert(m_store, pageLocalID, editedBlocks(pageLocalID), queued);
    result.waitingForParent = upsert ? upsert->waitingForParent : 0;
    if (!upsert || upsert->req.blocks.empty()) {
        result.outcome = PageBlocksOutcome::NothingToSend;
        return result;
    }
    const auto payload = encode(upsert->req);
    if (!payload) {
        result.outcome = PageBlocksOutcome::NotEncodable;
        return result;
    }
    // The marks of what it carries go in the same change as the operation.
    QSet<QString> settled(upsert->carried.begin(), upsert->carried.end());
    // A mark of a block gone since has nothing left to send.
    for (const FNBlockEdit &e : m_store.state().editedBlocks) {
        const FNBlock *block = e.pageLocalID == pageLocalID ? m_store.block(e.blockLocalID) : nullptr;
        if (e.pageLocalID == pageLocalID && (!block || block->deletedAt))
            settled.insert(e.blockLocalID);
    }
    append(kBlock, QStringLiteral("upsert"), pageLocalID, *payload, createdAt, {},
           [&](StoreState &s, FNSyncOp &op) {
               op.carriedFields = upsert->fields;
               std::erase_if(s.editedBlocks, [&](const FNBlockEdit &e) {
                   return e.pageLocalID == pageLocalID && settled.contains(e.blockLocalID);
               });
           });
    result.outcome = PageBlocksOutcome::Queued;
    return result;
}

std::optional<FNSyncOp> Outbox::blockDelete(const QString &blockLocalID, qint64 blockServerID)
{
    const JSONObject body{{QStringLiteral("block_id"), blockServerID}};
    const auto payload = outboxPayload::encodeObject(body);
    return append(kBlock, QStringLiteral("delete"), blockLocalID, payload.value_or(kEmptyObject));
}

std::optional<FNSyncOp> Outbox::strayCopyDelete(const QString &blockLocalID, qint64 blockServerID)
{
    // The mark stays here: the request names the block alone.
    const JSONObject body{{QStringLiteral("block_id"), blockServerID}, {kStrayCopyKey, qint64(1)}};
    const auto payload = outboxPayload::encodeObject(body);
    return append(kBlock, QStringLiteral("delete"), blockLocalID, payload.value_or(kEmptyObject));
}

bool Outbox::isStrayCopyDelete(const FNSyncOp &op)
{
    if (op.kind() != SyncOpKind::BlockDelete)
        return false;
    try {
        return parseJSONObject(op.payloadJSON.toUtf8()).count(kStrayCopyKey) > 0;
    } catch (const DecodeError &) {
        return false;
    }
}

bool Outbox::withdrawStrayDelete(const QString &blockLocalID, qint64 blockServerID)
{
    const auto &outbox = m_store.state().outbox;
    const auto stray = std::find_if(outbox.begin(), outbox.end(), [&](const FNSyncOp &op) {
        if (op.kind() != SyncOpKind::BlockDelete || op.refLocalID != blockLocalID)
            return false;
        try {
            const JSONObject body = parseJSONObject(op.payloadJSON.toUtf8());
            return body.count(kStrayCopyKey) && syncPayload::intOr(body, "block_id", 0) == blockServerID;
        } catch (const DecodeError &) {
            return false;
        }
    });
    return stray != outbox.end() && drop(stray->localID);
}

std::optional<FNSyncOp> Outbox::folderCreate(const QString &folderLocalID, const FolderCreateReq &req)
{
    const auto payload = encode(req);
    if (!payload)
        return std::nullopt;
    return append(kFolder, QStringLiteral("create"), folderLocalID, *payload);
}

std::optional<FNSyncOp> Outbox::folderUpdate(const QString &folderLocalID, const FolderPatchReq &req)
{
    const auto payload = encode(req);
    if (!payload)
        return std::nullopt;
    return append(kFolder, QStringLiteral("update"), folderLocalID, *payload);
}

std::optional<FNSyncOp> Outbox::folderCreate(const FNFolder &folder)
{
    if (folder.parentFolderServerID != 0 || !folder.parentFolderLocalID)
        return folderCreate(folder.localID, folderCreateReq(folder));
    // Its parent's server id is read when it is sent.
    const auto payload = encode(folderCreateReq(folder));
    if (!payload)
        return std::nullopt;
    return append(
        kFolder, QStringLiteral("create"), folder.localID,
        recordLinks::withLink(*payload, recordLinks::kParentFolderKey, *folder.parentFolderLocalID));
}

std::optional<FNSyncOp> Outbox::folderUpdate(const FNFolder &folder, FolderPatchReq patch)
{
    patch.folder_id = folder.serverID;
    return folderUpdate(folder.localID, patch);
}

std::optional<FNSyncOp> Outbox::pageMove(const FNPage &page, qint64 folderServerID)
{
    FolderMovePageReq req;
    req.page_id = page.serverID;
    if (folderServerID != 0)
        req.folder_id = folderServerID;
    return pageMove(page.localID, req);
}
