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

#include <QPointer>
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
    QPointer<SyncEngine> self(this);
    queueLeftEdits();
    co_await foldBlockUpserts();
    if (!self || m_cancel.isCancelled())
        co_return;
    const QDateTime passTime = now();
    const auto waits = [&](const FNSyncOp &op) { return op.nextRetryAt && *op.nextRetryAt > passTime; };
    const auto &outbox = m_store.state().outbox;
    // What only waits out its back-off is not read at all when nothing is due.
    if (std::all_of(outbox.begin(), outbox.end(), waits)) {
        co_await restoreRefusedPages();
        co_return;
    }
    // In the order queued; the times are read once, not at every comparison.
    std::vector<std::pair<qint64, size_t>> order;
    order.reserve(outbox.size());
    for (size_t i = 0; i < outbox.size(); ++i)
        order.emplace_back(outbox[i].createdAt.toMSecsSinceEpoch(), i);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    // The operations due, each numbered by its record, and the records' operations still to come.
    // One that waits counts only where a due one of its record comes after it: what it holds back.
    std::vector<FNSyncOp> due;
    std::vector<int> dueRecord;
    QHash<RecordKey, int> recordIDs;
    for (const auto &[stamp, i] : order) {
        if (waits(outbox[i]))
            continue;
        due.push_back(outbox[i]);
        const RecordKey record = recordKey(outbox[i]);
        auto id = recordIDs.find(record);
        if (id == recordIDs.end())
            id = recordIDs.insert(record, int(recordIDs.size()));
        dueRecord.push_back(*id);
    }
    std::vector<int> dueAhead(size_t(recordIDs.size()), 0);
    std::vector<size_t> lastDue(dueAhead.size(), 0);
    for (size_t at = 0; at < dueRecord.size(); ++at) {
        ++dueAhead[size_t(dueRecord[at])];
        lastDue[size_t(dueRecord[at])] = at;
    }
    // Per record, the operations that failed or wait, passed over before its next due one, and the
    // refused among them, which a newer one that lands overrules; and the records held back.
    std::vector<std::vector<FNSyncOp>> passedOver(dueAhead.size());
    std::vector<QStringList> passed(dueAhead.size());
    std::vector<bool> held(dueAhead.size(), false);
    {
        size_t next = 0; // the next due operation, in the order queued
        for (const auto &[stamp, i] : order) {
            const FNSyncOp &op = outbox[i];
            if (!waits(op)) {
                ++next;
                continue;
            }
            if (next == due.size())
                break;
            // Only what comes before a due one of its record can hold it back.
            const auto id = recordIDs.constFind(recordKey(op));
            if (id != recordIDs.cend() && lastDue[size_t(*id)] >= next)
                passedOver[size_t(*id)].push_back(op);
        }
    }
    const auto settleFailed = [&](int record, const FNSyncOp &op) {
        if (dueAhead[size_t(record)] > 0)
            passedOver[size_t(record)].push_back(op);
    };
    // Whether what was passed over holds the record's due operation back; read only now.
    const auto holdsBack = [&](int record) {
        std::vector<FNSyncOp> older = std::exchange(passedOver[size_t(record)], {});
        for (const FNSyncOp &op : older) {
            if (holdsNewer(op)) {
                held[size_t(record)] = true;
                return true;
            }
            if (op.refused)
                passed[size_t(record)].append(op.localID);
        }
        return false;
    };

    m_requestCredential = m_client.credential();
    for (size_t at = 0; at < due.size(); ++at) {
        const FNSyncOp &queued = due[at];
        const int record = dueRecord[at];
        --dueAhead[size_t(record)];
        if (held[size_t(record)] || holdsBack(record))
            continue;
        if (waitsForFolderDelete(queued)) {
            // An undo may still keep it; once the window is past it never goes.
            held[size_t(record)] = true;
            continue;
        }
        if (strayDeleteWaits(queued))
            continue; // it holds nothing back, as any block delete
        if (m_freshCopyError && needsPullFirst(queued)) {
            // Sent now, it would write stale copies; the feed's failure is no answer to it, and
            // costs it no wait: it goes with the first cycle whose pull works.
            noteWaitForFeed(queued, m_freshCopyError);
            held[size_t(record)] = true;
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
                if (!passed[size_t(record)].isEmpty())
                    overrule(passed[size_t(record)], *op);
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

SyncEngine::RecordKey SyncEngine::recordKey(const FNSyncOp &op) const
{
    // A page's block upserts and the deletes of its blocks touch one list on the service.
    static const QString blocks = QStringLiteral("blocks");
    if (op.kind() == SyncOpKind::BlockUpsert)
        return {blocks, op.refLocalID};
    if (op.kind() == SyncOpKind::BlockDelete) {
        if (const FNBlock *block = m_store.block(op.refLocalID))
            return {blocks, block->pageLocalID};
    }
    return {op.entity, op.refLocalID};
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
    std::optional<PagePatchReq> patch = pageCreateChanges(sent.payloadJSON, queued.payloadJSON);
    if (!patch || (page->serverID == 0 && !beforeID) ||
        (!patch->title && !patch->icon && !patch->position && !patch->parent_page_id))
        return std::nullopt;
    patch->page_id = page->serverID;
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
        if (op.madeID.value_or(0) > 0) {
            // An answer heard before the last launch ended named it.
            if (page) {
                adoptPageServerID(m_store, op.refLocalID, *op.madeID);
                queueStoredBlocks(op.refLocalID);
            }
            co_return;
        }
        PageCreateReq req;
        bool readable = true;
        try {
            req = decodePayload<PageCreateReq>(op.payloadJSON);
        } catch (const DecodeError &) {
            // Rebuild an unreadable payload from the page itself rather than lose the page.
            if (!page)
                co_return;
            req = pageCreateReq(*page);
            readable = false;
        }
        linkPageCreate(op, req);
        // An earlier send may have reached the service although its reply never came back.
        if (op.unanswered && co_await adoptListedPage(op.refLocalID, req.workspace_id))
            co_return;
        if (readable)
            m_outbox.createGoingOut(op.localID, op.payloadJSON);
        m_createOut = QDateTime::currentDateTimeUtc();
        const PageResp resp = co_await m_client.createPage(req, cancelToken());
        m_outbox.createAnswered(op.localID, resp.page.id);
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
        // One change for the views however many blocks got their ids.
        m_store.batch([&] {
            for (const auto &ack : resp.blocks) {
                const qint64 sentID = sentIDs.value(ack.client_id);
                const qint64 carried = op.fieldsCarried(ack.client_id);
                if (sentID != 0 && ack.id != sentID &&
                    !(carried & (BlockFields::Content | BlockFields::Kind))) {
                    deleteStrayCopy(ack.client_id, ack.id, sentFields);
                    continue;
                }
                if (const FNBlock *block = m_store.block(ack.client_id); block && block->serverID == 0)
                    named.insert(ack.client_id);
                giveBlockServerID(ack.client_id, ack.id);
            }
        });
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
