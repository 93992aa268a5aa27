#include "support/chaos_device.h"

#include "support/local_store_testing.h"
#include "support/task_outcome.h"
#include <QSet>

#include "api/session_store.h"
#include "editor/block_row_model.h"
#include "editor/page_view_model.h"
#include "library/library_creator.h"
#include "library/library_deleter.h"
#include "library/library_mover.h"
#include "library/library_refresher.h"
#include "library/library_row_editor.h"
#include "ui/app_context.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkReply>

#include <algorithm>

#include <chrono>

namespace {

// Edits reach the outbox on the next turn of the event loop instead of after the typing pauses:
// the run's steps stand for the user's pauses.
PageViewModel::Timing immediateTiming()
{
    PageViewModel::Timing t;
    t.blockFlush = std::chrono::milliseconds(0);
    t.title = std::chrono::milliseconds(0);
    t.focusRetry = std::chrono::milliseconds(0);
    t.rowText = std::chrono::milliseconds(0);
    return t;
}

// The store syncs each save to disk; on a real disk a long run would wait on the disk, not the app.
QString scratchTemplate()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString root = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
    return root + QStringLiteral("/penroost-chaos-XXXXXX");
}

} // namespace

ChaosDevice::ChaosDevice(const QString &origin, const QString &token, std::function<QDateTime()> clock,
                         Remains remains)
    : m_dir(remains.dir ? std::move(remains.dir) : std::make_unique<QTemporaryDir>(scratchTemplate()))
    , m_keyring(remains.keyring ? std::move(remains.keyring) : std::make_shared<MemorySecretBackend>())
    , m_services(std::make_unique<DeviceServices>(m_dir->filePath(QStringLiteral("settings.ini")), m_keyring,
                                                  origin))
    , m_store(std::make_unique<LocalStore>(m_dir->path(), std::chrono::milliseconds(5)))
    , m_engine(std::make_unique<SyncEngine>(*m_store, m_services->client))
{
    m_services->setToken(token);
    m_engine->setClock(std::move(clock));
    m_creator = std::make_unique<LibraryCreator>(*m_store, *m_engine, nullptr);
    m_deleter = std::make_unique<LibraryDeleter>(*m_store, m_services->client, *m_engine, *m_creator, nullptr,
                                                 nullptr);
    m_deleter->setDelays(std::chrono::milliseconds(0), std::chrono::milliseconds(0));
    m_refresher = std::make_unique<LibraryRefresher>(*m_store, m_services->client, *m_engine, *m_creator);
    m_rowEditor = std::make_unique<LibraryRowEditor>(*m_store, *m_engine);
    m_mover = std::make_unique<LibraryMover>(*m_store, *m_engine, *m_creator);
}

ChaosDevice::~ChaosDevice()
{
    tearDown();
}

void ChaosDevice::tearDown()
{
    // Everything that points into the store and the engine goes before them.
    m_editors.clear();
    m_mover.reset();
    m_rowEditor.reset();
    m_refresher.reset();
    m_deleter.reset();
    m_creator.reset();
    m_engine.reset();
}

ChaosDevice::Remains ChaosDevice::crash()
{
    LocalStoreTesting::abandon(*m_store);
    tearDown();
    m_store.reset();
    m_services.reset();
    return Remains{std::move(m_dir), std::move(m_keyring)};
}

bool ChaosDevice::isBusy() const
{
    if (m_engine->isSyncing())
        return true;
    for (const auto &entry : m_editors) {
        if (entry.second->isBlockFlushPending())
            return true;
    }
    const auto replies = m_services->client.transport().replies();
    return std::any_of(replies.begin(), replies.end(),
                       [](const QNetworkReply *r) { return !r->isFinished(); });
}

std::optional<QString> ChaosDevice::createPage(const std::optional<FNFolder> &folder)
{
    return m_creator->createPage(std::nullopt, folder);
}

void ChaosDevice::renamePage(const QString &pageLocalID, const QString &title)
{
    m_rowEditor->beginPageRename(pageLocalID);
    m_rowEditor->commitPageRename(pageLocalID, title);
}

void ChaosDevice::deletePage(const QString &pageLocalID)
{
    m_deleter->deletePage(pageLocalID);
}

void ChaosDevice::movePage(const QString &pageLocalID, const std::optional<FNFolder> &folder)
{
    if (folder) {
        m_mover->handleFolderDrop(LibraryMover::pagePayload(pageLocalID), folder->serverID);
        return;
    }
    if (const auto p = page(pageLocalID))
        m_mover->movePage(*p, 0);
}

std::optional<QString> ChaosDevice::createFolder(const std::optional<FNFolder> &parent)
{
    return m_creator->createFolder(parent);
}

