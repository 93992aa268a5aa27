#include "store/sync_engine.h"

#include "api/api_error.h"
#include "api/service_endpoints.h"
#include "api/session_store.h"
#include "api/wire/blocks.h"
#include "api/wire/library.h"
#include "api/wire/pages.h"
#include "json/json_coder.h"
#include "platform/app_events.h"
#include "platform/connectivity.h"
#include "platform/secret_store.h"
#include "store/create_adoption.h"
#include "store/local_id.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/page_blocks_upsert.h"
#include "store/retry_policy.h"

#include <QPointer>
#include <QSet>

#include <algorithm>
#include <map>

namespace {

const QString kNotOnServer = QStringLiteral("Page not yet on server");

qint64 intOr(const JSONObject &p, const char *key, qint64 fallback)
{
    const auto it = p.find(QLatin1String(key));
    return it != p.end() && it->second.isInt() ? it->second.toInt() : fallback;
}

QString stringOr(const JSONObject &p, const char *key, const QString &fallback)
{
    const auto it = p.find(QLatin1String(key));
    return it != p.end() && it->second.isString() ? it->second.toString() : fallback;
}

bool has(const JSONObject &p, const char *key)
{
    return p.find(QLatin1String(key)) != p.end();
}

// An outbox payload read as a map of integers; nothing when any member is not one.
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

bool isUnauthorized(const std::exception_ptr &e)
{
    try {
        std::rethrow_exception(e);
    } catch (const APIError &a) {
        return a.kind() == APIError::Kind::Http && a.status() == 401;
    } catch (...) {
        return false;
    }
}

// Whether a request that failed this way may still have reached the service: only a connection
// that never opened certainly did not.
bool mayHaveArrived(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
        return false;
    default:
        return true;
    }
}

bool isCancelled(const std::exception_ptr &e)
{
    try {
        std::rethrow_exception(e);
    } catch (const APIError &a) {
        return a.kind() == APIError::Kind::Network &&
               a.networkError() == QNetworkReply::OperationCanceledError;
    } catch (...) {
        return false;
    }
}

} // namespace

SyncEngine::SyncEngine(LocalStore &store, SecretStore &secrets, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_secrets(secrets)
    , m_deferredGeneration(store.generation())
{
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, &SyncEngine::wakeLoop);
    m_queuedCycle.setSingleShot(true);
    connect(&m_queuedCycle, &QTimer::timeout, this, &SyncEngine::runQueuedCycle);
    connect(&Outbox::of(store), &Outbox::queued, this,
            [this](const FNSyncOp &, std::chrono::milliseconds sendAfter) { onQueued(sendAfter); });
}

void SyncEngine::onQueued(std::chrono::milliseconds sendAfter)
{
    const auto delay = std::max(m_queueDelay, sendAfter);
    if (m_queuedCycle.isActive() && m_queuedCycle.remainingTimeAsDuration() <= delay)
        return;
    m_queuedCycle.start(delay);
}

void SyncEngine::runQueuedCycle()
{
    if (!m_draining)
        syncQuietly(this);
}

SyncEngine::~SyncEngine()
{
    // Let a paused loop end and a cycle in flight give way before the members go.
    stopLoop();
    cancelCycle();
}

SyncEngine &SyncEngine::shared()
{
    static SyncEngine *engine = [] {
        auto *e = new SyncEngine(LocalStore::shared(), SecretStore::shared());
        e->followConnectivity(Connectivity::shared());
        return e;
    }();
    return *engine;
}

void SyncEngine::start()
{
    if (m_running)
        return;
    m_running = true;
    tickLoop(++m_loopId);
}

void SyncEngine::stopLoop()
{
    if (!m_running)
        return;
    m_running = false;
    ++m_loopId;
    wakeLoop();
}

// Awaiting it parks the loop until the pause ends or the loop is stopped. A queued signal would
// not do: its wake-up is dropped when the engine goes, leaving the loop suspended for ever.
struct SyncEngine::Pause {
    SyncEngine *engine;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> loop)
    {
        engine->m_pausedLoop = loop;
        engine->m_pause.start(engine->m_tickInterval);
    }
    void await_resume() const noexcept {}
};

void SyncEngine::wakeLoop()
{
    m_pause.stop();
    if (auto loop = std::exchange(m_pausedLoop, {}))
        loop.resume();
}

void SyncEngine::cancelCycle()
{
    if (m_draining)
        m_cancel.cancel();
}

