#include "library/library_creator.h"

#include "api/json_coder.h"
#include "api/json_error.h"
#include "api/page_create_req.h"
#include "api/service_endpoints.h"
#include "api/session_store.h"
#include "library/library_tree.h"
#include "platform/secret_store.h"
#include "store/local_store.h"
#include "store/sync_engine.h"
#include "store/template_store.h"

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

LibraryCreator::LibraryCreator(LocalStore &store, SecretStore &secrets, SyncEngine &engine,
                               TemplateStore *templates, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_secrets(secrets)
    , m_engine(engine)
    , m_templates(templates)
    , m_generation(store.generation())
{
    connect(&m_engine, &SyncEngine::cycleFinished, this, &LibraryCreator::settlePending);
    adoptPendingWork();
}

std::optional<QString> LibraryCreator::token() const
{
    return SessionStore::savedToken(m_secrets);
}

std::optional<QString> LibraryCreator::createFolder(const std::optional<FNFolder> &parent)
{
    const qint64 workspace = m_store.currentWorkspaceServerID();
    if (workspace == 0)
        return std::nullopt;
    const qint64 parentID = parent ? parent->serverID : 0;

    FNFolder folder;
    folder.workspaceServerID = workspace;
    folder.parentFolderServerID = parentID;
    folder.name = QString::fromLatin1(kNewFolderName);
    folder.icon = QString::fromUtf8(kFolderIcon);
    folder.position = nextPosition(LibraryTree::workspaceFolders(m_store),
                                   [&](const FNFolder &f) { return f.parentFolderServerID == parentID; });
    folder.updatedAt = folder.createdAt;
    m_store.upsertFolder(folder);
    m_store.scheduleSave();
    createFolderOnServer(folder.localID);
    return folder.localID;
}

QCoro::Task<> LibraryCreator::createFolderOnServer(QString localID)
{
    const auto t = token();
    if (!t)
        co_return;
    const qsizetype index = m_store.indexOfFolder(localID);
    if (index < 0 || m_foldersInFlight.contains(localID))
        co_return;
    const FNFolder folder = m_store.state().folders[size_t(index)];
    if (folder.serverID != 0)
        co_return;

    FolderCreateReq req;
    req.workspace_id = folder.workspaceServerID;
    if (folder.parentFolderServerID != 0)
        req.parent_folder_id = folder.parentFolderServerID;
    req.name = folder.name;
    req.icon = folder.icon;

    m_foldersInFlight.insert(localID);
    QPointer<LibraryCreator> self(this);
    const quint64 generation = m_store.generation();
    std::optional<qint64> serverID;
    try {
        const FolderResp reply = co_await ServiceEndpoints::createFolder(*t, req);
        serverID = reply.folder.id;
    } catch (...) {
        // Stays local; the next folder refresh sends the create again.
    }
    if (!self)
        co_return;
    m_foldersInFlight.remove(localID);
    if (serverID && m_store.generation() == generation) {
        // Only the id is written, into the record as it stands now: a rename or delete made while the
        // request was out stays.
        const qsizetype now = m_store.indexOfFolder(localID);
        if (now >= 0 && m_store.state().folders[size_t(now)].serverID == 0) {
            FNFolder current = m_store.state().folders[size_t(now)];
            current.serverID = *serverID;
            m_store.upsertFolder(current);
            m_store.scheduleSave();
        }
    }
    Q_EMIT folderCreateFinished(localID);
}

qint64 LibraryCreator::nextPagePosition(const std::optional<FNPage> &parent,
                                        const std::optional<FNFolder> &folder) const
{
    const std::vector<FNPage> pages = LibraryTree::workspacePages(m_store);
    if (parent && parent->serverID != 0) {
        return nextPosition(pages, [&](const FNPage &p) { return p.parentPageServerID == parent->serverID; });
    }
    if (folder && folder->serverID != 0) {
        return nextPosition(pages, [&](const FNPage &p) {
            return p.folderServerID == folder->serverID && p.parentPageServerID == 0;
        });
    }
    return nextPosition(pages,
                        [](const FNPage &p) { return p.folderServerID == 0 && p.parentPageServerID == 0; });
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
    page.parentPageServerID = parent ? parent->serverID : 0;
    page.folderServerID = folder ? folder->serverID : 0;
    page.title = QString::fromLatin1(kUntitled);
    page.position = nextPagePosition(parent, folder);
    page.updatedAt = page.createdAt;
    m_store.upsertPage(page);
    m_store.scheduleSave();

    queuePageCreate(page);

    // The create body has no folder: the page is moved once it has its server id.
    if (page.folderServerID != 0)
        m_pendingMoves.insert(page.localID, page.folderServerID);
    Q_EMIT pageCreated(page.localID);
    syncNewPage(page.localID);
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
    m_store.scheduleSave();

    queuePageCreate(page);

    qint64 position = 0;
    for (const TemplateBlock &t : pageTemplate.blocks) {
        FNBlock block;
        block.pageLocalID = page.localID;
        block.type = t.type;
        block.contentJSON = t.contentJSON;
        block.position = position++;
        block.updatedAt = block.createdAt;
        m_store.upsertBlock(block);
        m_store.scheduleSave();
    }
    if (!pageTemplate.blocks.empty())
        m_pendingUploads.insert(page.localID);
    Q_EMIT pageCreated(page.localID);
    queueTemplateBlocks(page.localID);
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

QCoro::Task<> LibraryCreator::movePageToFolder(qint64 pageServerID, qint64 folderServerID)
{
    const auto t = token();
    if (!t)
        co_return;
    FolderMovePageReq req;
    req.page_id = pageServerID;
    if (folderServerID != 0)
        req.folder_id = folderServerID;
    try {
        co_await ServiceEndpoints::movePage(*t, req);
    } catch (...) {
        // Reported nowhere and not retried: the next refresh shows where the service has the page.
    }
}

std::optional<qint64> LibraryCreator::pendingMoveFolder(const QString &pageLocalID) const
{
    const auto it = m_pendingMoves.constFind(pageLocalID);
    return it == m_pendingMoves.constEnd() ? std::nullopt : std::optional<qint64>(*it);
}

void LibraryCreator::cancelPendingMove(const QString &pageLocalID)
{
    m_pendingMoves.remove(pageLocalID);
}

void LibraryCreator::owePageMove(const QString &pageLocalID, qint64 folderServerID)
{
    if (folderServerID == 0)
        m_pendingMoves.remove(pageLocalID);
    else
        m_pendingMoves.insert(pageLocalID, folderServerID);
}

QCoro::Task<> LibraryCreator::syncNewPage(QString pageLocalID)
{
    Q_UNUSED(pageLocalID);
    QPointer<LibraryCreator> self(this);
    co_await SyncEngine::syncQuietly(&m_engine);
    // A sync that was already running returned at once; its end, or a later cycle's, settles the
    // move through cycleFinished as well.
    if (self)
        settlePending();
}

QCoro::Task<> LibraryCreator::queueTemplateBlocks(QString pageLocalID)
{
    Q_UNUSED(pageLocalID);
    QPointer<LibraryCreator> self(this);
    co_await SyncEngine::syncQuietly(&m_engine);
    if (self)
        settlePending();
}

void LibraryCreator::settlePending()
{
    if (m_store.generation() != m_generation) {
        // The data set was reset (sign-out): what was owed belonged to the old one.
        m_generation = m_store.generation();
        m_pendingMoves.clear();
        m_pendingUploads.clear();
        return;
    }

    const QHash<QString, qint64> moves = m_pendingMoves;
    for (auto it = moves.constBegin(); it != moves.constEnd(); ++it) {
        const QString &localID = it.key();
        const qsizetype index = m_store.indexOfPage(localID);
        if (index < 0) {
            m_pendingMoves.remove(localID);
            continue;
        }
        FNPage page = m_store.state().pages[size_t(index)];
        // The pull of the page's own create brings the service's top-level copy; the page stays in
        // its folder here until the move has gone out.
        if (page.folderServerID != it.value() && page.parentPageServerID == 0) {
            page.folderServerID = it.value();
            m_store.upsertPage(page);
            m_store.scheduleSave();
        }
        if (page.serverID != 0 && !m_movesInFlight.contains(localID))
            sendPendingMove(localID, page.serverID, it.value());
    }

    bool queued = false;
    const QSet<QString> uploads = m_pendingUploads;
    for (const QString &localID : uploads) {
        const qsizetype index = m_store.indexOfPage(localID);
        if (index >= 0 && m_store.state().pages[size_t(index)].serverID == 0)
            continue;
        m_pendingUploads.remove(localID);
        if (index < 0)
            continue;
        // Built from the blocks as they are now, so edits made while waiting are not undone by an
        // older body.
        const auto req = currentBlocksUpsert(m_store, localID);
        if (!req)
            continue;
        try {
            appendOp(QStringLiteral("block"), QStringLiteral("upsert"), localID,
                     QString::fromUtf8(sharedJSONEncode(*req)));
            queued = true;
        } catch (const EncodeError &) {
        }
    }
    Q_EMIT pendingSettled();
    if (queued)
        QTimer::singleShot(0, this, [this] { SyncEngine::syncQuietly(&m_engine); });
}

QCoro::Task<> LibraryCreator::sendPendingMove(QString pageLocalID, qint64 pageServerID, qint64 folderServerID)
{
    m_movesInFlight.insert(pageLocalID);
    QPointer<LibraryCreator> self(this);
    co_await movePageToFolder(pageServerID, folderServerID);
    if (!self)
        co_return;
    m_movesInFlight.remove(pageLocalID);
    // Sent once, whatever the outcome; a move cancelled meanwhile is not touched.
    if (pendingMoveFolder(pageLocalID) == folderServerID)
        m_pendingMoves.remove(pageLocalID);
}

void LibraryCreator::adoptPendingWork()
{
    // A page still waiting for its create (after a restart, say) still owes its folder move and its
    // blocks; both can be told from the stored data: the create body never names a folder.
    QSet<QString> creating;
    for (const FNSyncOp &op : m_store.state().outbox) {
        if (op.entity == QLatin1String("page") && op.op == QLatin1String("create"))
            creating.insert(op.refLocalID);
    }
    if (creating.isEmpty())
        return;
    QSet<QString> withBlocks;
    for (const FNBlock &b : m_store.state().blocks) {
        if (!b.deletedAt && creating.contains(b.pageLocalID))
            withBlocks.insert(b.pageLocalID);
    }
    for (const FNPage &p : m_store.state().pages) {
        if (p.serverID != 0 || p.deletedAt || !creating.contains(p.localID))
            continue;
        if (p.folderServerID != 0 && p.parentPageServerID == 0)
            m_pendingMoves.insert(p.localID, p.folderServerID);
        if (withBlocks.contains(p.localID))
            m_pendingUploads.insert(p.localID);
    }
}

void LibraryCreator::queuePageCreate(const FNPage &page)
{
    QString payload = QStringLiteral("{}");
    try {
        payload = QString::fromUtf8(sharedJSONEncode(pageCreateReq(page)));
    } catch (const EncodeError &) {
    }
    appendOp(QStringLiteral("page"), QStringLiteral("create"), page.localID, payload);
}

void LibraryCreator::appendOp(const QString &entity, const QString &op, const QString &refLocalID,
                              const QString &payload)
{
    FNSyncOp o;
    o.entity = entity;
    o.op = op;
    o.refLocalID = refLocalID;
    o.payloadJSON = payload;
    m_store.changeOutsideRecords([&](StoreState &s) { s.outbox.push_back(o); });
    m_store.scheduleSave();
}

std::optional<BlocksUpsertReq> LibraryCreator::currentBlocksUpsert(const LocalStore &store,
                                                                   const QString &pageLocalID)
{
    const qsizetype index = store.indexOfPage(pageLocalID);
    if (index < 0 || store.state().pages[size_t(index)].serverID == 0)
        return std::nullopt;
    std::vector<FNBlock> blocks;
    for (const FNBlock &b : store.state().blocks) {
        if (b.pageLocalID == pageLocalID && !b.deletedAt)
            blocks.push_back(b);
    }
    std::stable_sort(blocks.begin(), blocks.end(),
                     [](const FNBlock &a, const FNBlock &b) { return a.position < b.position; });

    BlocksUpsertReq req;
    req.page_id = store.state().pages[size_t(index)].serverID;
    for (const FNBlock &b : blocks) {
        qint64 parentID = b.parentBlockServerID;
        if (!b.parentBlockLocalID.isEmpty()) {
            const auto parent = std::find_if(blocks.begin(), blocks.end(), [&](const FNBlock &p) {
                return p.localID == b.parentBlockLocalID;
            });
            // A block whose parent is not on the service yet waits for a later upsert.
            if (parent == blocks.end() || parent->serverID == 0)
                continue;
            parentID = parent->serverID;
        }
        BlockUpsertItem item;
        item.client_id = b.localID;
        if (b.serverID != 0)
            item.id = b.serverID;
        item.type = b.type;
        try {
            item.content = parseJSONObject(b.contentJSON.toUtf8());
        } catch (...) {
            // Not a JSON object: sent empty, stored as it is.
        }
        item.position = b.position;
        if (parentID != 0)
            item.parent_block_id = parentID;
        req.blocks.push_back(std::move(item));
    }
    if (req.blocks.empty())
        return std::nullopt;
    return req;
}
