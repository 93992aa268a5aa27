#include "store/sync_engine.h"

#include "api/api_error.h"
#include "api/wire/blocks.h"
#include "api/wire/library.h"
#include "json/json_coder.h"
#include "json/json_error.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/retry_policy.h"

#include <algorithm>

// A change the service keeps refusing is dropped so it holds nothing else back; the user is told
// which page it was, and the page shows what the service holds rather than an edit that will never
// be saved.

namespace {

// The blocks a block upsert carries, by local id.
QSet<QString> carriedBlocks(const FNSyncOp &op)
{
    QSet<QString> ids;
    if (op.carriedFields) {
        for (auto it = op.carriedFields->cbegin(); it != op.carriedFields->cend(); ++it)
            ids.insert(it.key());
        return ids;
    }
    try {
        for (const BlockUpsertItem &item : sharedJSONDecode<BlocksUpsertReq>(op.payloadJSON.toUtf8()).blocks)
            ids.insert(item.client_id);
    } catch (const DecodeError &) {
    }
    return ids;
}

} // namespace

void SyncEngine::noteRefusal(const FNSyncOp &op, const QString &reason)
{
    QString title;
    QString pageLocalID;
    switch (op.kind()) {
    case SyncOpKind::BlockUpsert:
        pageLocalID = op.refLocalID;
        keepRefused(pageLocalID, carriedBlocks(op), false);
        break;
    case SyncOpKind::BlockDelete:
        if (const FNBlock *block = m_store.block(op.refLocalID)) {
            pageLocalID = block->pageLocalID;
            keepRefused(pageLocalID, {block->localID}, false);
        }
        break;
    case SyncOpKind::FolderCreate:
        // Told at the end of the push, with where what it held went.
        m_refusedFolderCreates.insert(op.refLocalID, reason);
        return;
    case SyncOpKind::FolderUpdate:
    case SyncOpKind::FolderDelete:
        if (const FNFolder *folder = m_store.folder(op.refLocalID))
            title = folder->name;
        break;
    case SyncOpKind::PageCreate:
        // Told at the end of the push, with where its subpages went.
        m_refusedCreates.insert(op.refLocalID, reason);
        return;
    default:
        pageLocalID = op.refLocalID;
        keepRefused(pageLocalID, {}, true);
        break;
    }
    const FNPage *page = pageLocalID.isEmpty() ? nullptr : m_store.page(pageLocalID);
    if (page)
        title = page->title.isEmpty() ? QStringLiteral("Untitled") : page->title;
    // A page in the trash cannot be read back: it shows the change until it is restored.
    if (page && page->deletedAt)
        Q_EMIT trashedPageChangeRefused(title, reason);
    else
        Q_EMIT changeRefused(title, reason);
}

void SyncEngine::keepRefused(const QString &pageLocalID, const QSet<QString> &blocks, bool pageFields)
{
    m_store.changeOutsideRecords([&](StoreState &s) {
        auto it = std::find_if(s.refusedChanges.begin(), s.refusedChanges.end(),
                               [&](const FNRefusedChange &r) { return r.pageLocalID == pageLocalID; });
        if (it == s.refusedChanges.end()) {
            s.refusedChanges.push_back(FNRefusedChange{pageLocalID, {}, false});
            it = std::prev(s.refusedChanges.end());
        }
        for (const QString &id : blocks) {
            if (std::find(it->blockLocalIDs.cbegin(), it->blockLocalIDs.cend(), id) ==
                it->blockLocalIDs.cend())
                it->blockLocalIDs.push_back(id);
        }
        it->pageFields = it->pageFields || pageFields;
    });
}

void SyncEngine::dropRefused(const QString &pageLocalID)
{
    m_restoreWaits.remove(pageLocalID);
    m_store.changeOutsideRecords([&](StoreState &s) {
        std::erase_if(s.refusedChanges,
                      [&](const FNRefusedChange &r) { return r.pageLocalID == pageLocalID; });
    });
}

