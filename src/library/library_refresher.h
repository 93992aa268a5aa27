#pragma once

#include "api/wire/folders.h"
#include "api/wire/library.h"

#include <QCoroTask>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <optional>

class LibraryCreator;
class LocalStore;
class ServiceClient;
class SyncEngine;

// Keeps the sidebar's workspaces, folders, pages and page badges in step with the service by reading
// whole lists and merging them into the local data, once when the sidebar appears and every 6 s while
// it is shown. Folders reach the device only this way. A record with a change still queued keeps its
// local fields. Silent: a failed load changes nothing.
class LibraryRefresher : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kPollInterval{6000};
    static constexpr const char *kDefaultFolderIcon = "\U0001F4C1";
    // Listed pages merged in one turn of the event loop when a load merges them; the rest wait for the
    // next turns, so a workspace of thousands of pages never holds the window.
    static constexpr qsizetype kPagesPerTurn = 250;

    LibraryRefresher(LocalStore &store, ServiceClient &client, SyncEngine &engine, LibraryCreator &creator,
                     QObject *parent = nullptr);

    void setPollInterval(std::chrono::milliseconds interval) { m_interval = interval; }
    void setPagesPerTurn(qsizetype pages) { m_pagesPerTurn = std::max<qsizetype>(1, pages); }
    // While a folder or page name is edited in place, poll cycles load nothing.
    void setRenameInProgress(bool renaming) { m_renaming = renaming; }
    bool isRenameInProgress() const { return m_renaming; }

    // One refresh, not kept: the current workspace's statuses, folders and pages, or the workspace
    // list first while no workspace is known.
    void startRefresh();
    // The polling loop: a cycle at once, then one per interval until stopPolling.
    void startPolling();
    void stopPolling();
    bool isPolling() const { return m_polling; }

    QCoro::Task<> refreshCurrentWorkspace();
    QCoro::Task<> loadWorkspaces();
    QCoro::Task<> loadFolders();
    QCoro::Task<> loadPages();
    QCoro::Task<> loadPageStatuses();

    void mergeWorkspaces(const WorkspacesResp &reply);
    // Server ids of the workspace's folders that were on the device when the list was asked for: only
    // those may be taken as removed on the service. A listed folder a lost create reply made is adopted.
    QCoro::Task<> mergeFolders(FoldersResp reply, qint64 workspaceServerID, QSet<qint64> knownBefore);
    // `settledDeletions`: local pages that were in the trash, with no deletion still to send, when
    // the list was asked for; one the service lists as live was restored elsewhere. A listed page a
    // lost create reply made is adopted.
    void mergePages(const LibraryPagesResp &reply, const QSet<QString> &settledDeletions = {});
    // The same over several turns; each listed page is merged into the store as it is when its turn
    // comes. Ends early when the store is cleared or switched meanwhile, or a pull moves the cursor
    // from where it stood when the list was asked for.
    QCoro::Task<> mergePagesInTurns(LibraryPagesResp reply, QSet<QString> settledDeletions, qint64 cursorAsked);
    // Those pages now.
    QSet<QString> settledDeletions() const;
    void mergePageStatuses(const PageStatusesResp &reply);

Q_SIGNALS:
    // A poll cycle ended; `loaded` is false when a rename kept it from loading.
    void pollCycleFinished(bool loaded);

private:
    QCoro::Task<> pollServer(quint64 loopID);
    QSet<qint64> syncedFolderIDs(qint64 workspaceServerID) const;
    // Local pages waiting to learn their server id, for listed pages this device does not know.
    QHash<qint64, QString> pageAdoptionsFor(const LibraryPagesResp &reply) const;
    // Merges the listed pages [from, to).
    void mergePageRange(const LibraryPagesResp &reply, qsizetype from, qsizetype to,
                        const QSet<QString> &settledDeletions, const QHash<qint64, QString> &adoptions);

    LocalStore &m_store;
    ServiceClient &m_client;
    SyncEngine &m_engine;
    std::chrono::milliseconds m_interval = kPollInterval;
    QTimer m_sleep;
    bool m_polling = false;
    bool m_renaming = false;
    qsizetype m_pagesPerTurn = kPagesPerTurn;
    quint64 m_loopID = 0; // a stopped loop sees a newer id and ends
};
