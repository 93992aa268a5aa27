#include "library/library_mover.h"

#include "api/wire/pages.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/sync_engine.h"

#include <QPointer>
#include <QSet>

#include <algorithm>

LibraryMover::LibraryMover(LocalStore &store, SecretStore &secrets, SyncEngine &engine,
                           LibraryCreator &creator, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_engine(engine)
{
    Q_UNUSED(secrets);
    Q_UNUSED(creator);
}

QString LibraryMover::pagePayload(const QString &localID)
{
    return QLatin1String(kPagePrefix) + localID;
}

QString LibraryMover::folderPayload(const QString &localID)
{
    return QLatin1String(kFolderPrefix) + localID;
}

bool LibraryMover::wouldCreateCycle(qint64 targetFolderServerID, const FNFolder &dragged) const
{
    QSet<qint64> seen;
    for (qint64 c = targetFolderServerID; c != 0 && !seen.contains(c);) {
        if (c == dragged.serverID)
            return true;
        seen.insert(c);
        const qsizetype index = m_store.indexOfFolderWithServerID(c);
        if (index < 0)
            return false;
        c = m_store.state().folders[size_t(index)].parentFolderServerID;
    }
    return false;
}

bool LibraryMover::isWithinPage(const FNPage &target, const FNPage &dragged) const
{
    if (target.localID == dragged.localID)
        return true;
    if (dragged.serverID == 0)
        return false; // nothing can hang below a page the service has not numbered
    QSet<qint64> seen;
    for (qint64 c = target.parentPageServerID; c != 0 && !seen.contains(c);) {
        if (c == dragged.serverID)
            return true;
        seen.insert(c);
        const qsizetype index = m_store.indexOfPageWithServerID(c);
        if (index < 0)
            return false;
        c = m_store.state().pages[size_t(index)].parentPageServerID;
    }
    return false;
}

QCoro::Task<> LibraryMover::handleFolderDrop(QString payload, qint64 targetFolderServerID)
{
    const qint64 target = targetFolderServerID;
    QPointer<SyncEngine> engine(&m_engine);
    if (payload.startsWith(QLatin1String(kPagePrefix))) {
        const qsizetype index = m_store.indexOfPage(payload.mid(qsizetype(qstrlen(kPagePrefix))));
        if (index < 0)
            co_return;
        FNPage page = m_store.state().pages[size_t(index)];
        page.parentPageServerID = 0;
        page.folderServerID = target;
        m_store.upsertPage(page);
        m_store.scheduleSave();
        Outbox::of(m_store).pageMove(page, target);
        co_await SyncEngine::syncQuietly(engine);
        co_return;
    }
    if (!payload.startsWith(QLatin1String(kFolderPrefix)))
        co_return;

    const qsizetype index = m_store.indexOfFolder(payload.mid(qsizetype(qstrlen(kFolderPrefix))));
    if (index < 0)
        co_return;
    FNFolder folder = m_store.state().folders[size_t(index)];
    const bool stays = folder.parentFolderServerID == target;
    if (stays || (folder.serverID != 0 && folder.serverID == target) || wouldCreateCycle(target, folder))
        co_return;
    folder.parentFolderServerID = target;
    m_store.upsertFolder(folder);
    m_store.scheduleSave();
    FolderPatchReq req;
    // Always present: to the service an absent key means "unchanged", and 0 means the top level.
    req.parent_folder_id = target;
    Outbox::of(m_store).folderUpdate(folder, req);
    co_await SyncEngine::syncQuietly(engine);
}

QCoro::Task<> LibraryMover::handlePageDrop(QString payload, FNPage target)
{
    if (!payload.startsWith(QLatin1String(kPagePrefix)))
        co_return;
    const QString draggedID = payload.mid(qsizetype(qstrlen(kPagePrefix)));
    if (draggedID == target.localID)
        co_return;
    const qsizetype index = m_store.indexOfPage(draggedID);
    if (index < 0)
        co_return;
    FNPage dragged = m_store.state().pages[size_t(index)];
    // Taking the parent of one of its own subpages would make the page its own ancestor.
    if (isWithinPage(target, dragged))
        co_return;
    const qint64 oldFolder = dragged.folderServerID;
    dragged.folderServerID = target.folderServerID;
    dragged.parentPageServerID = target.parentPageServerID;

    // Siblings of one workspace only: the other workspaces' top-level pages have their own order.
    std::vector<FNPage> siblings;
    for (const FNPage &p : m_store.state().pages) {
        if (!p.deletedAt && p.folderServerID == target.folderServerID &&
            p.parentPageServerID == target.parentPageServerID &&
            p.workspaceServerID == target.workspaceServerID && p.localID != draggedID)
            siblings.push_back(p);
    }
    std::stable_sort(siblings.begin(), siblings.end(),
                     [](const FNPage &a, const FNPage &b) { return a.position < b.position; });
    const auto at = std::find_if(siblings.begin(), siblings.end(),
                                 [&](const FNPage &p) { return p.localID == target.localID; });
    siblings.insert(at == siblings.end() ? siblings.begin() : at, dragged);

    for (size_t k = 0; k < siblings.size(); ++k) {
        FNPage &p = siblings[k];
        if (p.localID != draggedID && p.position == qint64(k))
            continue;
        p.position = qint64(k);
        m_store.upsertPage(p);
        m_store.scheduleSave();
        if (p.serverID != 0)
            appendPositionOp(p);
    }

    QPointer<SyncEngine> engine(&m_engine);
    if (oldFolder != target.folderServerID)
        Outbox::of(m_store).pageMove(dragged, target.folderServerID);
    co_await SyncEngine::syncQuietly(engine);
}

void LibraryMover::appendPositionOp(const FNPage &page)
{
    PagePatchReq req;
    req.page_id = page.serverID;
    req.position = page.position;
    Outbox::of(m_store).pageUpdate(page.localID, req, Outbox::Unencodable::QueueNothing);
}

void LibraryMover::movePage(const FNPage &page, qint64 folderServerID)
{
    const qsizetype index = m_store.indexOfPage(page.localID);
    if (index < 0)
        return;
    FNPage moved = m_store.state().pages[size_t(index)];
    moved.folderServerID = folderServerID;
    m_store.upsertPage(moved);
    m_store.scheduleSave();
    Outbox::of(m_store).pageMove(moved, folderServerID);
    SyncEngine::syncQuietly(&m_engine);
}
