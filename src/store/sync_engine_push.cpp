#include "store/sync_engine.h"

#include "api/api_error.h"
#include "api/wire/blocks.h"
#include "api/wire/library.h"
#include "api/wire/pages.h"
#include "json/json_coder.h"
#include "store/block_fields.h"
#include "store/create_adoption.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/retry_policy.h"
#include "store/sync_errors.h"

#include <QSet>

#include <algorithm>
#include <map>
#include <utility>

// Sending the outbox: order per record, follow-ups of rewritten operations, failures and retries.

namespace {

const QString kNotOnServer = QStringLiteral("Page not yet on server");

std::optional<std::map<QString, qint64>> intMap(const QString &payloadJSON)
{
    try {
        std::map<QString, qint64> out;
        for (const auto &[k, v] : parseJSONObject(payloadJSON.toUtf8())) {
            if (!v.isInt())
                return std::nullopt;
            out[k] = v.toInt();
        }
        return out;
    } catch (const DecodeError &) {
        return std::nullopt;
    }
}

template <typename T>
T decodePayload(const QString &payloadJSON)
{
    return sharedJSONDecode<T>(payloadJSON.toUtf8());
}

struct GoneOut {
    Outbox &outbox;
    ~GoneOut() { outbox.goneOut(); }
};

} // namespace

QCoro::Task<> SyncEngine::push()
{
    queueLeftEdits();
    foldBlockUpserts();
    std::vector<FNSyncOp> due = m_store.state().outbox;
    if (due.empty()) {
        co_await restoreRefusedPages();
        co_return;
    }
    std::stable_sort(due.begin(), due.end(),
                     [](const FNSyncOp &a, const FNSyncOp &b) { return a.createdAt < b.createdAt; });
    // Per record, how many of its operations the pass has still to come to: what an operation that
    // fails or waits would hold back, or be overruled by, is only asked when one is left.
    std::vector<QString> records;
    records.reserve(due.size());
    QHash<QString, int> ahead;
    for (const FNSyncOp &op : due) {
        records.push_back(recordKey(op));
        ++ahead[records.back()];
    }

    const QDateTime passTime = now();
    m_requestCredential = m_client.credential();
    // The records whose newer operations wait (holdsNewer), and per record the refused operations
    // passed over, which a newer one that lands overrules.
    QSet<QString> held;
    QHash<QString, QStringList> passed;
    const auto settleFailed = [&](const QString &record, const FNSyncOp &op) {
        if (ahead.value(record) == 0)
            return; // nothing newer of its record left in this pass
        if (holdsNewer(op))
            held.insert(record);
        else if (op.refused)
            passed[record].append(op.localID);
    };
    for (size_t at = 0; at < due.size(); ++at) {
        const FNSyncOp &queued = due[at];
        const QString &record = records[at];
        --ahead[record];
        if (held.contains(record))
            continue;
        if (queued.nextRetryAt && *queued.nextRetryAt > passTime) {
            settleFailed(record, queued);
            continue;
        }
        if (waitsForFolderDelete(queued)) {
            // An undo may still keep it; once the window is past it never goes.
            held.insert(record);
            continue;
        }
        if (m_freshCopyError && needsPullFirst(queued)) {
            // Sent now, it would write stale copies; the feed's failure is no answer to it, and
            // costs it no wait: it goes with the first cycle whose pull works.
            noteWaitForFeed(queued, m_freshCopyError);
            held.insert(record);
            continue;
        }
        // A follow-up goes out in the same pass, before the pull could bring the older version back.
        for (std::optional<FNSyncOp> op = queued; op;) {
            if (m_cancel.isCancelled())
                co_return;
            std::exception_ptr failure;
            m_createOut.reset();
            m_sending.clear();
            m_sentInPush = true;
            // Settled once how it went is in the state, whichever way this pass ends.
            const GoneOut goneOut{m_outbox};
            if (op->kind() != SyncOpKind::BlockUpsert)
                noteGoingOut(*op); // a block upsert's fills are known only once it is built
            try {
                co_await sendOp(*op);
            } catch (...) {
                failure = std::current_exception();
            }
            if (!failure) {
                if (const auto it = passed.constFind(record); it != passed.constEnd())
                    overrule(*it, *op);
                op = settleSent(*op);
                continue;
            }
            if (SyncErrors::isCancelled(failure)) {
                recordCancel(*op, failure);
                co_return;
            }
            if (SyncErrors::isUnauthorized(failure) || SyncErrors::isNoToken(failure)) {
                // Nor is a refused token or an ended session: the operation waits, count untouched,
                // for the next sign-in. The cycle ends so the session can, unless a new session has
                // replaced this one.
                if (SyncErrors::isUnauthorized(failure) && m_client.credential() == m_requestCredential)
                    std::rethrow_exception(failure);
                co_return;
            }
            recordFailure(*op, failure);
            keepSentCreate(*op);
            if (const std::optional<FNSyncOp> left = m_outbox.find(op->localID))
                settleFailed(record, *left);
            op.reset();
        }
    }
    co_await restoreRefusedPages();
}