QCoro::Task<> SyncEngine::tickLoop(quint64 loopId)
{
    QPointer<SyncEngine> self(this);
    const auto current = [&] { return self && self->m_running && self->m_loopId == loopId; };
    while (current()) {
        co_await syncQuietly(this);
        if (!current())
            co_return;
        co_await Pause{this};
    }
}

void SyncEngine::followConnectivity(Connectivity &connectivity)
{
    m_online = connectivity.isOnline();
    connect(&connectivity, &Connectivity::pathUpdated, this, &SyncEngine::handlePathUpdate,
            Qt::UniqueConnection);
}

void SyncEngine::handlePathUpdate(bool online)
{
    const bool cameBack = online && !m_online;
    m_online = online;
    if (cameBack)
        syncQuietly(this);
}

QPointer<CancelToken> SyncEngine::cancelToken()
{
    return QPointer<CancelToken>(&m_cancel);
}

std::optional<QString> SyncEngine::token() const
{
    return SessionStore::savedToken(m_secrets);
}

QDateTime SyncEngine::now() const
{
    return m_now ? m_now() : QDateTime::currentDateTimeUtc();
}

void SyncEngine::setSyncing(bool syncing)
{
    if (m_isSyncing == syncing)
        return;
    m_isSyncing = syncing;
    Q_EMIT isSyncingChanged(syncing);
}

QCoro::Task<> SyncEngine::syncQuietly(QPointer<SyncEngine> engine)
{
    if (!engine)
        co_return;
    try {
        co_await engine->syncNow();
    } catch (...) {
    }
}