void ChaosDevice::renameFolder(const QString &folderLocalID, const QString &name)
{
    m_rowEditor->beginFolderRename(folderLocalID);
    m_rowEditor->commitFolderRename(folderLocalID, name);
}

void ChaosDevice::setFolderIcon(const QString &folderLocalID, const QString &icon)
{
    m_rowEditor->applyFolderIcon(icon, folderLocalID);
}

void ChaosDevice::moveFolder(const QString &folderLocalID, const std::optional<FNFolder> &parent)
{
    m_mover->handleFolderDrop(LibraryMover::folderPayload(folderLocalID), parent ? parent->serverID : 0);
}

std::optional<QString> ChaosDevice::addBlock(const QString &pageLocalID, const QString &text)
{
    const auto localID = editor(pageLocalID).appendBlock(QStringLiteral("text"));
    if (localID)
        editBlock(*localID, text);
    return localID;
}

template <typename Use>
void ChaosDevice::withRow(const QString &blockLocalID, Use use)
{
    const FNBlock *stored = store().block(blockLocalID);
    if (!stored)
        return;
    const FNBlock block = *stored;
    PageViewModel &page = editor(block.pageLocalID);
    BlockRowModel::Hooks hooks;
    hooks.onChange = [&page] { page.scheduleBlockFlush(); };
    BlockRowModel row(store(), block, nullptr, hooks, std::chrono::milliseconds(0));
    row.loadText();
    use(row);
}

void ChaosDevice::editBlock(const QString &blockLocalID, const QString &text)
{
    withRow(blockLocalID, [&](BlockRowModel &row) { row.commitTextNow(text); });
}

std::optional<QString> ChaosDevice::insertBlockAfter(const QString &blockLocalID, const QString &text)
{
    const FNBlock *stored = store().block(blockLocalID);
    if (!stored)
        return std::nullopt;
    const FNBlock after = *stored;
    const auto localID = editor(after.pageLocalID).insertBlockAfter(after);
    if (localID)
        editBlock(*localID, text);
    return localID;
}

std::optional<QString> ChaosDevice::addChildBlock(const QString &parentLocalID, const QString &text)
{
    const FNBlock *stored = m_store->block(parentLocalID);
    if (!stored)
        return std::nullopt;
    const FNBlock parent = *stored;
    QSet<QString> before;
    for (const FNBlock *b : m_store->blocksOfPage(parent.pageLocalID))
        before.insert(b->localID);
    editor(parent.pageLocalID).addChildBlock(parent);
    std::optional<QString> added;
    for (const FNBlock *b : m_store->blocksOfPage(parent.pageLocalID)) {
        if (!before.contains(b->localID))
            added = b->localID;
    }
    if (added)
        editBlock(*added, text);
    return added;
}

void ChaosDevice::deleteBlock(const QString &blockLocalID)
{
    const FNBlock *stored = store().block(blockLocalID);
    if (!stored)
        return;
    PageViewModel &page = editor(stored->pageLocalID);
    page.toggleSelectMode();
    page.toggleSelected(blockLocalID);
    page.requestDeleteSelected();
}

void ChaosDevice::moveBlock(const QString &blockLocalID, int index)
{
    if (const FNBlock *stored = store().block(blockLocalID))
        editor(stored->pageLocalID).moveBlockOnDrop(blockLocalID, index);
}

void ChaosDevice::indentBlock(const QString &blockLocalID, int delta)
{
    withRow(blockLocalID, [&](BlockRowModel &row) { row.changeIndent(delta); });
}

void ChaosDevice::sync()
{
    SyncEngine::syncQuietly(m_engine.get());
}

void ChaosDevice::refresh()
{
    m_refresher->startRefresh();
}

std::optional<FNFolder> ChaosDevice::folder(const QString &localID) const
{
    const FNFolder *folder = store().folder(localID);
    return folder ? std::optional<FNFolder>(*folder) : std::nullopt;
}

std::optional<FNPage> ChaosDevice::page(const QString &localID) const
{
    const FNPage *page = store().page(localID);
    return page ? std::optional<FNPage>(*page) : std::nullopt;
}

PageViewModel &ChaosDevice::editor(const QString &pageLocalID)
{
    auto &slot = m_editors[pageLocalID];
    if (!slot) {
        AppContext context;
        context.store = &store();
        context.syncEngine = m_engine.get();
        context.session = &m_services->session;
        context.client = &m_services->client;
        context.events = &m_services->events;
        slot = std::make_unique<PageViewModel>(context, pageLocalID, immediateTiming());
    }
    return *slot;
}