void SyncEngine::foldBlockUpserts()
{
    // Per page, in the order they were queued (the clocks that stamp them may step back).
    std::map<QString, std::vector<FNSyncOp>> upserts;
    for (const FNSyncOp &op : m_store.state().outbox) {
        if (op.kind() == SyncOpKind::BlockUpsert)
            upserts[op.refLocalID].push_back(op);
    }
    for (auto &[page, queued] : upserts) {
        if (queued.size() < 2)
            continue;
        // Each carries only the blocks changed since the one before it, so the page's upserts merge
        // into its newest: per block, the item queued last.
        FNSyncOp newest = queued.back();
        std::optional<BlocksUpsertReq> merged;
        std::map<QString, BlockUpsertItem> items;
        // Per block, every field any of them carries: the newest item holds this device's latest
        // value of each.
        QMap<QString, qint64> fields;
        QHash<QString, qint64> unread;
        for (const FNSyncOp &op : queued) {
            try {
                BlocksUpsertReq req = decodePayload<BlocksUpsertReq>(op.payloadJSON);
                for (BlockUpsertItem &item : req.blocks) {
                    fields[item.client_id] =
                        BlockFields::merged(fields.value(item.client_id), op.fieldsCarried(item.client_id));
                    items[item.client_id] = std::move(item);
                }
                if (!merged || req.page_id != 0)
                    merged = BlocksUpsertReq{req.page_id, {}};
            } catch (const DecodeError &) {
                // Never sendable: it adds nothing, but what it was to carry is marked to go again, as
                // a later upsert leaves out what one queued before carries.
                if (op.carriedFields) {
                    for (auto it = op.carriedFields->cbegin(); it != op.carriedFields->cend(); ++it)
                        unread[it.key()] |= it.value();
                }
            }
        }
        if (merged) {
            newest.carriedFields = fields;
            for (auto &[clientID, item] : items) {
                // A block deleted here since must not come back to life on the service.
                const FNBlock *block = m_store.block(clientID);
                if (block && block->deletedAt)
                    continue;
                merged->blocks.push_back(std::move(item));
            }
            std::stable_sort(merged->blocks.begin(), merged->blocks.end(),
                             [](const BlockUpsertItem &a, const BlockUpsertItem &b) {
                                 // As listedBefore orders blocks, so new blocks at one position get their ids
                                 // in the order every device lists them.
                                 if (a.position != b.position)
                                     return a.position < b.position;
                                 if (a.id.has_value() != b.id.has_value())
                                     return a.id.has_value();
                                 if (a.id != b.id)
                                     return a.id < b.id;
                                 return a.client_id < b.client_id;
                             });
            if (!m_outbox.replaceBlocksUpsert(newest, *merged))
                continue; // kept apart rather than lose the older ones' blocks
        }
        QSet<QString> folded;
        for (size_t i = 0; i + 1 < queued.size(); ++i)
            folded.insert(queued[i].localID);
        m_outbox.drop(folded);
        for (auto it = unread.cbegin(); it != unread.cend(); ++it) {
            if (!fields.contains(it.key()))
                m_outbox.blockEdited(page, it.key(), it.value());
        }
        if (!unread.isEmpty())
            m_outbox.pageBlocksUpsert(page, now());
    }
}

bool SyncEngine::isReadable(const FNSyncOp &op)
{
    try {
        if (op.kind() == SyncOpKind::PageUpdate)
            decodePayload<PagePatchReq>(op.payloadJSON);
        else if (op.kind() == SyncOpKind::BlockUpsert)
            decodePayload<BlocksUpsertReq>(op.payloadJSON);
    } catch (const DecodeError &) {
        return false;
    }
    return true;
}

