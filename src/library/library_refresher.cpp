#include "library/library_refresher.h"

#include "api/service_client.h"
#include "platform/start_marks.h"
#include "platform/work_label.h"
#include "store/create_adoption.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/queued_records.h"
#include "store/sync_engine.h"

#include <QCoroTimer>
#include <QPointer>

LibraryRefresher::LibraryRefresher(LocalStore &store, ServiceClient &client, SyncEngine &engine,
                                   LibraryCreator &creator, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_client(client)
    , m_engine(engine)
{
    Q_UNUSED(creator);
    m_sleep.setSingleShot(true);
    connect(&m_sleep, &QTimer::timeout, this, [this] {
        if (m_polling)
            pollServer(m_loopID);
    });
}

void LibraryRefresher::startRefresh()
{
    if (m_store.currentWorkspaceServerID() != 0)
        refreshCurrentWorkspace();
    else
        loadWorkspaces();
}

void LibraryRefresher::startPolling()
{
    if (m_polling)
        return;
    m_polling = true;
    pollServer(++m_loopID);
}

void LibraryRefresher::stopPolling()
{
    m_polling = false;
    ++m_loopID;
    m_sleep.stop();
}

QCoro::Task<> LibraryRefresher::pollServer(quint64 loopID)
{
    QPointer<LibraryRefresher> self(this);
    const bool load = !m_renaming;
    if (load) {
        // A cycle that has begun runs to its end even when the loop is stopped meanwhile.
        co_await loadFolders();
        if (!self)
            co_return;
        co_await loadPages();
        if (!self)
            co_return;
        co_await loadPageStatuses();
        if (!self)
            co_return;
    }
    Q_EMIT pollCycleFinished(load);
    if (m_polling && loopID == m_loopID)
        m_sleep.start(m_interval);
}

QCoro::Task<> LibraryRefresher::refreshCurrentWorkspace()
{
    QPointer<LibraryRefresher> self(this);
    co_await loadPageStatuses();
    if (!self)
        co_return;
    co_await loadFolders();
    if (!self)
        co_return;
    co_await loadPages();
}

QCoro::Task<> LibraryRefresher::loadWorkspaces()
{
    if (!m_client.isSignedIn())
        co_return;
    QPointer<LibraryRefresher> self(this);
    const quint64 generation = m_store.generation();
    std::optional<WorkspacesResp> reply;
    try {
        reply = co_await m_client.listWorkspaces();
    } catch (...) {
    }
    if (!self || !reply || m_store.generation() != generation)
        co_return;
    mergeWorkspaces(*reply);
    co_await refreshCurrentWorkspace();
}

QCoro::Task<> LibraryRefresher::loadFolders()
{
    const qint64 workspace = m_store.currentWorkspaceServerID();
    if (!m_client.isSignedIn() || workspace == 0)
        co_return;
    QSet<qint64> knownBefore = syncedFolderIDs(workspace);
    QPointer<LibraryRefresher> self(this);
    const quint64 generation = m_store.generation();
    std::optional<FoldersResp> reply;
    try {
        startMarks::mark("refresh_folders_asked");
        reply = co_await m_client.listFolders(workspace);
        startMarks::mark("refresh_folders_answered");
    } catch (...) {
    }
    if (!self || !reply || m_store.generation() != generation)
        co_return;
    co_await mergeFolders(std::move(*reply), workspace, std::move(knownBefore));
}

QCoro::Task<> LibraryRefresher::loadPages()
{
    const qint64 workspace = m_store.currentWorkspaceServerID();
    if (!m_client.isSignedIn() || workspace == 0)
        co_return;
    QPointer<LibraryRefresher> self(this);
    const quint64 generation = m_store.generation();
    const QSet<QString> settled = settledDeletions();
    const qint64 cursorAsked = m_store.state().cursorServerTs;
    std::optional<LibraryPagesResp> reply;
    try {
        startMarks::mark("refresh_pages_asked");
        reply = co_await m_client.listPages(workspace);
        startMarks::mark("refresh_pages_answered");
    } catch (...) {
    }
    if (!self || !reply || m_store.generation() != generation)
        co_return;
    co_await mergePagesInTurns(std::move(*reply), settled, cursorAsked);
}

QCoro::Task<> LibraryRefresher::loadPageStatuses()
{
    const qint64 workspace = m_store.currentWorkspaceServerID();
    if (!m_client.isSignedIn() || workspace == 0)
        co_return;
    QPointer<LibraryRefresher> self(this);
    const quint64 generation = m_store.generation();
    std::optional<PageStatusesResp> reply;
    try {
        startMarks::mark("refresh_statuses_asked");
        reply = co_await m_client.pageStatuses(workspace);
        startMarks::mark("refresh_statuses_answered");
    } catch (...) {
    }
    if (!self || !reply || m_store.generation() != generation)
        co_return;
    mergePageStatuses(*reply);
}

void LibraryRefresher::mergeWorkspaces(const WorkspacesResp &reply)
{
    std::vector<FNWorkspace> workspaces;
    workspaces.reserve(reply.workspaces.size());
    for (const WorkspaceDTO &dto : reply.workspaces) {
        FNWorkspace w;
        w.serverID = dto.id;
        w.name = dto.name;
        w.role = dto.role.value_or(QStringLiteral("owner"));
        w.ownerUserID = dto.owner_user_id.value_or(0);
        workspaces.push_back(std::move(w));
    }
    m_store.setWorkspaces(std::move(workspaces));
}

QCoro::Task<> LibraryRefresher::mergeFolders(FoldersResp reply, qint64 workspaceServerID,
                                             QSet<qint64> knownBefore)
{
    const WorkLabel label("merge-folders");
    QSet<qint64> listed;
    for (const FolderDTO &dto : reply.folders)
        listed.insert(dto.id);

    const QueuedRecords queued(m_store);
    // While a sync runs, a folder's create may have reached the service without its reply being
    // applied yet; an unknown folder in the list could be that folder, so it waits for the next read.
    const bool createMayBeInFlight = m_engine.isSyncing() && queued.hasFolderCreate();
    std::vector<ListedFolder> unknown;
    for (const FolderDTO &dto : reply.folders) {
        if (!m_store.folderWithServerID(dto.id))
            unknown.push_back({dto.id, dto.workspace_id, dto.parent_folder_id.value_or(0), dto.name,
                               serviceStamp(dto.created_at)});
    }
    const QHash<qint64, QString> adoptions = folderAdoptions(m_store, unknown);
    for (const FolderDTO &dto : reply.folders) {
        const FNFolder *stored = m_store.folderWithServerID(dto.id);
        if (!stored && createMayBeInFlight)
            continue;
        if (!stored) {
            if (const auto waiting = adoptions.constFind(dto.id); waiting != adoptions.cend()) {
                adoptFolderServerID(m_store, *waiting, dto.id);
                continue; // its create is still queued: the local fields stand
            }
        }
        FNFolder start;
        if (stored) {
            start = *stored;
            if (queued.hasFolderOp(start.localID))
                continue; // a local change still on its way out would be undone
        } else {
            start.updatedAt = start.createdAt;
        }
        FNFolder merged = start;
        merged.serverID = dto.id;
        merged.workspaceServerID = dto.workspace_id;
        merged.parentFolderServerID = dto.parent_folder_id.value_or(0);
        merged.name = dto.name;
        merged.icon = dto.icon.value_or(QString::fromUtf8(kDefaultFolderIcon));
        merged.position = dto.position;
        // Unchanged records are left alone: no change to publish, no save of the whole data set.
        if (stored && merged == start)
            continue;
        m_store.upsertFolder(merged);
    }

    // Only folders known before the list was asked for can be missing from it because the service
    // dropped them; one created meanwhile is simply newer than the list.
    std::vector<QString> removed;
    for (const FNFolder &f : m_store.state().folders) {
        if (f.workspaceServerID == workspaceServerID && f.serverID != 0 && !f.deletedAt &&
            !listed.contains(f.serverID) && knownBefore.contains(f.serverID))
            removed.push_back(f.localID);
    }
    for (const QString &localID : removed)
        m_store.markFolderDeleted(localID);
    co_return;
}

QSet<QString> LibraryRefresher::settledDeletions() const
{
    const QSet<QString> queued = Outbox::of(m_store).queuedRecords(SyncOpKind::PageDelete);
    QSet<QString> settled;
    for (const FNPage &p : m_store.state().pages) {
        if (p.deletedAt && p.serverID != 0 && !queued.contains(p.localID))
            settled.insert(p.localID);
    }
    return settled;
}

QHash<qint64, QString> LibraryRefresher::pageAdoptionsFor(const LibraryPagesResp &reply) const
{
    std::vector<ListedPage> unknown;
    for (const PageDTO &dto : reply.pages) {
        if (!m_store.pageWithServerID(dto.id))
            unknown.push_back({dto.id, dto.workspace_id, dto.parent_page_id.value_or(0), dto.title,
                               dto.position, serviceStamp(dto.created_at)});
    }
    return pageAdoptions(m_store, unknown);
}

void LibraryRefresher::mergePages(const LibraryPagesResp &reply, const QSet<QString> &settledDeletions)
{
    const WorkLabel label("merge-pages");
    mergePageRange(reply, 0, qsizetype(reply.pages.size()), settledDeletions, pageAdoptionsFor(reply));
}

QCoro::Task<> LibraryRefresher::mergePagesInTurns(LibraryPagesResp reply, QSet<QString> settledDeletions,
                                                  qint64 cursorAsked)
{
    QPointer<LibraryRefresher> self(this);
    const quint64 generation = m_store.generation();
    QHash<qint64, QString> adoptions;
    {
        const WorkLabel label("merge-pages");
        adoptions = pageAdoptionsFor(reply);
    }
    const qsizetype count = qsizetype(reply.pages.size());
    for (qsizetype from = 0; from < count; from += m_pagesPerTurn) {
        if (from > 0) {
            co_await QCoro::sleepFor(std::chrono::milliseconds(0));
            if (!self || m_store.generation() != generation)
                co_return;
        }
        // A pull applied since the list was asked for may carry what the service held after it: this
        // device's own edit pushed meanwhile, among others. Laid over it, the older list would undo
        // it for good, the pull's cursor being past it already; the next read merges.
        if (m_store.state().cursorServerTs != cursorAsked)
            co_return;
        const WorkLabel label("merge-pages");
        mergePageRange(reply, from, std::min(count, from + m_pagesPerTurn), settledDeletions, adoptions);
    }
}

void LibraryRefresher::mergePageRange(const LibraryPagesResp &reply, qsizetype from, qsizetype to,
                                      const QSet<QString> &settledDeletions,
                                      const QHash<qint64, QString> &adoptions)
{
    // A restore made on another device reaches this one as a plain page update, which leaves the
    // page in the trash; the live listing is what brings it back. Only deletions the service had
    // already been told of when the list was read count, and only while none is queued now.
    const QSet<QString> stillSettled = this->settledDeletions();
    // While a sync runs, a page's create may have reached the service without its reply being applied
    // yet; an unknown page in the list could be that page, so it waits for the next read.
    const bool createMayBeInFlight = m_engine.isSyncing();
    const QueuedRecords queued(m_store);
    for (qsizetype i = from; i < to; ++i) {
        const PageDTO &dto = reply.pages[size_t(i)];
        const FNPage *stored = m_store.pageWithServerID(dto.id);
        if (!stored && createMayBeInFlight)
            continue;
        if (!stored) {
            if (const auto waiting = adoptions.constFind(dto.id); waiting != adoptions.cend()) {
                // Found before an earlier turn; the page may have learnt its id or gone since.
                const FNPage *local = m_store.page(*waiting);
                if (local && local->serverID == 0)
                    adoptPageServerID(m_store, *waiting, dto.id);
                continue; // its create is still queued: the local fields stand
            }
        }
        FNPage start;
        if (stored) {
            start = *stored;
            if (queued.hasPageChange(start.localID))
                continue; // a local change still on its way out would be undone
        } else {
            start.serverID = dto.id;
            start.updatedAt = start.createdAt;
        }
        FNPage merged = start;
        merged.workspaceServerID = dto.workspace_id;
        merged.parentPageServerID = dto.parent_page_id.value_or(0);
        merged.folderServerID = dto.folder_id.value_or(0);
        merged.title = dto.title;
        merged.icon = dto.icon.value_or(QString());
        merged.position = dto.position;
        merged.coverURL = dto.cover_url.value_or(QString());
        merged.coverOffsetX = dto.cover_offset_x.value_or(50);
        merged.coverOffsetY = dto.cover_offset_y.value_or(50);
        if (merged.deletedAt && settledDeletions.contains(merged.localID) &&
            stillSettled.contains(merged.localID))
            merged.deletedAt.reset();
        if (stored && merged == start)
            continue;
        m_store.upsertPage(merged);
    }
}

void LibraryRefresher::mergePageStatuses(const PageStatusesResp &reply)
{
    const WorkLabel label("merge-page-statuses");
    QMap<QString, FNPageStatus> statuses;
    for (auto it = reply.statuses.constBegin(); it != reply.statuses.constEnd(); ++it)
        statuses.insert(it.key(), FNPageStatus{it.value().published, it.value().shared_count});
    if (statuses == m_store.state().pageStatuses)
        return;
    m_store.setPageStatuses(std::move(statuses));
}

QSet<qint64> LibraryRefresher::syncedFolderIDs(qint64 workspaceServerID) const
{
    QSet<qint64> ids;
    for (const FNFolder &f : m_store.state().folders) {
        if (f.workspaceServerID == workspaceServerID && f.serverID != 0)
            ids.insert(f.serverID);
    }
    return ids;
}