QCoro::Task<> SyncEngine::syncNow()
{
    const auto t = token();
    if (!t || m_draining)
        co_return;
    m_draining = true;
    setSyncing(true);
    m_cancel.reset();

    QPointer<SyncEngine> self(this);
    std::exception_ptr failure;
    try {
        co_await push(*t);
        co_await pull();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    // A refusal of a token that has since been replaced (a new sign-in) says nothing about the
    // session now stored, which must not be ended by it.
    if (failure && isUnauthorized(failure) && token() == m_requestToken)
        AppEvents::shared().postAuthExpired(m_requestToken);
    m_draining = false;
    setSyncing(false);
    Q_EMIT cycleFinished();
    if (failure)
        std::rethrow_exception(failure);
}

std::optional<size_t> SyncEngine::queuedIndex(const QString &opLocalID) const
{
    const auto &outbox = m_store.state().outbox;
    const auto it =
        std::find_if(outbox.begin(), outbox.end(), [&](const FNSyncOp &o) { return o.localID == opLocalID; });
    if (it == outbox.end())
        return std::nullopt;
    return size_t(std::distance(outbox.begin(), it));
}

void SyncEngine::removeFromOutbox(const QString &opLocalID)
{
    if (!queuedIndex(opLocalID))
        return;
    m_store.changeOutsideRecords([&](StoreState &s) {
        std::erase_if(s.outbox, [&](const FNSyncOp &o) { return o.localID == opLocalID; });
    });
}

QCoro::Task<> SyncEngine::push(QString token)
{
    std::vector<FNSyncOp> ops = m_store.state().outbox;
    if (ops.empty())
        co_return;
    std::stable_sort(ops.begin(), ops.end(),
                     [](const FNSyncOp &a, const FNSyncOp &b) { return a.createdAt < b.createdAt; });

    // Only the newest block upsert of a page is worth sending: each carries all its blocks.
    std::map<QString, QString> newestUpsert;
    for (const auto &op : ops) {
        if (op.kind() == SyncOpKind::BlockUpsert)
            newestUpsert[op.refLocalID] = op.localID;
    }
    std::vector<FNSyncOp> due;
    for (const auto &op : ops) {
        const bool superseded =
            op.kind() == SyncOpKind::BlockUpsert && newestUpsert[op.refLocalID] != op.localID;
        if (superseded) {
            removeFromOutbox(op.localID);
            m_store.scheduleSave();
        } else {
            due.push_back(op);
        }
    }

    const QDateTime passTime = now();
    m_requestToken = token;
    // Per record, order holds: once an operation waits out its back-off or fails, the newer ones
    // for the same record wait with it, so an older rename can never land after a newer one.
    QSet<QString> held;
    for (const auto &queued : due) {
        const QString record = recordKey(queued);
        if (held.contains(record))
            continue;
        if (queued.nextRetryAt && *queued.nextRetryAt > passTime) {
            if (isReadable(queued))
                held.insert(record);
            continue;
        }
        // A follow-up goes out in the same pass, before the pull could bring the older version back.
        for (std::optional<FNSyncOp> op = queued; op;) {
            if (m_cancel.isCancelled())
                co_return;
            std::exception_ptr failure;
            try {
                co_await sendOp(*op, token);
            } catch (...) {
                failure = std::current_exception();
            }
            if (!failure) {
                op = settleSent(*op);
                continue;
            }
            if (isCancelled(failure))
                co_return; // not the operation's fault: nothing is counted
            if (isUnauthorized(failure)) {
                // Nor is a refused token: the operation waits, count untouched, for the next
                // sign-in. The cycle ends so the session can, unless a new session has replaced
                // this token.
                if (this->token() == token)
                    std::rethrow_exception(failure);
                co_return;
            }
            recordFailure(*op, failure);
            keepSentCreate(*op);
            // One that can never be read can never land late either.
            if (queuedIndex(op->localID) && isReadable(*op))
                held.insert(record);
            op.reset();
        }
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

QString SyncEngine::recordKey(const FNSyncOp &op) const
{
    // A page's block upserts and the deletes of its blocks touch one list on the service.
    if (op.kind() == SyncOpKind::BlockUpsert)
        return QStringLiteral("blocks:") + op.refLocalID;
    if (op.kind() == SyncOpKind::BlockDelete) {
        const qsizetype index = m_store.indexOfBlock(op.refLocalID);
        if (index >= 0)
            return QStringLiteral("blocks:") + m_store.state().blocks[size_t(index)].pageLocalID;
    }
    return op.entity + QLatin1Char(':') + op.refLocalID;
}

std::optional<FNSyncOp> SyncEngine::settleSent(const FNSyncOp &sent)
{
    const auto index = queuedIndex(sent.localID);
    if (!index)
        return std::nullopt;
    const FNSyncOp &queued = m_store.state().outbox[*index];
    if (queued.payloadJSON == sent.payloadJSON) {
        removeFromOutbox(sent.localID);
        m_store.scheduleSave();
        return std::nullopt;
    }
    // Rewritten while on its way (a rename of a page being created): the service has the old
    // payload, so what changed still has to follow.
    FNSyncOp followUp = queued;
    if (sent.kind() == SyncOpKind::PageCreate) {
        std::optional<QString> payload;
        try {
            if (const auto patch = createFollowUp(sent, followUp))
                payload = QString::fromUtf8(sharedJSONEncode(*patch));
        } catch (const EncodeError &) {
        }
        if (!payload) {
            removeFromOutbox(sent.localID);
            m_store.scheduleSave();
            return std::nullopt;
        }
        followUp.op = QStringLiteral("update");
        followUp.payloadJSON = *payload;
    }
    followUp.attempts = 0;
    followUp.unanswered = false;
    m_store.changeOutsideRecords([&](StoreState &s) { s.outbox[*index] = followUp; });
    m_store.scheduleSave();
    return followUp;
}

void SyncEngine::keepSentCreate(const FNSyncOp &sent)
{
    if (sent.kind() != SyncOpKind::PageCreate)
        return;
    const auto index = queuedIndex(sent.localID);
    if (!index)
        return;
    const FNSyncOp queued = m_store.state().outbox[*index];
    if (!queued.unanswered || queued.payloadJSON == sent.payloadJSON)
        return;
    // The service may hold a page made from the body that went out, and that body is how the page
    // is recognised there: it stays, and what was rewritten meanwhile follows as an update.
    const auto patch = createFollowUp(sent, queued, /*beforeID=*/true);
    m_store.changeOutsideRecords([&](StoreState &s) { s.outbox[*index].payloadJSON = sent.payloadJSON; });
    m_store.scheduleSave();
    if (patch) {
        Outbox::of(m_store).pageUpdate(
            queued.refLocalID, *patch, Outbox::Unencodable::QueueNothing,
            std::max(QDateTime::currentDateTimeUtc(), queued.createdAt.addMSecs(1)));
    }
}

std::optional<PagePatchReq> SyncEngine::createFollowUp(const FNSyncOp &sent, const FNSyncOp &queued,
                                                       bool beforeID) const
{
    const auto pageIdx = m_store.indexOfPage(queued.refLocalID);
    if (pageIdx < 0)
        return std::nullopt;
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
    patch.page_id = m_store.state().pages[size_t(pageIdx)].serverID;
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

void SyncEngine::recordFailure(const FNSyncOp &op, std::exception_ptr error)
{
    // Only the failure fields are written, onto the operation as it is queued now: a writer may
    // have rewritten its payload while it was being sent.
    const auto index = queuedIndex(op.localID);
    if (!index)
        return; // removed meanwhile (undo, logout): nothing to write back
    qint64 attempts = m_store.state().outbox[*index].attempts;
    QString lastError;
    std::optional<int> status;
    bool unanswered = false;
    try {
        std::rethrow_exception(error);
    } catch (const APIError &e) {
        lastError = e.errorDescription();
        if (e.kind() == APIError::Kind::Http)
            status = e.status();
        unanswered = e.kind() == APIError::Kind::Network && mayHaveArrived(e.networkError());
    } catch (const DecodeError &e) {
        lastError = e.message();
    } catch (const std::exception &e) {
        lastError = QString::fromUtf8(e.what());
    } catch (...) {
        lastError = QStringLiteral("Unknown error");
    }

    if (status && RetryPolicy::isPermanentClientError(*status)) {
        attempts += 1;
        if (attempts >= RetryPolicy::kDropAtAttempts) {
            removeFromOutbox(op.localID);
            m_store.scheduleSave();
            return;
        }
    } else {
        attempts = std::min(attempts + 1, RetryPolicy::kMaxTransientAttempts);
    }
    const QDateTime retryAt = now().addMSecs(RetryPolicy::delayAfter(attempts).count());
    m_store.changeOutsideRecords([&](StoreState &s) {
        FNSyncOp &queued = s.outbox[*index];
        queued.attempts = attempts;
        queued.lastError = lastError;
        queued.nextRetryAt = retryAt;
        queued.unanswered = queued.unanswered || unanswered;
    });
    m_store.scheduleSave();
}

QCoro::Task<> SyncEngine::sendOp(FNSyncOp op, QString token)
{
    const SyncOpKind kind = op.kind();
    if (kind == SyncOpKind::FolderCreate || kind == SyncOpKind::FolderUpdate) {
        co_await sendFolderOp(std::move(op), std::move(token));
        co_return;
    }
    if (kind == SyncOpKind::PageMove) {
        co_await sendPageMove(std::move(op), std::move(token));
        co_return;
    }

    if (kind == SyncOpKind::PageCreate) {
        const auto idx = m_store.indexOfPage(op.refLocalID);
        if (idx >= 0 && m_store.state().pages[size_t(idx)].serverID != 0) {
            // Adopted from the service's copy made by an earlier send whose reply was lost.
            queueStoredBlocks(op.refLocalID);
            co_return;
        }
        PageCreateReq req;
        try {
            req = decodePayload<PageCreateReq>(op.payloadJSON);
        } catch (const DecodeError &) {
            // Rebuild an unreadable payload from the page itself rather than lose the page.
            if (idx < 0)
                co_return;
            req = pageCreateReq(m_store.state().pages[size_t(idx)]);
        }
        // An earlier send may have reached the service although its reply never came back.
        if (op.unanswered && co_await adoptListedPage(op.refLocalID, req.workspace_id, token))
            co_return;
        const PageResp resp = co_await ServiceEndpoints::createPage(token, req, cancelToken());
        if (m_store.indexOfPage(op.refLocalID) < 0)
            co_return;
        adoptPageServerID(m_store, op.refLocalID, resp.page.id);
        queueStoredBlocks(op.refLocalID);
        co_return;
    }

    if (kind == SyncOpKind::PageUpdate) {
        PagePatchReq req = decodePayload<PagePatchReq>(op.payloadJSON);
        // The page may have got its server id after the update was queued.
        const auto idx = m_store.indexOfPage(op.refLocalID);
        if (idx >= 0 && m_store.state().pages[size_t(idx)].serverID != 0)
            req.page_id = m_store.state().pages[size_t(idx)].serverID;
        if (req.page_id == 0)
            throw APIError::other(kNotOnServer);
        co_await ServiceEndpoints::patchPage(token, req, cancelToken());
        co_return;
    }

    if (kind == SyncOpKind::PageDelete) {
        qint64 pageId = 0;
        const auto idx = m_store.indexOfPage(op.refLocalID);
        if (idx >= 0)
            pageId = m_store.state().pages[size_t(idx)].serverID;
        if (pageId == 0) {
            const auto map = intMap(op.payloadJSON);
            if (map && map->count(QStringLiteral("page_id")))
                pageId = map->at(QStringLiteral("page_id"));
        }
        if (pageId == 0)
            throw APIError::other(kNotOnServer);
        try {
            co_await ServiceEndpoints::deletePage(token, pageId, cancelToken());
        } catch (const APIError &e) {
            if (e.kind() == APIError::Kind::Http && e.status() == 404)
                co_return; // already gone on the service
            throw;
        }
        co_return;
    }

    if (kind == SyncOpKind::BlockUpsert) {
        const BlocksUpsertReq req = decodePayload<BlocksUpsertReq>(op.payloadJSON);
        if (req.page_id == 0)
            throw APIError::other(kNotOnServer);
        noteSentBlocks(req);
        const BlocksUpsertResp resp = co_await ServiceEndpoints::upsertBlocks(token, req, cancelToken());
        for (const auto &ack : resp.blocks)
            giveBlockServerID(ack.client_id, ack.id);
        co_return;
    }

    if (kind == SyncOpKind::BlockDelete) {
        const auto map = intMap(op.payloadJSON);
        if (!map || !map->count(QStringLiteral("block_id")))
            co_return;
        co_await ServiceEndpoints::deleteBlock(token, map->at(QStringLiteral("block_id")), cancelToken());
        co_return;
    }
    // Any other pair counts as sent.
}

QCoro::Task<bool> SyncEngine::adoptListedPage(QString pageLocalID, qint64 workspaceID, QString token)
{
    const LibraryPagesResp listing = co_await ServiceEndpoints::listPages(token, workspaceID, cancelToken());
    std::vector<ListedPage> listed;
    for (const PageDTO &dto : listing.pages)
        listed.push_back({dto.id, dto.workspace_id, dto.parent_page_id.value_or(0), dto.title, dto.position});
    const QHash<qint64, QString> picks = pageAdoptions(m_store, std::move(listed));
    for (auto it = picks.constBegin(); it != picks.constEnd(); ++it) {
        if (it.value() != pageLocalID)
            continue;
        adoptPageServerID(m_store, pageLocalID, it.key());
        queueStoredBlocks(pageLocalID);
        co_return true;
    }
    co_return false;
}

void SyncEngine::queueStoredBlocks(const QString &pageLocalID)
{
    // Blocks typed while the page waited for its id have no upsert yet when the page was closed
    // before it came; the page's own upsert, if one is queued, carries them anyway.
    const auto &outbox = m_store.state().outbox;
    const bool queued = std::any_of(outbox.begin(), outbox.end(), [&](const FNSyncOp &o) {
        return o.kind() == SyncOpKind::BlockUpsert && o.refLocalID == pageLocalID;
    });
    if (queued)
        return;
    const auto req = storedBlocksUpsert(m_store, pageLocalID);
    if (!req)
        return;
    Outbox::of(m_store).blocksUpsert(pageLocalID, *req, now());
}

void SyncEngine::noteSentBlocks(const BlocksUpsertReq &req)
{
    for (const BlockUpsertItem &item : req.blocks) {
        const auto idx = m_store.indexOfBlock(item.client_id);
        if (idx < 0)
            continue;
        const FNBlock &block = m_store.state().blocks[size_t(idx)];
        // Only a block sent exactly as it stands is in agreement; one edited since it was queued
        // still has news for the service.
        JSONObject local;
        try {
            local = parseJSONObject(block.contentJSON.toUtf8());
        } catch (const DecodeError &) {
            continue;
        }
        if (block.type == item.type && local == item.content)
            m_agreedVersion.insert(block.localID, block.updatedAt);
    }
}

QCoro::Task<> SyncEngine::pull()
{
    // Read afresh: the session may have been renewed while the push ran.
    const auto t = this->token();
    if (!t)
        co_return;
    const QString token = *t;
    m_requestToken = token;
    const quint64 generation = m_store.generation();
    const qint64 cursor = m_store.state().cursorServerTs;
    const SyncReq req{cursor};
    const SyncResp resp = co_await ServiceEndpoints::sync(token, req, cancelToken());
    // A reply for a session or data set that no longer exists must not land in the new one.
    if (m_store.generation() != generation || this->token() != token)
        co_return;
    if (m_deferredGeneration != generation) {
        m_deferredBlocks.clear();
        m_agreedVersion.clear();
        m_deferredGeneration = generation;
    }
    m_pageAdoptions = pageAdoptions(m_store, unknownPages(resp.ops));
    for (const auto &op : resp.ops)
        apply(op);
    m_pageAdoptions.clear();
    retryDeferredBlocks();
    if (resp.server_ts > m_store.state().cursorServerTs) {
        m_store.changeOutsideRecords([&](StoreState &s) { s.cursorServerTs = resp.server_ts; });
        m_store.scheduleSave();
    }
}

std::vector<ListedPage> SyncEngine::unknownPages(const std::vector<SyncOpDTO> &ops) const
{
    std::vector<ListedPage> pages;
    for (const SyncOpDTO &op : ops) {
        if (op.entity_type != QLatin1String("page") || op.op == QLatin1String("delete") ||
            op.entity_id <= 0 || m_store.indexOfPageWithServerID(op.entity_id) >= 0)
            continue;
        const JSONObject p = op.payload.value_or(JSONObject{});
        pages.push_back({op.entity_id, intOr(p, "workspace_id", 0), intOr(p, "parent_page_id", 0),
                         stringOr(p, "title", QStringLiteral("Untitled")), intOr(p, "position", 0)});
    }
    return pages;
}

QString SyncEngine::contentJSON(const JSONObject &payload)
{
    const auto it = payload.find(QStringLiteral("content"));
    if (it == payload.end())
        return QStringLiteral("{}");
    try {
        return QString::fromUtf8(it->second.serialize());
    } catch (const EncodeError &) {
        return QStringLiteral("{}");
    }
}

void SyncEngine::apply(const SyncOpDTO &op)
{
    // Id 0 or below names nothing on the service.
    if (op.entity_id <= 0)
        return;
    const JSONObject p = op.payload.value_or(JSONObject{});
    const bool isDelete = op.op == QLatin1String("delete");

    if (op.entity_type == QLatin1String("page")) {
        const auto idx = m_store.indexOfPageWithServerID(op.entity_id);
        if (isDelete) {
            if (idx < 0)
                return;
            FNPage page = m_store.state().pages[size_t(idx)];
            page.deletedAt = now();
            m_store.upsertPage(page);
            return;
        }
        qsizetype at = idx;
        if (at < 0) {
            // The echo of this device's create whose reply was lost.
            if (const auto adopted = m_pageAdoptions.constFind(op.entity_id);
                adopted != m_pageAdoptions.cend()) {
                adoptPageServerID(m_store, *adopted, op.entity_id);
                at = m_store.indexOfPage(*adopted);
            }
        }
        const bool found = at >= 0;
        FNPage page = found ? m_store.state().pages[size_t(at)] : FNPage{};
        const auto set = [&](const char *key, auto apply) {
            if (!found || has(p, key))
                apply();
        };
        set("title", [&] { page.title = stringOr(p, "title", QStringLiteral("Untitled")); });
        set("icon", [&] { page.icon = stringOr(p, "icon", QString()); });
        set("position", [&] { page.position = intOr(p, "position", 0); });
        set("workspace_id", [&] { page.workspaceServerID = intOr(p, "workspace_id", 0); });
        set("parent_page_id", [&] { page.parentPageServerID = intOr(p, "parent_page_id", 0); });
        set("folder_id", [&] { page.folderServerID = intOr(p, "folder_id", 0); });
        set("cover_url", [&] { page.coverURL = stringOr(p, "cover_url", QString()); });
        set("cover_offset_x", [&] { page.coverOffsetX = intOr(p, "cover_offset_x", 50); });
        set("cover_offset_y", [&] { page.coverOffsetY = intOr(p, "cover_offset_y", 50); });
        const QDateTime t = now();
        if (!found) {
            page.localID = newLocalID();
            page.serverID = op.entity_id;
            page.createdAt = t;
            page.deletedAt.reset();
        }
        page.updatedAt = t;
        m_store.upsertPage(page);
        return;
    }

    if (op.entity_type != QLatin1String("block"))
        return;
    const auto idx = m_store.indexOfBlockWithServerID(op.entity_id);
    if (isDelete) {
        if (idx < 0)
            return;
        FNBlock block = m_store.state().blocks[size_t(idx)];
        block.deletedAt = now();
        m_store.upsertBlock(block);
        return;
    }
    if (idx >= 0) {
        // Only what the payload carries changes: a position-only update keeps the text. A stored
        // block keeps its page, so "page_id" is not read here.
        FNBlock block = m_store.state().blocks[size_t(idx)];
        // A block edited here since this device and the service last agreed on it keeps the edit:
        // the pulled version is most often the echo of this device's own earlier push, and the
        // edit is still on its way out.
        const auto agreed = m_agreedVersion.constFind(block.localID);
        if (agreed != m_agreedVersion.constEnd() && block.updatedAt > *agreed)
            return;
        if (has(p, "type"))
            block.type = stringOr(p, "type", QStringLiteral("text"));
        if (has(p, "content"))
            block.contentJSON = contentJSON(p);
        if (has(p, "position"))
            block.position = intOr(p, "position", 0);
        if (has(p, "parent_block_id"))
            block.parentBlockServerID = intOr(p, "parent_block_id", 0);
        block.updatedAt = now();
        m_store.upsertBlock(block);
        m_agreedVersion.insert(block.localID, block.updatedAt);
        return;
    }
    if (adoptEcho(op.entity_id, stringOr(p, "client_id", QString())))
        return;
    const qint64 pageId = intOr(p, "page_id", 0);
    if (pageId <= 0)
        return;
    const auto pageIdx = m_store.indexOfPageWithServerID(pageId);
    if (pageIdx < 0) {
        const bool waiting =
            std::any_of(m_deferredBlocks.begin(), m_deferredBlocks.end(),
                        [&](const DeferredBlock &d) { return d.op.entity_id == op.entity_id; });
        if (!waiting)
            m_deferredBlocks.push_back({op, 0});
        return;
    }
    FNBlock block;
    block.serverID = op.entity_id;
    block.pageServerID = pageId;
    block.pageLocalID = m_store.state().pages[size_t(pageIdx)].localID;
    block.parentBlockServerID = intOr(p, "parent_block_id", 0);
    block.type = stringOr(p, "type", QStringLiteral("text"));
    block.contentJSON = contentJSON(p);
    block.position = intOr(p, "position", 0);
    block.indentLevel = 0;
    block.createdAt = block.updatedAt = now();
    m_store.upsertBlock(block);
}

bool SyncEngine::adoptEcho(qint64 serverID, const QString &clientID)
{
    if (clientID.isEmpty())
        return false;
    const auto idx = m_store.indexOfBlock(clientID);
    if (idx < 0)
        return false;
    const FNBlock &block = m_store.state().blocks[size_t(idx)];
    if (block.serverID != 0 && block.serverID != serverID)
        return false; // another record of the service claims this block; the pull takes it as new
    // The upsert reached the service but its reply did not reach here: the block is this device's
    // own, as sent, and takes its id rather than coming back as a second copy.
    giveBlockServerID(clientID, serverID);
    return true;
}

void SyncEngine::giveBlockServerID(const QString &blockLocalID, qint64 serverID)
{
    const auto idx = m_store.indexOfBlock(blockLocalID);
    if (idx < 0)
        return;
    // A copy the pull made of this very block before its id was known would share the id.
    const auto &blocks = m_store.state().blocks;
    const bool copied = std::any_of(blocks.begin(), blocks.end(), [&](const FNBlock &b) {
        return b.serverID == serverID && b.localID != blockLocalID;
    });
    if (copied) {
        m_store.change([&](StoreState &s) {
            std::erase_if(s.blocks, [&](const FNBlock &b) {
                return b.serverID == serverID && b.localID != blockLocalID;
            });
        });
    }
    FNBlock block = m_store.state().blocks[size_t(m_store.indexOfBlock(blockLocalID))];
    if (block.serverID == serverID && !copied)
        return;
    block.serverID = serverID;
    m_store.upsertBlock(block);
}

void SyncEngine::retryDeferredBlocks()
{
    if (m_deferredBlocks.empty())
        return;
    std::vector<DeferredBlock> taken;
    taken.swap(m_deferredBlocks);
    for (auto &d : taken) {
        const qint64 pageId = intOr(d.op.payload.value_or(JSONObject{}), "page_id", 0);
        if (m_store.indexOfPageWithServerID(pageId) >= 0) {
            apply(d.op);
            continue;
        }
        const int n = d.attempts + 1;
        if (n < kMaxDeferredAttempts)
            m_deferredBlocks.push_back({d.op, n});
    }
}