// An operation that failed, or waits out its back-off, holds back the newer operations of its record
// only where their order matters and it may still land, so it could land over them late:
// - a refused one (a client error other than 408 and 429) will likely never land: it holds nothing,
//   and a newer one of its record that lands overrules it;
// - a block delete holds nothing: the page's upserts never carry the block it removes;
// - an unreadable one is never sent, so it can never land late;
// - anything else holds: a network failure or a server error may pass, and a wait for the page's
//   server id ends when its create lands, which the page's newer operations need first.
bool SyncEngine::holdsNewer(const FNSyncOp &op)
{
    return !op.refused && op.kind() != SyncOpKind::BlockDelete && isReadable(op);
}

void SyncEngine::overrule(const QStringList &refused, const FNSyncOp &landed)
{
    const SyncOpKind kind = landed.kind();
    if (kind != SyncOpKind::PageUpdate && kind != SyncOpKind::FolderUpdate && kind != SyncOpKind::PageMove)
        return;
    const auto idKey =
        kind == SyncOpKind::FolderUpdate ? QStringLiteral("folder_id") : QStringLiteral("page_id");
    JSONObject newer;
    try {
        newer = parseJSONObject(landed.payloadJSON.toUtf8());
    } catch (const DecodeError &) {
        return;
    }
    for (const QString &id : refused) {
        std::optional<FNSyncOp> older = m_outbox.find(id);
        if (!older || older->kind() != kind)
            continue;
        if (kind == SyncOpKind::PageMove) {
            m_outbox.drop(id); // a move says all there is: where the page goes
            continue;
        }
        JSONObject fields;
        try {
            fields = parseJSONObject(older->payloadJSON.toUtf8());
        } catch (const DecodeError &) {
            continue;
        }
        for (const auto &entry : newer) {
            if (entry.first != idKey)
                fields.erase(entry.first);
        }
        if (fields.empty() || (fields.size() == 1 && fields.count(idKey))) {
            m_outbox.drop(id);
            continue;
        }
        older->payloadJSON = QString::fromUtf8(serializeJSONObject(fields));
        m_outbox.replace(*older);
    }
}

QString SyncEngine::recordKey(const FNSyncOp &op) const
{
    // A page's block upserts and the deletes of its blocks touch one list on the service.
    if (op.kind() == SyncOpKind::BlockUpsert)
        return QStringLiteral("blocks:") + op.refLocalID;
    if (op.kind() == SyncOpKind::BlockDelete) {
        if (const FNBlock *block = m_store.block(op.refLocalID))
            return QStringLiteral("blocks:") + block->pageLocalID;
    }
    return op.entity + QLatin1Char(':') + op.refLocalID;
}

std::optional<FNSyncOp> SyncEngine::settleSent(const FNSyncOp &sent)
{
    const std::optional<FNSyncOp> queued = m_outbox.find(sent.localID);
    if (!queued)
        return std::nullopt;
    if (queued->payloadJSON == sent.payloadJSON) {
        m_outbox.drop(sent.localID);
        return std::nullopt;
    }
    // Rewritten while on its way (a rename of a page being created): the service has the old
    // payload, so what changed still has to follow.
    FNSyncOp followUp = *queued;
    if (sent.kind() == SyncOpKind::PageCreate) {
        std::optional<QString> payload;
        try {
            if (const auto patch = createFollowUp(sent, followUp))
                payload = QString::fromUtf8(sharedJSONEncode(*patch));
        } catch (const EncodeError &) {
        }
        if (!payload) {
            m_outbox.drop(sent.localID);
            return std::nullopt;
        }
        followUp.op = QStringLiteral("update");
        followUp.payloadJSON = *payload;
    }
    followUp.attempts = 0;
    followUp.refused = false;
    followUp.unanswered = false;
    followUp.unansweredSends.reset();
    m_outbox.replace(followUp);
    return followUp;
}

void SyncEngine::keepSentCreate(const FNSyncOp &sent)
{
    if (sent.kind() != SyncOpKind::PageCreate)
        return;
    const std::optional<FNSyncOp> found = m_outbox.find(sent.localID);
    if (!found)
        return;
    const FNSyncOp queued = *found;
    if (!queued.unanswered || queued.payloadJSON == sent.payloadJSON)
        return;
    // The service may hold a page made from the body that went out, and that body is how the page
    // is recognised there: it stays, and what was rewritten meanwhile follows as an update.
    const auto patch = createFollowUp(sent, queued, /*beforeID=*/true);
    FNSyncOp kept = queued;
    kept.payloadJSON = sent.payloadJSON;
    m_outbox.replace(kept);
    if (patch) {
        m_outbox.pageUpdate(queued.refLocalID, *patch, Outbox::Unencodable::QueueNothing,
                            std::max(QDateTime::currentDateTimeUtc(), queued.createdAt.addMSecs(1)));
    }
}

