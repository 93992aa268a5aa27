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
    const FNFolder *target = m_store.folderWithServerID(targetFolderServerID);
    if (targetFolderServerID == 0)
        return false;
    if (!target)
        return targetFolderServerID == dragged.serverID;
    return isWithinFolder(*target, dragged);
}

namespace {

// Whether `dragged` is `target` or one of its ancestors, walking up with `parentOf`; a loop already
// in the data ends the walk.
template <typename T, typename ParentOf>
bool isWithin(const T &target, const T &dragged, const ParentOf &parentOf)
{
    QSet<QString> seen;
    for (const T *c = &target; c && !seen.contains(c->localID); c = parentOf(*c)) {
        if (c->localID == dragged.localID || (dragged.serverID != 0 && c->serverID == dragged.serverID))
            return true;
        seen.insert(c->localID);
    }
    return false;
}

} // namespace

// Up by server id, or by local id where a parent is not on the service yet.
bool LibraryMover::isWithinFolder(const FNFolder &target, const FNFolder &dragged) const
{
    return isWithin(target, dragged, [&](const FNFolder &f) {
        return f.parentFolderServerID != 0 ? m_store.folderWithServerID(f.parentFolderServerID)
               : f.parentFolderLocalID     ? m_store.folder(*f.parentFolderLocalID)
                                           : nullptr;
    });
}

bool LibraryMover::isWithinPage(const FNPage &target, const FNPage &dragged) const
{
    return isWithin(target, dragged, [&](const FNPage &p) {
        return p.parentPageServerID != 0 ? m_store.pageWithServerID(p.parentPageServerID)
               : p.parentPageLocalID     ? m_store.page(*p.parentPageLocalID)
                                         : nullptr;
    });
}

void LibraryMover::handleFolderDrop(const QString &payload, qint64 targetFolderServerID)
{
    const FNFolder *target = targetFolderServerID != 0 ? m_store.folderWithServerID(targetFolderServerID) : nullptr;
    if (target) {
        handleDropOnFolder(payload, *target);
        return;
    }
    dropIntoFolder(payload, targetFolderServerID, std::nullopt);
}

void LibraryMover::handleDropOnFolder(const QString &payload, const FNFolder &target)
{
    // A folder not on the service yet is named by its local id until it is.
    dropIntoFolder(payload, target.serverID,
                   target.serverID == 0 ? std::optional<QString>(target.localID) : std::nullopt);
}

void LibraryMover::dropIntoFolder(const QString &payload, qint64 target, const std::optional<QString> &targetLocalID)
{
    if (payload.startsWith(QLatin1String(kPagePrefix))) {
        const QString localID = payload.mid(qsizetype(qstrlen(kPagePrefix)));
        bool hadParent = false;
        const bool moved = m_store.editPage(
            localID,
            [&](FNPage &page) {
                hadParent = page.parentPageServerID != 0 || page.parentPageLocalID;
                page.parentPageServerID = 0;
                page.parentPageLocalID.reset();
                page.folderServerID = target;
                page.folderLocalID = targetLocalID;
            },
            LocalStore::Stamp::Keep);
        if (!moved)
            return;
        // The move into a folder leaves a page's parent alone on the service: the page leaves it
        // by its own update.
        if (hadParent)
            Outbox::of(m_store).pageParent(*m_store.page(localID));
        Outbox::of(m_store).pageMove(*m_store.page(localID));
        return;
    }
    if (!payload.startsWith(QLatin1String(kFolderPrefix)))
        return;

    const FNFolder *stored = m_store.folder(payload.mid(qsizetype(qstrlen(kFolderPrefix))));
    if (!stored)
        return;
    FNFolder folder = *stored;
    const bool stays = folder.parentFolderServerID == target && folder.parentFolderLocalID == targetLocalID;
    if (stays || (folder.serverID != 0 && folder.serverID == target))
        return;
    if (const FNFolder *into = targetLocalID ? m_store.folder(*targetLocalID) : m_store.folderWithServerID(target);
        into && isWithinFolder(*into, folder))
        return;
    folder.parentFolderServerID = target;
    folder.parentFolderLocalID = targetLocalID;
    m_store.upsertFolder(folder);
    Outbox::of(m_store).folderMove(folder);
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
    const FNPage before = dragged;
    dragged.folderServerID = target.folderServerID;
    dragged.folderLocalID = target.folderLocalID;
    dragged.parentPageServerID = target.parentPageServerID;
    dragged.parentPageLocalID = target.parentPageLocalID;

    // Siblings of one workspace only: the other workspaces' top-level pages have their own order.
    std::vector<FNPage> siblings;
    for (const FNPage &p : m_store.state().pages) {
        if (!p.deletedAt && p.folderServerID == target.folderServerID && p.folderLocalID == target.folderLocalID &&
            p.parentPageServerID == target.parentPageServerID && p.parentPageLocalID == target.parentPageLocalID &&
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

    const FNPage *moved = m_store.page(draggedID);
    if (!moved)
        return;
    if (before.parentPageServerID != dragged.parentPageServerID ||
        before.parentPageLocalID != dragged.parentPageLocalID)
        Outbox::of(m_store).pageParent(*moved);
    if (before.folderServerID != dragged.folderServerID || before.folderLocalID != dragged.folderLocalID)
        Outbox::of(m_store).pageMove(*moved);
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
            page.localID,
            [&](FNPage &p) {
                p.folderServerID = folderServerID;
                p.folderLocalID.reset();
            },
            LocalStore::Stamp::Keep))
        return;
    Outbox::of(m_store).pageMove(*m_store.page(page.localID));
}
