#include "app/logout_flow.h"

#include "api/service_client.h"
#include "api/session_store.h"
#include "app/main_view.h"
#include "store/favorites_store.h"
#include "store/kept_recordings.h"
#include "store/local_store.h"
#include "store/sync_engine.h"

#include <QCoroSignal>
#include <QDeadlineTimer>
#include <QPointer>

namespace {

std::chrono::milliseconds remaining(const QDeadlineTimer &deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline.remainingTimeAsDuration());
}

} // namespace

QString LogoutFlow::logoutMessage(qsizetype unsynced)
{
    if (unsynced <= 0)
        return QStringLiteral("You'll need to sign in again to access your notes.");
    return QStringLiteral("You have ") + QString::number(unsynced) + QStringLiteral(" unsynced change") +
           (unsynced == 1 ? QString() : QStringLiteral("s")) +
           QStringLiteral(
               ". We'll try to sync them before logging out, but if you're offline they may be lost.");
}

Confirmer::Question LogoutFlow::question(qsizetype unsynced)
{
    Confirmer::Question q;
    q.title = QString::fromUtf8(kTitle);
    q.confirmLabel = QString::fromUtf8(kConfirmLabel);
    q.cancelLabel = QString::fromUtf8(kCancelLabel);
    q.destructive = true;
    q.message = logoutMessage(unsynced);
    return q;
}

LogoutFlow::LogoutFlow(const AppContext &context, std::chrono::milliseconds lastSyncWait)
    : m_context(context)
    , m_lastSyncWait(lastSyncWait)
{
}

void LogoutFlow::start()
{
    if (m_running)
        return;
    m_running = true;
    // The token is read before anything else: the sign-out clears it.
    run(m_context.session->token());
}

QCoro::Task<> LogoutFlow::run(std::optional<QString> token)
{
    KeptRecordings *recordings = m_context.recordings;
    if (!m_context.store->state().outbox.empty() || (recordings && recordings->count() > 0))
        co_await lastSync();
    co_await settleCycle();

    Q_EMIT endingSession();
    // The next sign-in pulls the pages under new local ids; their server ids find them again.
    if (m_context.favorites)
        m_context.favorites->rememberServerIDs(*m_context.store);
    if (m_context.settings)
        MainView::rememberLastOpenServerID(*m_context.settings, *m_context.store);
    // Back to back, nothing in between: no view or sync may see the signed-out session with the
    // old data, nor write old data into the new one.
    m_context.session->signOut();
    m_context.store->reset();
    Q_EMIT signedOut();

    if (token) {
        try {
            co_await m_context.client->logout(*token);
        } catch (...) {
            // The local logout is complete either way.
        }
    }
    m_running = false;
    Q_EMIT finished();
    deleteLater();
}

QCoro::Task<> LogoutFlow::lastSync()
{
    SyncEngine *engine = m_context.syncEngine;
    if (!engine)
        co_return;
    const QDeadlineTimer deadline(m_lastSyncWait);
    // Voice notes the service does not have yet go now, due or not: the reset takes them. Each
    // one that lands queues its block's address for the cycle below.
    const QPointer<KeptRecordings> recordings = m_context.recordings;
    if (recordings)
        recordings->uploadAllNow();
    // A cycle already under way (the loop's, an editor's) pushes first; its snapshot of the outbox
    // may predate the last changes, so a cycle of our own follows while time is left.
    if (engine->isSyncing())
        co_await qCoro(engine, &SyncEngine::cycleFinished, remaining(deadline));
    while (recordings && recordings->isUploading() && !deadline.hasExpired())
        co_await qCoro(recordings.get(), &KeptRecordings::uploadEnded, remaining(deadline));
    if (deadline.hasExpired() || m_context.store->state().outbox.empty())
        co_return;
    SyncEngine::syncQuietly(engine);
    if (engine->isSyncing())
        co_await qCoro(engine, &SyncEngine::cycleFinished, remaining(deadline));
}

QCoro::Task<> LogoutFlow::settleCycle()
{
    SyncEngine *engine = m_context.syncEngine;
    if (!engine || !engine->isSyncing())
        co_return;
    // What is still in flight is given up: its late replies must not land anywhere.
    engine->cancelCycle();
    if (engine->isSyncing())
        co_await qCoro(engine, &SyncEngine::cycleFinished, kCancelGrace);
}