std::optional<PagePatchReq> SyncEngine::createFollowUp(const FNSyncOp &sent, const FNSyncOp &queued,
                                                       bool beforeID) const
{
    const FNPage *page = m_store.page(queued.refLocalID);
    if (!page)
        return std::nullopt;
    const qint64 pageServerID = page->serverID;
    std::optional<PageCreateReq> before;
    PageCreateReq after;
    try {
        after = decodePayload<PageCreateReq>(queued.payloadJSON);
    } catch (const DecodeError &) {
        return std::nullopt;
    }
    try {
        before = decodePayload<PageCreateReq>(sent.payloadJSON);
    } catch (const DecodeError &) {
        // What went out was rebuilt from the page: every field may differ.
    }
    PagePatchReq patch;
    patch.page_id = pageServerID;
    if (!before || after.title != before->title)
        patch.title = after.title;
    if (!before || after.icon != before->icon)
        patch.icon = after.icon;
    if (!before || after.position != before->position)
        patch.position = after.position;
    if (after.parent_page_id && (!before || after.parent_page_id != before->parent_page_id))
        patch.parent_page_id = after.parent_page_id;
    if ((patch.page_id == 0 && !beforeID) ||
        (!patch.title && !patch.icon && !patch.position && !patch.parent_page_id))
        return std::nullopt;
    return patch;
}

bool SyncEngine::mayHaveLanded(const FNSyncOp &op, const std::exception_ptr &error) const
{
    // A create's look at the listing before it goes out leaves nothing behind.
    const SyncOpKind kind = op.kind();
    const bool create = kind == SyncOpKind::PageCreate || kind == SyncOpKind::FolderCreate;
    return SyncErrors::mayHaveArrived(error) && (!create || m_createOut);
}

void SyncEngine::markUnanswered(FNSyncOp &queued)
{
    queued.unanswered = true;
    if (queued.kind() == SyncOpKind::BlockUpsert)
        noteSending();
    if (m_createOut) {
        noteUnansweredSend(queued, *m_createOut, QDateTime::currentDateTimeUtc(),
                           m_client.transport().serviceClockOffsetMs());
    }
}

void SyncEngine::noteGoingOut(const FNSyncOp &op, std::optional<QMap<QString, qint64>> filled)
{
    std::optional<SendWindow> window;
    if (op.kind() == SyncOpKind::PageCreate || op.kind() == SyncOpKind::FolderCreate) {
        // A kill leaves no time it was given up at: the longest the request could have been out.
        const APIClient::Limits limits = m_client.transport().requestLimits();
        const qint64 offset = m_client.transport().serviceClockOffsetMs();
        const QDateTime from = QDateTime::currentDateTimeUtc().addMSecs(offset);
        window = SendWindow{from, from.addMSecs(limits.overall.value_or(limits.silence).count())};
    }
    m_outbox.goingOut(op.localID, std::move(window), std::move(filled));
}

void SyncEngine::recordCancel(const FNSyncOp &op, const std::exception_ptr &error)
{
    // Nothing is counted: the cancel is not the operation's fault. But a create that went out may
    // have made its record, and the next send, after a relaunch maybe, must look for it first.
    std::optional<FNSyncOp> queued = m_outbox.find(op.localID);
    if (!queued || !mayHaveLanded(op, error))
        return;
    markUnanswered(*queued);
    m_outbox.replace(*queued);
    keepSentCreate(op);
}

void SyncEngine::noteWaitForFeed(const FNSyncOp &op, const std::exception_ptr &error)
{
    std::optional<FNSyncOp> queued = m_outbox.find(op.localID);
    if (!queued)
        return;
    queued->lastError = SyncErrors::describe(error);
    m_outbox.replace(*queued);
}

