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

namespace {

// Everything a folder's delayed delete needs, none of it the sidebar: it runs on when the sidebar
// goes, and stops when the data set it belongs to goes.
struct FolderDeletion {
    std::shared_ptr<bool> undone;
    QString localID;
    quint64 generation = 0;
    QPointer<LocalStore> store;
    QPointer<ServiceClient> client;
    QPointer<SyncEngine> engine;
    QPointer<LibraryDeleter> deleter;

    void finished() const
    {
        if (deleter)
            Q_EMIT deleter->serverWorkFinished();
    }
};

QCoro::Task<> sendFolderDelete(ServiceClient &client, qint64 folderServerID, QPointer<LibraryDeleter> deleter)
{
    try {
        co_await client.deleteFolder(folderServerID);
    } catch (...) {
        // Not shown and not retried: the folder stays hidden here either way.
    }
    if (deleter)
        Q_EMIT deleter->serverWorkFinished();
}

void settleFolderDeletion(const FolderDeletion &d)
{
    if (*d.undone || !d.store || !d.client || d.store->generation() != d.generation)
        return d.finished();
    const FNFolder *folder = d.store->folder(d.localID);
    if (!folder)
        return d.finished();
    const qint64 serverID = folder->serverID;
    if (serverID == 0) {
        // Its create is still queued: the id it brings is the one to delete, looked for after each
        // sync cycle until the create has gone (sent, or given up).
        const bool createQueued = Outbox::of(*d.store).isQueued(SyncOpKind::FolderCreate, d.localID);
        if (createQueued && d.engine) {
            auto connection = std::make_shared<QMetaObject::Connection>();
            *connection = QObject::connect(d.engine, &SyncEngine::cycleFinished, d.store, [d, connection] {
                QObject::disconnect(*connection);
                settleFolderDeletion(d);
            });
            return;
        }
        return d.finished();
    }
    if (!d.client->isSignedIn())
        return d.finished();
    sendFolderDelete(*d.client, serverID, d.deleter);
}

} // namespace

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
    auto undone = std::make_shared<bool>(false);
    if (m_toasts) {
        QPointer<LibraryDeleter> self(this);
        m_toasts->show(
            QString::fromLatin1(kFolderDeleted), QString::fromLatin1(kUndo),
            [self, undone, localID] {
                if (self)
                    self->undoDeleteFolder(undone, localID);
            },
            m_undoWindow);
    }
    deleteFolderOnServer(undone, localID);
}

void LibraryDeleter::undoDeleteFolder(const std::shared_ptr<bool> &undone, const QString &localID)
{
    *undone = true;
    m_store.restoreFolder(localID);
}

void LibraryDeleter::deleteFolderOnServer(std::shared_ptr<bool> undone, QString localID)
{
    const FolderDeletion d{
        std::move(undone), std::move(localID), m_store.generation(), &m_store, &m_client, &m_engine, this};
    // Timed by the store: a reset data set takes the pending delete with it.
    QTimer::singleShot(m_serverDelay, &m_store, [d] { settleFolderDeletion(d); });
}

void LibraryDeleter::deletePage(const QString &localID)
{
    const FNPage *stored = m_store.page(localID);
    if (!stored)
        return;
    const FNPage page = *stored;

    if (m_favorites && m_favorites->ids().contains(localID)) {
        QSet<QString> ids = m_favorites->ids();
        ids.remove(localID);
        m_favorites->setIds(std::move(ids));
        m_favorites->save();
    }
    m_store.markPageDeleted(localID);

    // Sent once the undo window has passed, unless a cycle for something else comes first.
    const FNSyncOp op = *Outbox::of(m_store).pageDelete(localID, page.serverID, m_serverDelay);
    ++m_pageDeletions[localID];

    if (m_toasts) {
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

    if (queued && !maybeSent)
        return;
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
    if (store.generation() == generation && self->m_pageDeletions.value(localID) == deletion && page &&
        page->deletedAt)
        store.restorePage(localID);
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