void SyncEngine::pagePurged(qint64 pageServerID)
{
    const FNPage *page = pageServerID != 0 ? m_store.pageWithServerID(pageServerID) : nullptr;
    if (!page)
        return;
    const QString pageLocalID = page->localID;
    dropRefused(pageLocalID);
    // A change of it still queued would be refused for good in its turn, and counted again.
    m_outbox.dropPurgedPage(pageLocalID);
}

QCoro::Task<> SyncEngine::restoreRefusedPages()
{
    releaseRefusedCreates();
    releaseRefusedFolders();
    QPointer<SyncEngine> self(this);
    const quint64 generation = m_store.generation();
    // A copy: reading a page back drops its entry from the state.
    const std::vector<FNRefusedChange> refused = m_store.state().refusedChanges;
    for (const FNRefusedChange &change : refused) {
        const QString &pageLocalID = change.pageLocalID;
        const FNPage *page = m_store.page(pageLocalID);
        if (!page) {
            // Gone here: nothing is shown that could be laid back.
            dropRefused(pageLocalID);
            continue;
        }
        // In the trash, the service has no copy to give: read once the page is restored.
        if (page->deletedAt)
            continue;
        if (const auto wait = m_restoreWaits.constFind(pageLocalID);
            wait != m_restoreWaits.cend() && wait->nextTry > now())
            continue;
        bool done = true;
        bool gone = false;
        try {
            if (!change.blockLocalIDs.empty())
                done = co_await restoreBlocks(
                    pageLocalID, QSet<QString>(change.blockLocalIDs.cbegin(), change.blockLocalIDs.cend()));
            if (self && done && change.pageFields)
                done = co_await restorePageFields(pageLocalID);
        } catch (const APIError &e) {
            // Not found: trashed or removed there, and the pull brings that here.
            gone = e.kind() == APIError::Kind::Http && e.status() == 404;
            done = false;
        } catch (...) {
            done = false; // offline now: tried again later
        }
        if (!self || m_store.generation() != generation)
            co_return;
        if (done || gone) {
            dropRefused(pageLocalID);
            continue;
        }
        // Until it is read, the page shows a change the service does not hold; read again, less
        // often each time it fails.
        RestoreWait &wait = m_restoreWaits[pageLocalID];
        wait.attempts = std::min(wait.attempts + 1, RetryPolicy::kMaxTransientAttempts);
        wait.nextTry = now().addMSecs(RetryPolicy::delayAfter(wait.attempts).count());
    }
}

int SyncEngine::unsavedPageCount() const
{
    int count = unsentCount();
    // A page in the trash counts too: restored, it would show the change until it is read back.
    for (const FNRefusedChange &change : m_store.state().refusedChanges) {
        if (m_store.page(change.pageLocalID))
            ++count;
    }
    return count;
}

bool SyncEngine::isLeftUnsent(const QString &pageLocalID) const
{
    const FNPage *page = m_store.page(pageLocalID);
    return page && page->serverID == 0 && !m_outbox.isQueued(SyncOpKind::PageCreate, pageLocalID);
}

void SyncEngine::releaseRefusedCreates()
{
    const QHash<QString, QString> refused = std::exchange(m_refusedCreates, {});
    for (auto it = refused.cbegin(); it != refused.cend(); ++it) {
        const FNPage *stored = m_store.page(it.key());
        if (!stored || stored->serverID != 0 || m_outbox.isQueued(SyncOpKind::PageCreate, it.key()))
            continue;
        const FNPage page = *stored;
        // Nothing of the page can go without its create; the next launch queues that again from the
        // page as it is then.
        m_outbox.dropPageOperations(page.localID);
        // Its subpages would wait for it for ever: they go up to its parent, or to the top level
        // of its folder.
        Outbox::PageFiling::Link up;
        up.serverID = page.parentPageServerID;
        if (up.serverID == 0)
            up.localID = page.parentPageLocalID;
        const bool intoFolder =
            up.serverID == 0 && !up.localID && (page.folderServerID != 0 || page.folderLocalID);
        m_outbox.relinkParentPage(page.localID, up);
        QStringList subpages;
        for (const FNPage &p : m_store.state().pages) {
            if (p.parentPageLocalID == page.localID)
                subpages << p.localID;
        }
        for (const QString &id : std::as_const(subpages)) {
            m_store.editPage(
                id,
                [&](FNPage &p) {
                    p.parentPageServerID = up.serverID;
                    p.parentPageLocalID = up.localID;
                    if (intoFolder) {
                        p.folderServerID = page.folderServerID;
                        p.folderLocalID = page.folderLocalID;
                    }
                },
                LocalStore::Stamp::Keep);
            const FNPage *moved = m_store.page(id);
            if (intoFolder && moved && !moved->deletedAt)
                m_outbox.pageMove(*moved);
        }
        m_unsentPages.insert(page.localID);
        Q_EMIT createRefused(page.title.isEmpty() ? QStringLiteral("Untitled") : page.title, it.value(),
                             int(subpages.size()));
    }
}