void SyncEngine::recordFailure(const FNSyncOp &op, std::exception_ptr error, bool answerToIt)
{
    // Only the failure fields are written, onto the operation as it is queued now: a writer may
    // have rewritten its payload while it was being sent.
    std::optional<FNSyncOp> queued = m_outbox.find(op.localID);
    if (!queued)
        return; // removed meanwhile (undo, logout): nothing to write back
    qint64 attempts = queued->attempts;
    const QString lastError = SyncErrors::describe(error);
    const std::optional<int> status = answerToIt ? SyncErrors::httpStatus(error) : std::nullopt;

    if (status && RetryPolicy::isPermanentClientError(*status)) {
        attempts += 1;
        if (attempts >= RetryPolicy::kDropAtAttempts) {
            // Dropped, so it holds nothing else back; but never in silence.
            noteRefusal(*queued, lastError);
            m_outbox.drop(op.localID);
            return;
        }
    } else {
        attempts = std::min(attempts + 1, RetryPolicy::kMaxTransientAttempts);
    }
    const QDateTime retryAt = now().addMSecs(RetryPolicy::delayAfter(attempts).count());
    queued->attempts = attempts;
    queued->lastError = lastError;
    queued->nextRetryAt = retryAt;
    queued->refused = status && RetryPolicy::isPermanentClientError(*status);
    if (answerToIt && mayHaveLanded(op, error))
        markUnanswered(*queued);
    m_outbox.replace(*queued);
}

QCoro::Task<> SyncEngine::sendOp(FNSyncOp op)
{
    const SyncOpKind kind = op.kind();
    if (kind == SyncOpKind::FolderCreate || kind == SyncOpKind::FolderUpdate ||
        kind == SyncOpKind::FolderDelete) {
        co_await sendFolderOp(std::move(op));
        co_return;
    }
    if (kind == SyncOpKind::PageMove) {
        co_await sendPageMove(std::move(op));
        co_return;
    }
    if (kind == SyncOpKind::PageParent) {
        co_await sendPageParent(std::move(op));
        co_return;
    }

    if (kind == SyncOpKind::PageCreate) {
        const FNPage *page = m_store.page(op.refLocalID);
        if (page && page->serverID != 0) {
            // Adopted from the service's copy made by an earlier send whose reply was lost.
            queueStoredBlocks(op.refLocalID);
            co_return;
        }
        PageCreateReq req;
        try {
            req = decodePayload<PageCreateReq>(op.payloadJSON);
        } catch (const DecodeError &) {
            // Rebuild an unreadable payload from the page itself rather than lose the page.
            if (!page)
                co_return;
            req = pageCreateReq(*page);
        }
        linkPageCreate(op, req);
        // An earlier send may have reached the service although its reply never came back.
        if (op.unanswered && co_await adoptListedPage(op.refLocalID, req.workspace_id))
            co_return;
        m_createOut = QDateTime::currentDateTimeUtc();
        const PageResp resp = co_await m_client.createPage(req, cancelToken());
        if (!m_store.page(op.refLocalID))
            co_return;
        adoptPageServerID(m_store, op.refLocalID, resp.page.id);
        queueStoredBlocks(op.refLocalID);
        co_return;
    }

    if (kind == SyncOpKind::PageUpdate) {
        PagePatchReq req = decodePayload<PagePatchReq>(op.payloadJSON);
        // The page may have got its server id after the update was queued.
        const FNPage *page = m_store.page(op.refLocalID);
        if (page && page->serverID != 0)
            req.page_id = page->serverID;
        if (req.page_id == 0 && isLeftUnsent(op.refLocalID))
            co_return;
        if (req.page_id == 0)
            throw APIError::other(kNotOnServer);
        co_await m_client.patchPage(req, cancelToken());
        co_return;
    }

    if (kind == SyncOpKind::PageDelete) {
        qint64 pageId = 0;
        if (const FNPage *page = m_store.page(op.refLocalID))
            pageId = page->serverID;
        if (pageId == 0) {
            const auto map = intMap(op.payloadJSON);
            if (map && map->count(QStringLiteral("page_id")))
                pageId = map->at(QStringLiteral("page_id"));
        }
        if (pageId == 0 && isLeftUnsent(op.refLocalID))
            co_return;
        if (pageId == 0)
            throw APIError::other(kNotOnServer);
        try {
            co_await m_client.deletePage(pageId, cancelToken());
        } catch (const APIError &e) {
            if (e.kind() == APIError::Kind::Http && e.status() == 404)
                co_return; // already gone on the service
            throw;
        }
        co_return;
    }

    if (kind == SyncOpKind::BlockUpsert) {
        BlocksUpsertReq req = decodePayload<BlocksUpsertReq>(op.payloadJSON);
        const bool hadBlocks = !req.blocks.empty();
        fillFromStore(req, op);
        if (req.page_id == 0)
            throw APIError::other(kNotOnServer);
        if (hadBlocks && req.blocks.empty())
            co_return; // each was deleted since
        QHash<QString, qint64> sentIDs;
        QHash<QString, qint64> sentFields;
        for (const BlockUpsertItem &item : req.blocks) {
            sentIDs.insert(item.client_id, item.id.value_or(0));
            sentFields.insert(item.client_id, op.fieldsCarried(item.client_id));
        }
        QMap<QString, qint64> filled;
        for (auto it = m_sending.cbegin(); it != m_sending.cend(); ++it)
            filled.insert(it.key(), it.value());
        noteGoingOut(op, std::move(filled));
        const BlocksUpsertResp resp = co_await m_client.upsertBlocks(req, cancelToken());
        noteSending();
        QSet<QString> named; // blocks that have an id on the service for the first time
        for (const auto &ack : resp.blocks) {
            const qint64 sentID = sentIDs.value(ack.client_id);
            const qint64 carried = op.fieldsCarried(ack.client_id);
            if (sentID != 0 && ack.id != sentID && !(carried & (BlockFields::Content | BlockFields::Kind))) {
                deleteStrayCopy(ack.client_id, ack.id, sentFields);
                continue;
            }
            if (const FNBlock *block = m_store.block(ack.client_id); block && block->serverID == 0)
                named.insert(ack.client_id);
            giveBlockServerID(ack.client_id, ack.id);
        }
        queueHeldChildren(op.refLocalID, named);
        co_return;
    }

    if (kind == SyncOpKind::BlockDelete) {
        const auto map = intMap(op.payloadJSON);
        if (!map || !map->count(QStringLiteral("block_id")))
            co_return;
        try {
            co_await m_client.deleteBlock(map->at(QStringLiteral("block_id")), cancelToken());
        } catch (const APIError &e) {
            // Already gone on the service, or an earlier send whose reply was lost removed it.
            if (e.kind() == APIError::Kind::Http && e.status() == 404)
                co_return;
            throw;
        }
        co_return;
    }
    // Any other pair counts as sent.
}

