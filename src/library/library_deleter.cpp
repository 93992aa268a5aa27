#include "library/library_deleter.h"

#include "api/service_client.h"
#include "store/favorites_store.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/sync_engine.h"
#include "ui/toast_center.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>


LibraryDeleter::LibraryDeleter(LocalStore &store, ServiceClient &client, SyncEngine &engine,
                               LibraryCreator &creator, ToastCenter *toasts, FavoritesStore *favorites,
                               QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_client(client)
    , m_engine(engine)
    , m_toasts(toasts)
    , m_favorites(favorites)
{
    Q_UNUSED(creator);
}

void LibraryDeleter::setDelays(std::chrono::milliseconds undoWindow, std::chrono::milliseconds serverDelay)
{
    m_undoWindow = undoWindow;
    m_serverDelay = serverDelay;
}

void LibraryDeleter::deleteFolder(const QString &localID)
{
    if (!m_store.folder(localID))
        return;
    m_store.markFolderDeleted(localID);
    // Queued at once, so a quit inside the undo window does not lose it, and held back until the
    // window has passed: the service cannot take a folder delete back.
    const FNSyncOp op = *Outbox::of(m_store).folderDelete(localID, m_serverDelay);
    auto undone = std::make_shared<bool>(false);
    if (m_toasts) {
        QPointer<LibraryDeleter> self(this);
        m_toasts->show(
            QString::fromLatin1(kFolderDeleted), QString::fromLatin1(kUndo),
            [self, undone, op, localID] {
                if (self) {
                    Outbox::of(self->m_store).drop(op.localID);
                    self->undoDeleteFolder(undone, localID);
                }
            },
            m_undoWindow);
    }
    deleteFolderOnServer(undone, op.localID);
}

void LibraryDeleter::undoDeleteFolder(const std::shared_ptr<bool> &undone, const QString &localID)
{
    *undone = true;
    m_store.restoreFolder(localID);
}

void LibraryDeleter::deleteFolderOnServer(std::shared_ptr<bool> undone, QString opLocalID)
{
    // Timed by the store: a reset data set takes the pending delete with it. Finished once the
    // operation has left the outbox (sent, or dropped), or at once when undone.
    QPointer<LibraryDeleter> self(this);
    const quint64 generation = m_store.generation();
    QTimer::singleShot(m_serverDelay, Qt::PreciseTimer, &m_store, [self, undone, opLocalID, generation] {
        if (!self)
            return;
        if (*undone || self->m_store.generation() != generation) {
            Q_EMIT self->serverWorkFinished();
            return;
        }
        auto connection = std::make_shared<QMetaObject::Connection>();
        const auto settled = [self, opLocalID, connection] {
            if (!self)
                return;
            if (const auto op = Outbox::of(self->m_store).find(opLocalID)) {
                // A cycle already running when the window passed did not carry it: one more will.
                // A failed send waits for the engine's own retries.
                if (op->attempts == 0 && !self->m_engine.isSyncing())
                    QTimer::singleShot(0, self, [self] {
                        if (self)
                            SyncEngine::syncQuietly(&self->m_engine);
                    });
                return;
            }
            QObject::disconnect(*connection);
            Q_EMIT self->serverWorkFinished();
        };
        *connection = connect(&self->m_engine, &SyncEngine::cycleFinished, self, settled);
        settled();
    });
}

void LibraryDeleter::deletePage(const QString &localID)
{
    const FNPage *stored = m_store.page(localID);
    if (!stored)
        return;
    const FNPage page = *stored;

    if (m_favorites)
        m_favorites->remove(localID, page.serverID);
    m_store.markPageDeleted(localID);

    // Sent once the undo window has passed, unless a cycle for something else comes first.
    const FNSyncOp op = *Outbox::of(m_store).pageDelete(localID, page.serverID, m_serverDelay);
    ++m_pageDeletions[localID];

    if (m_toasts) {
        // What was typed and not queued yet goes out if the delete is undone.
        Outbox::of(m_store).keepMarksOfDeletedPage(localID, m_undoWindow);
        QPointer<LibraryDeleter> self(this);
        m_toasts->show(
            QString::fromLatin1(kPageDeleted), QString::fromLatin1(kUndo),
            [self, op, localID] {
                if (self)
                    self->undoDeletePage(op, localID);
            },
            m_undoWindow);
    }
    Q_EMIT pageDeleted(localID);
}

void LibraryDeleter::undoDeletePage(const FNSyncOp &op, const QString &localID)
{
    const std::optional<FNSyncOp> live = Outbox::of(m_store).find(op.localID);
    const bool queued = live.has_value();
    // A running push sends from its own copy of the outbox, so taking the operation out now does not
    // stop a send under way; and a send that failed may still have reached the service.
    const bool maybeSent = m_engine.isSyncing() || (queued && live->attempts > 0);
    Outbox::of(m_store).drop(op.localID);
    m_store.restorePage(localID);
    if (m_store.page(localID))
        Q_EMIT pageRestored(localID);

    if (queued && !maybeSent) {
        Outbox::of(m_store).pageBlocksUpsert(localID);
        return;
    }
    if (m_client.isSignedIn())
        restoreAfterUndo(localID, m_pageDeletions.value(localID));
}

void LibraryDeleter::restoreAfterUndo(const QString &localID, quint64 deletion)
{
    QPointer<LibraryDeleter> self(this);
    const quint64 generation = m_store.generation();
    if (!m_engine.isSyncing()) {
        restoreAndKeep(self, localID, deletion, generation);
        return;
    }
    // The restore must reach the service after the delete the running cycle may be sending.
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(&m_engine, &SyncEngine::cycleFinished, this,
                          [connection, self, localID, deletion, generation] {
                              QObject::disconnect(*connection);
                              restoreAndKeep(self, localID, deletion, generation);
                          });
}

QCoro::Task<> LibraryDeleter::restoreAndKeep(QPointer<LibraryDeleter> self, QString localID, quint64 deletion,
                                             quint64 generation)
{
    // Both callers run on the deleter, which is alive here. The id is read now, not at the deletion: a
    // page deleted while its create was out got it only since, and its delete went out with it.
    const FNPage *known = self->m_store.generation() == generation ? self->m_store.page(localID) : nullptr;
    if (const qint64 serverID = known ? known->serverID : 0; serverID != 0)
        co_await restorePageOnServer(self->m_client, serverID);
    if (!self)
        co_return;
    LocalStore &store = self->m_store;
    // The cycle that sent the delete may have pulled it back in; the undo still stands unless the page
    // was deleted again meanwhile.
    const FNPage *page = store.page(localID);
    if (store.generation() == generation && self->m_pageDeletions.value(localID) == deletion && page) {
        if (page->deletedAt)
            store.restorePage(localID);
        // Typed before the delete and never queued: the page is back on the service to take it.
        Outbox::of(store).pageBlocksUpsert(localID);
    }
    Q_EMIT self->serverWorkFinished();
}

QCoro::Task<> LibraryDeleter::restorePageOnServer(ServiceClient &client, qint64 pageServerID)
{
    try {
        co_await client.restorePage(pageServerID);
    } catch (...) {
        // Silent: the page stays shown here, and the next refresh shows the service's view.
    }
}