QCoro::Task<bool> SyncEngine::restoreBlocks(QString pageLocalID, QSet<QString> blocks)
{
    QPointer<SyncEngine> self(this);
    const quint64 generation = m_store.generation();
    const FNPage *page = m_store.page(pageLocalID);
    if (!page || page->serverID == 0)
        co_return true;
    const BlocksResp current = co_await m_client.fetchBlocks(page->serverID, cancelToken());
    if (!self || m_store.generation() != generation)
        co_return true;
    QHash<qint64, const BlockDTO *> byID;
    for (const BlockDTO &dto : current.blocks)
        byID.insert(dto.id, &dto);
    // A block edited again since has a change of its own on the way, judged when it goes.
    const QHash<QString, qint64> unsent = m_outbox.blocksWithUnsentEdits();
    m_store.batch([&] {
        for (const QString &id : std::as_const(blocks)) {
            const FNBlock *block = m_store.block(id);
            if (!block || unsent.contains(id))
                continue;
            const BlockDTO *dto = block->serverID != 0 ? byID.value(block->serverID) : nullptr;
            if (!dto) {
                // Never taken, or gone there: this device no longer shows it either.
                if (!block->deletedAt)
                    m_store.markBlockDeleted(id);
                continue;
            }
            QString content;
            try {
                content = QString::fromUtf8(serializeJSONObject(dto->content));
            } catch (const EncodeError &) {
                continue;
            }
            m_store.editBlock(
                id,
                [&](FNBlock &b) {
                    b.type = dto->type;
                    b.contentJSON = content;
                    b.position = dto->position;
                    b.parentBlockServerID = dto->parent_block_id.value_or(0);
                    b.deletedAt.reset(); // a refused delete: it lives on there
                },
                LocalStore::Stamp::Keep);
        }
    });
    co_return true;
}

QCoro::Task<bool> SyncEngine::restorePageFields(QString pageLocalID)
{
    QPointer<SyncEngine> self(this);
    const quint64 generation = m_store.generation();
    const FNPage *page = m_store.page(pageLocalID);
    if (!page || page->serverID == 0)
        co_return true;
    const qint64 serverID = page->serverID;
    const LibraryPagesResp listing = co_await m_client.listPages(page->workspaceServerID, cancelToken());
    if (!self || m_store.generation() != generation)
        co_return true;
    const auto it = std::find_if(listing.pages.begin(), listing.pages.end(),
                                 [&](const PageDTO &dto) { return dto.id == serverID; });
    if (it == listing.pages.end() || m_outbox.isQueued(SyncOpKind::PageUpdate, pageLocalID))
        co_return true;
    m_store.editPage(
        pageLocalID,
        [&](FNPage &p) {
            p.title = it->title;
            p.icon = it->icon.value_or(QString());
            p.position = it->position;
            p.coverURL = it->cover_url.value_or(QString());
            p.coverOffsetX = it->cover_offset_x.value_or(50);
            p.coverOffsetY = it->cover_offset_y.value_or(50);
        },
        LocalStore::Stamp::Keep);
    co_return true;
}
