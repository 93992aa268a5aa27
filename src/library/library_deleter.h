#pragma once

#include "store/fn_page.h"
#include "store/fn_sync_op.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <memory>

class FavoritesStore;
class LibraryCreator;
class LocalStore;
class ServiceClient;
class SyncEngine;
class ToastCenter;

// Deletes folders and pages from the sidebar. The record leaves the tree at once and a toast offers
// "Undo" for its lifetime; the service learns of it afterwards through the outbox: a folder by its
// "folder"/"delete" operation, held back until the undo window has passed, a page by its
// "page"/"delete" operation. Undoing a page whose deletion may already have reached the service asks
// the service to restore it.
class LibraryDeleter : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kFolderDeleted = "Folder deleted";
    static constexpr const char *kPageDeleted = "Page deleted";
    static constexpr const char *kUndo = "Undo";
    static constexpr std::chrono::milliseconds kUndoWindow{5000};
    // A little longer than the toast, so a folder's undo flag can no longer change when it is read.
    static constexpr std::chrono::milliseconds kServerDelay{5200};

    // `toasts` and `favorites` may be null (no undo offered; no favourites to clean).
    LibraryDeleter(LocalStore &store, ServiceClient &client, SyncEngine &engine, LibraryCreator &creator,
                   ToastCenter *toasts, FavoritesStore *favorites, QObject *parent = nullptr);

    // Tests: how long "Undo" is offered and when the service is told.
    void setDelays(std::chrono::milliseconds undoWindow, std::chrono::milliseconds serverDelay);

    void deleteFolder(const QString &localID);
    void deletePage(const QString &localID);

    // The toast actions.
    void undoDeleteFolder(const std::shared_ptr<bool> &undone, const QString &localID);
    void undoDeletePage(const FNSyncOp &op, const QString &localID);

    // The hand-built restore of a trashed page; silent whatever happens.
    static QCoro::Task<> restorePageOnServer(ServiceClient &client, qint64 pageServerID);

Q_SIGNALS:
    // The page left the tree (the view closes it when it is open).
    void pageDeleted(const QString &localID);
    // An undo brought the page back (the view opens it).
    void pageRestored(const QString &localID);
    // A deletion's or an undo's work on the service ended, sent or not.
    void serverWorkFinished();

private:
    void deleteFolderOnServer(std::shared_ptr<bool> undone, QString opLocalID);
    // Restores the page on the service by the id it has once any running cycle has ended; none when
    // it has none by then (its delete could not have gone out).
    void restoreAfterUndo(const QString &localID, quint64 deletion);
    static QCoro::Task<> restoreAndKeep(QPointer<LibraryDeleter> self, QString localID, quint64 deletion,
                                        quint64 generation);

    LocalStore &m_store;
    ServiceClient &m_client;
    SyncEngine &m_engine;
    ToastCenter *m_toasts;
    FavoritesStore *m_favorites;
    std::chrono::milliseconds m_undoWindow = kUndoWindow;
    std::chrono::milliseconds m_serverDelay = kServerDelay;
    // Deletions so far per page local id: an undo's late work leaves a page deleted again alone.
    QHash<QString, quint64> m_pageDeletions;
};
