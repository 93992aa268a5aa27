#include "library/library_creator.h"

#include "api/wire/folders.h"
#include "api/wire/pages.h"
#include "json/json_coder.h"
#include "json/json_error.h"
#include "library/library_tree.h"
#include "store/block_places.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/page_blocks_upsert.h"
#include "store/page_links.h"
#include "store/sync_engine.h"
#include "store/template_store.h"

#include <QHash>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace {

template <typename Records, typename Keep>
qint64 nextPosition(const Records &records, Keep keep)
{
    std::optional<qint64> largest;
    for (const auto &r : records) {
        if (keep(r))
            largest = std::max(largest.value_or(r.position), r.position);
    }
    return largest ? *largest + 1 : 1;
}

} // namespace

QString LibraryCreator::withLinkResolved(const QString &type, const QString &contentJSON) const
{
    // A link picked while its page was not on the service was saved by local id, and the template
    // never learns the id the page got since.
    if (type != QLatin1String(pageLinks::kType) || !contentJSON.contains(QLatin1String(pageLinks::kPageLocalIDKey)))
        return contentJSON;
    try {
        JSONObject content = parseJSONObject(contentJSON.toUtf8());
        if (pageLinks::resolveLink(m_store, type, content))
            return QString::fromUtf8(serializeJSONObject(content));
    } catch (const DecodeError &) {
    } catch (const EncodeError &) {
    }
    return contentJSON;
}