QCoro::Task<bool> SyncEngine::adoptListedPage(QString pageLocalID, qint64 workspaceID)
{
    const LibraryPagesResp listing = co_await m_client.listPages(workspaceID, cancelToken());
    std::vector<ListedPage> listed;
    for (const PageDTO &dto : listing.pages)
        listed.push_back({dto.id, dto.workspace_id, dto.parent_page_id.value_or(0), dto.title, dto.position,
                          serviceStamp(dto.created_at)});
    const QHash<qint64, QString> picks = pageAdoptions(m_store, listed);
    for (auto it = picks.constBegin(); it != picks.constEnd(); ++it) {
        if (it.value() != pageLocalID)
            continue;
        adoptPageServerID(m_store, pageLocalID, it.key());
        queueStoredBlocks(pageLocalID);
        co_return true;
    }
    co_return false;
}

void SyncEngine::queueLeftEdits()
{
    // Within a launch each edit's page queues it after a pause, but a launch that ended in that
    // pause (a crash, a kill, a power loss) left its saved edits with only their marks to send them.
    if (std::exchange(m_leftEditsQueued, true))
        return;
    QStringList pages;
    for (const FNBlockEdit &edit : m_store.state().editedBlocks) {
        if (!pages.contains(edit.pageLocalID))
            pages << edit.pageLocalID;
    }
    for (const QString &page : pages)
        m_outbox.pageBlocksUpsert(page, now());
}

void SyncEngine::queueHeldChildren(const QString &pageLocalID, const QSet<QString> &named)
{
    // Held back while their parent had no id, they would otherwise wait for the page's next edit.
    if (named.isEmpty())
        return;
    for (const FNBlockEdit &edit : m_store.state().editedBlocks) {
        const FNBlock *block = edit.pageLocalID == pageLocalID ? m_store.block(edit.blockLocalID) : nullptr;
        if (block && !block->deletedAt && named.contains(block->parentBlockLocalID)) {
            queueStoredBlocks(pageLocalID);
            return;
        }
    }
}

void SyncEngine::queueStoredBlocks(const QString &pageLocalID)
{
    // Blocks typed while the page waited for its id have no upsert yet when the page was closed
    // before it came.
    m_outbox.pageBlocksUpsert(pageLocalID, now());
}
