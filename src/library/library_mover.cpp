#include "library/library_mover.h"

#include "api/wire/pages.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/sync_engine.h"

#include <QPointer>
#include <QSet>

#include <algorithm>

LibraryMover::LibraryMover(LocalStore &store, SyncEngine &engine, LibraryCreator &creator, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_engine(engine)
{
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
        const FNFolder *folder = m_store.folderWithServerID(c);
        if (!folder)
            return false;
        c = folder->parentFolderServerID;
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
        const FNPage *page = m_store.pageWithServerID(c);
        if (!page)
            return false;
        c = page->parentPageServerID;
    }
    return false;
}

void LibraryMover::handleFolderDrop(const QString &payload, qint64 targetFolderServerID)
{
    const qint64 target = targetFolderServerID;
    if (payload.startsWith(QLatin1String(kPagePrefix))) {
        const QString localID = payload.mid(qsizetype(qstrlen(kPagePrefix)));
        const bool moved = m_store.editPage(
            localID,
            [&](FNPage &page) {
                page.parentPageServerID = 0;
                page.folderServerID = target;
            },
            LocalStore::Stamp::Keep);
        if (moved)
            Outbox::of(m_store).pageMove(*m_store.page(localID), target);
        return;
    }
    if (!payload.startsWith(QLatin1String(kFolderPrefix)))
        return;

    const FNFolder *stored = m_store.folder(payload.mid(qsizetype(qstrlen(kFolderPrefix))));
    if (!stored)
        return;
    FNFolder folder = *stored;
    const bool stays = folder.parentFolderServerID == target;
    if (stays || (folder.serverID != 0 && folder.serverID == target) || wouldCreateCycle(target, folder))
        return;
    folder.parentFolderServerID = target;
    m_store.upsertFolder(folder);
    FolderPatchReq req;
    // Always present: to the service an absent key means "unchanged", and 0 means the top level.
    req.parent_folder_id = target;
    Outbox::of(m_store).folderUpdate(folder, req);
}

void LibraryMover::handlePageDrop(const QString &payload, const FNPage &target)
{
    if (!payload.startsWith(QLatin1String(kPagePrefix)))
        return;
    const QString draggedID = payload.mid(qsizetype(qstrlen(kPagePrefix)));
    if (draggedID == target.localID)
        return;
    const FNPage *stored = m_store.page(draggedID);
    if (!stored)
        return;
    FNPage dragged = *stored;
    // Taking the parent of one of its own subpages would make the page its own ancestor.
    if (isWithinPage(target, dragged))
        return;
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
        if (p.serverID != 0)
            appendPositionOp(p);
    }

    if (oldFolder != target.folderServerID)
        Outbox::of(m_store).pageMove(dragged, target.folderServerID);
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
    if (!m_store.editPage(
            page.localID, [&](FNPage &p) { p.folderServerID = folderServerID; }, LocalStore::Stamp::Keep))
        return;
    Outbox::of(m_store).pageMove(*m_store.page(page.localID), folderServerID);
}