LibraryCreator::LibraryCreator(LocalStore &store, SyncEngine &engine, TemplateStore *templates,
                               QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_engine(engine)
    , m_templates(templates)
    , m_generation(store.generation())
{
    connect(&m_engine, &SyncEngine::cycleFinished, this, &LibraryCreator::settlePending);
    adoptPendingWork();
}

std::optional<QString> LibraryCreator::createFolder(const std::optional<FNFolder> &parent)
{
    const qint64 workspace = m_store.currentWorkspaceServerID();
    if (workspace == 0)
        return std::nullopt;
    FNFolder folder;
    folder.workspaceServerID = workspace;
    if (parent && parent->serverID != 0)
        folder.parentFolderServerID = parent->serverID;
    else if (parent)
        folder.parentFolderLocalID = parent->localID; // its server id follows it to the service
    folder.name = QString::fromLatin1(kNewFolderName);
    folder.icon = QString::fromUtf8(kFolderIcon);
    folder.position = nextPosition(LibraryTree::workspaceFolders(m_store), [&](const FNFolder &f) {
        return f.parentFolderServerID == folder.parentFolderServerID &&
               f.parentFolderLocalID == folder.parentFolderLocalID;
    });
    folder.updatedAt = folder.createdAt;
    m_store.upsertFolder(folder);
    Outbox::of(m_store).folderCreate(folder);
    return folder.localID;
}

qint64 LibraryCreator::nextPagePosition(const std::optional<FNPage> &parent,
                                        const std::optional<FNFolder> &folder) const
{
    const std::vector<FNPage> pages = LibraryTree::workspacePages(m_store);
    const auto noParent = [](const FNPage &p) { return p.parentPageServerID == 0 && !p.parentPageLocalID; };
    if (parent && parent->serverID != 0) {
        return nextPosition(pages, [&](const FNPage &p) { return p.parentPageServerID == parent->serverID; });
    }
    if (parent)
        return nextPosition(pages, [&](const FNPage &p) { return p.parentPageLocalID == parent->localID; });
    if (folder && folder->serverID != 0) {
        return nextPosition(pages, [&](const FNPage &p) {
            return p.folderServerID == folder->serverID && noParent(p);
        });
    }
    if (folder) {
        return nextPosition(pages,
                            [&](const FNPage &p) { return p.folderLocalID == folder->localID && noParent(p); });
    }
    return nextPosition(pages, [&](const FNPage &p) {
        return p.folderServerID == 0 && !p.folderLocalID && noParent(p);
    });
}

std::optional<QString> LibraryCreator::createPage(const std::optional<FNPage> &parent,
                                                  const std::optional<FNFolder> &folder)
{
    const qint64 workspace = parent   ? parent->workspaceServerID
                             : folder ? folder->workspaceServerID
                                      : m_store.currentWorkspaceServerID();
    if (workspace == 0)
        return std::nullopt;

    FNPage page;
    page.workspaceServerID = workspace;
    // A parent not on the service yet is linked by local id; its server id follows it there.
    page.parentPageServerID = parent ? parent->serverID : 0;
    if (parent && parent->serverID == 0)
        page.parentPageLocalID = parent->localID;
    page.folderServerID = folder ? folder->serverID : 0;
    if (folder && folder->serverID == 0)
        page.folderLocalID = folder->localID;
    page.title = QString::fromLatin1(kUntitled);
    page.position = nextPagePosition(parent, folder);
    page.updatedAt = page.createdAt;
    m_store.upsertPage(page);

    queuePageCreate(page);
    // The create body has no folder: the move follows it, sent once the page has its server id.
    if (folder)
        Outbox::of(m_store).pageMove(page);
    Q_EMIT pageCreated(page.localID);
    return page.localID;
}

std::optional<QString> LibraryCreator::createPageFromTemplate(const PageTemplate &pageTemplate)
{
    const qint64 workspace = m_store.currentWorkspaceServerID();
    if (workspace == 0)
        return std::nullopt;

    FNPage page;
    page.workspaceServerID = workspace;
    page.title = pageTemplate.title.isEmpty() ? pageTemplate.name : pageTemplate.title;
    page.icon = pageTemplate.icon;
    page.position = nextPagePosition(std::nullopt, std::nullopt);
    page.updatedAt = page.createdAt;
    m_store.upsertPage(page);

    queuePageCreate(page);

    std::vector<QString> made; // the new blocks' local ids, by their index in the template
    made.reserve(pageTemplate.blocks.size());
    for (const TemplateBlock &t : pageTemplate.blocks) {
        FNBlock block;
        block.pageLocalID = page.localID;
        // Only a parent made before: an index that does not name one leaves the block at the top.
        if (t.parent && *t.parent >= 0 && size_t(*t.parent) < made.size())
            block.parentBlockLocalID = made[size_t(*t.parent)];
        block.type = t.type;
        block.contentJSON = withLinkResolved(t.type, t.contentJSON);
        block.position = BlockPlaces::laidOut(qsizetype(made.size()));
        block.updatedAt = block.createdAt;
        made.push_back(block.localID);
        m_store.upsertBlock(block);
    }
    if (!pageTemplate.blocks.empty())
        m_pendingUploads.insert(page.localID);
    Q_EMIT pageCreated(page.localID);
    return page.localID;
}

void LibraryCreator::deleteTemplate(const PageTemplate &pageTemplate)
{
    if (!m_templates)
        return;
    std::vector<PageTemplate> kept = m_templates->templates();
    std::erase_if(kept, [&](const PageTemplate &t) { return t.id == pageTemplate.id; });
    m_templates->setTemplates(std::move(kept));
    m_templates->save();
}

void LibraryCreator::settlePending()
{
    if (m_store.generation() != m_generation) {
        // The data set was reset (sign-out): what was owed belonged to the old one.
        m_generation = m_store.generation();
        m_pendingUploads.clear();
        return;
    }
    holdQueuedMoves();

    const QSet<QString> uploads = m_pendingUploads;
    for (const QString &localID : uploads) {
        const FNPage *page = m_store.page(localID);
        if (page && page->serverID == 0)
            continue;
        m_pendingUploads.remove(localID);
        if (!page)
            continue;
        // Built from the blocks as they are now, so edits made while waiting are not undone by an
        // older body. Nested blocks wait for their parents' server ids: sent by a later cycle.
        if (Outbox::of(m_store).pageBlocksUpsert(localID).waitingForParent > 0)
            m_pendingUploads.insert(localID);
    }
    Q_EMIT pendingSettled();
}

void LibraryCreator::holdQueuedMoves()
{
    // The pull of a page's own create, or of an older change, can bring the service's folder or
    // parent back before a queued move has gone out; the page stays where it was moved until then.
    const QHash<QString, Outbox::PageFiling> filings = Outbox::of(m_store).queuedPageFilings();
    // A parent named by local id may have its server id by now.
    const auto resolved = [&](Outbox::PageFiling::Link link, bool folder) {
        if (link.serverID == 0 && link.localID) {
            const qint64 id = folder ? (m_store.folder(*link.localID) ? m_store.folder(*link.localID)->serverID : 0)
                                     : (m_store.page(*link.localID) ? m_store.page(*link.localID)->serverID : 0);
            if (id != 0)
                link = {id, std::nullopt};
        }
        return link;
    };
    for (auto it = filings.constBegin(); it != filings.constEnd(); ++it) {
        const FNPage *page = m_store.page(it.key());
        if (!page)
            continue;
        FNPage held = *page;
        if (it->parent) {
            const auto parent = resolved(*it->parent, false);
            held.parentPageServerID = parent.serverID;
            held.parentPageLocalID = parent.localID;
        }
        if (it->folder && held.parentPageServerID == 0 && !held.parentPageLocalID) {
            const auto folder = resolved(*it->folder, true);
            held.folderServerID = folder.serverID;
            held.folderLocalID = folder.localID;
        }
        if (held == *page)
            continue;
        m_store.editPage(
            it.key(),
            [&](FNPage &p) {
                p.parentPageServerID = held.parentPageServerID;
                p.parentPageLocalID = held.parentPageLocalID;
                p.folderServerID = held.folderServerID;
                p.folderLocalID = held.folderLocalID;
            },
            LocalStore::Stamp::Keep);
    }
}

void LibraryCreator::adoptPendingWork()
{
    // A page still waiting for its create (after a restart, say) still owes its blocks: the template
    // page's blocks are stored, not queued, until the page has its id.
    QSet<QString> creating = Outbox::of(m_store).queuedRecords(SyncOpKind::PageCreate);
    const QSet<QString> foldersCreating = Outbox::of(m_store).queuedRecords(SyncOpKind::FolderCreate);
    // Earlier versions sent a folder's create by a direct request, retried only by the refresh.
    std::vector<FNFolder> unqueued;
    for (const FNFolder &f : m_store.state().folders) {
        if (f.serverID == 0 && !f.deletedAt && !foldersCreating.contains(f.localID))
            unqueued.push_back(f);
    }
    // Ahead of what waits for it: a rename queued while it was refused, say.
    for (const FNFolder &f : unqueued) {
        if (const auto op = Outbox::of(m_store).folderCreate(f))
            Outbox::of(m_store).sendFirstOfRecord(op->localID);
    }
    // A page whose create the service refused was kept here with nothing queued: it is tried again,
    // with its folder move after it.
    std::vector<FNPage> unsent;
    for (const FNPage &p : m_store.state().pages) {
        if (p.serverID == 0 && p.workspaceServerID != 0 && !p.deletedAt && !creating.contains(p.localID))
            unsent.push_back(p);
    }
    for (const FNPage &p : unsent) {
        if (const auto op = Outbox::of(m_store).pageCreate(p))
            Outbox::of(m_store).sendFirstOfRecord(op->localID);
        if (p.folderServerID != 0 || p.folderLocalID)
            Outbox::of(m_store).pageMove(p);
        creating.insert(p.localID);
    }

    if (creating.isEmpty())
        return;
    QSet<QString> withBlocks;
    for (const QString &pageLocalID : creating) {
        const auto blocks = m_store.blocksOfPage(pageLocalID);
        if (std::any_of(blocks.begin(), blocks.end(), [](const FNBlock *b) { return !b->deletedAt; }))
            withBlocks.insert(pageLocalID);
    }
    for (const FNPage &p : m_store.state().pages) {
        if (p.serverID == 0 && !p.deletedAt && creating.contains(p.localID) && withBlocks.contains(p.localID))
            m_pendingUploads.insert(p.localID);
    }
}

void LibraryCreator::queuePageCreate(const FNPage &page)
{
    Outbox::of(m_store).pageCreate(page);
}
