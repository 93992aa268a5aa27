#include "store/sync_engine.h"

#include "api/api_error.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/record_links.h"

#include <algorithm>

// Folders that do not reach the service: one whose create the service refused stays on this device
// only (the next launch queues its create again) and holds nothing back; one deleted before it went
// out, or before its answer came, never goes (a copy an unanswered send made is deleted), and what it
// held stays one level up.

namespace {

const QString kFolderNotOnServer = QStringLiteral("Folder not yet on server");

} // namespace

bool SyncEngine::isFolderLeftUnsent(const QString &folderLocalID) const
{
    const FNFolder *folder = m_store.folder(folderLocalID);
    return folder && folder->serverID == 0 && !m_outbox.isQueued(SyncOpKind::FolderCreate, folderLocalID);
}

std::optional<qint64> SyncEngine::linkedFolderNow(const QString &payload, const char *key,
                                                  bool *standIn) const
{
    std::optional<QString> localID = recordLinks::link(payload, key);
    if (!localID)
        return std::nullopt;
    if (!m_store.folder(*localID))
        return std::nullopt; // gone: nothing to wait for
    // Bounded by the folder count, so a loop in the data cannot hang the walk.
    for (size_t steps = 0; localID && steps <= m_store.state().folders.size(); ++steps) {
        const FNFolder *folder = m_store.folder(*localID);
        if (!folder)
            return 0;
        if (folder->serverID != 0)
            return folder->serverID;
        // Refused in this push: released, and told of, at its end. Deleted: what goes into it goes
        // with it once its delete is sent.
        if (m_outbox.isQueued(SyncOpKind::FolderCreate, folder->localID) ||
            m_refusedFolderCreates.contains(folder->localID) ||
            (folder->deletedAt && m_outbox.isQueued(SyncOpKind::FolderDelete, folder->localID)))
            throw APIError::other(kFolderNotOnServer);
        if (standIn)
            *standIn = true;
        if (folder->parentFolderServerID != 0)
            return folder->parentFolderServerID;
        localID = folder->parentFolderLocalID;
    }
    return 0;
}

void SyncEngine::followStandIn(const FNSyncOp &op, const char *key, qint64 folderServerID)
{
    const std::optional<QString> named = recordLinks::link(op.payloadJSON, key);
    if (!named)
        return;
    if (op.kind() == SyncOpKind::PageMove) {
        const FNPage *page = m_store.page(op.refLocalID);
        if (!page || page->folderLocalID != named)
            return;
        m_store.editPage(
            op.refLocalID,
            [&](FNPage &p) {
                p.folderServerID = folderServerID;
                p.folderLocalID.reset();
            },
            LocalStore::Stamp::Keep);
        return;
    }
    const FNFolder *folder = m_store.folder(op.refLocalID);
    if (!folder || folder->parentFolderLocalID != named)
        return;
    m_store.editFolder(op.refLocalID, [&](FNFolder &f) {
        f.parentFolderServerID = folderServerID;
        f.parentFolderLocalID.reset();
    });
}

int SyncEngine::moveContentsUp(const FNFolder &folder)
{
    // What waits to go into it goes into its parent instead, here as on the service.
    Outbox::PageFiling::Link up;
    up.serverID = folder.parentFolderServerID;
    if (up.serverID == 0)
        up.localID = folder.parentFolderLocalID;
    m_outbox.relinkFolder(folder.localID, up);
    QStringList pages;
    for (const FNPage &p : m_store.state().pages) {
        if (p.folderLocalID == folder.localID)
            pages << p.localID;
    }
    QStringList subfolders;
    for (const FNFolder &f : m_store.state().folders) {
        if (f.parentFolderLocalID == folder.localID)
            subfolders << f.localID;
    }
    for (const QString &id : std::as_const(pages)) {
        m_store.editPage(
            id,
            [&](FNPage &p) {
                p.folderServerID = up.serverID;
                p.folderLocalID = up.localID;
            },
            LocalStore::Stamp::Keep);
    }
    for (const QString &id : std::as_const(subfolders)) {
        m_store.editFolder(id, [&](FNFolder &f) {
            f.parentFolderServerID = up.serverID;
            f.parentFolderLocalID = up.localID;
        });
    }
    return int(pages.size() + subfolders.size());
}

void SyncEngine::releaseRefusedFolders()
{
    const QHash<QString, QString> refused = std::exchange(m_refusedFolderCreates, {});
    for (auto it = refused.cbegin(); it != refused.cend(); ++it) {
        if (!isFolderLeftUnsent(it.key()))
            continue;
        const FNFolder folder = *m_store.folder(it.key());
        m_unsentFolders.insert(folder.localID);
        // The folder itself stays, empty, until the next launch sends it again.
        const int moved = moveContentsUp(folder);
        Q_EMIT folderCreateRefused(folder.name, it.value(), moved);
    }
}

bool SyncEngine::waitsForFolderDelete(const FNSyncOp &op) const
{
    if (op.kind() != SyncOpKind::FolderCreate)
        return false;
    const FNFolder *folder = m_store.folder(op.refLocalID);
    if (!folder || !folder->deletedAt || folder->serverID != 0)
        return false;
    const auto &outbox = m_store.state().outbox;
    return std::any_of(outbox.begin(), outbox.end(), [&](const FNSyncOp &o) {
        return o.kind() == SyncOpKind::FolderDelete && o.refLocalID == op.refLocalID && o.nextRetryAt &&
               *o.nextRetryAt > now();
    });
}

void SyncEngine::dropDeletedFolder(const QString &folderLocalID, bool withItsDelete)
{
    // As the service does with a deleted folder, what it held stays, one level up.
    if (const FNFolder *folder = m_store.folder(folderLocalID))
        moveContentsUp(FNFolder(*folder));
    // Unless told otherwise, the folder's own delete is being sent: only its other operations go.
    std::vector<QString> own;
    for (const FNSyncOp &op : m_store.state().outbox) {
        if (op.refLocalID == folderLocalID && (withItsDelete || op.kind() != SyncOpKind::FolderDelete))
            own.push_back(op.localID);
    }
    for (const QString &op : own)
        m_outbox.drop(op);
}

int SyncEngine::unsentCount() const
{
    int count = 0;
    for (const QString &id : m_unsentPages) {
        const FNPage *page = m_store.page(id);
        if (!page || page->deletedAt || page->serverID != 0 || m_outbox.isQueued(SyncOpKind::PageCreate, id))
            continue;
        // The page, and each line typed into it.
        ++count;
        for (const FNBlock *block : m_store.blocksOfPage(id))
            count += block->deletedAt ? 0 : 1;
    }
    for (const QString &id : m_unsentFolders) {
        const FNFolder *folder = m_store.folder(id);
        if (folder && !folder->deletedAt && isFolderLeftUnsent(id))
            ++count;
    }
    return count;
}
