#include "store/sync_engine.h"

#include "platform/connectivity.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/sync_errors.h"

#include <QPointer>

#include <algorithm>
#include <utility>

SyncEngine::SyncEngine(LocalStore &store, ServiceClient &client, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_client(client)
    , m_outbox(Outbox::of(store))
    , m_deferredGeneration(store.generation())
{
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, &SyncEngine::wakeLoop);
    m_queuedCycle.setSingleShot(true);
    connect(&m_queuedCycle, &QTimer::timeout, this, &SyncEngine::runQueuedCycle);
    connect(&m_outbox, &Outbox::queued, this,
            [this](const FNSyncOp &, std::chrono::milliseconds sendAfter) { onQueued(sendAfter); });
    connect(&m_store, &LocalStore::blockChanged, this, &SyncEngine::joinRunTypedIn);
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
    if (!m_client.isSignedIn() || m_draining)
        co_return;
    m_draining = true;
    setSyncing(true);
    m_cancel.reset();

    QPointer<SyncEngine> self(this);
    std::exception_ptr failure;
    noteNewRuns();
    try {
        co_await pullBeforePush();
        m_sentInPush = false;
        co_await push();
        // A feed that just failed, with nothing sent since, is not asked again in the same cycle.
        if (m_freshCopyError && !m_sentInPush)
            std::rethrow_exception(m_freshCopyError);
        co_await pull();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure && SyncErrors::isUnauthorized(failure))
        m_client.endSession(m_requestCredential);
    forgetNewRuns();
    m_draining = false;
    setSyncing(false);
    if (std::exchange(m_blocksQueuedInPush, false) && !m_queuedCycle.isActive())
        m_queuedCycle.start(m_queueDelay);
    Q_EMIT cycleFinished();
    if (failure)
        std::rethrow_exception(failure);
}

QCoro::Task<> SyncEngine::pullBeforePush()
{
    // Only an upsert that fills fields, or one that may have landed, and a stray copy's delete need
    // it; any other push goes first, as the feed may be where a failure lies.
    m_freshCopyError = nullptr;
    m_straysBeforePull.clear();
    if (!needsFreshCopy())
        co_return;
    noteStrayDeletesBeforePull();
    try {
        co_await pull();
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        if (SyncErrors::isCancelled(failure) || SyncErrors::isUnauthorized(failure))
            throw;
        // The upserts that fill fields wait for a pull that works.
        m_freshCopyError = failure;
    }
}
