#include "store/local_store.h"

#include "json/json_coder.h"
#include "platform/diag.h"
#include "platform/private_files.h"
#include "store/block_chunks.h"
#include "store/index_builder.h"
#include "store/outbox_chunks.h"
#include "store/record_index.h"
#include "store/send_journal.h"
#include "store/state_writer.h"
#include "store/store_state_decoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <type_traits>

#include <malloc.h>
#include <stdio.h>
#include <unistd.h>

namespace {

// Records indexed per hold: an edit on the store's thread waits for one slice at most.
constexpr size_t kIndexSlice = 4096;

constexpr auto kFolderName = "Folionest";
constexpr auto kFileName = "state.json";
constexpr auto kJournalSuffix = ".sending";
constexpr auto kTempInfix = ".tmp-";
constexpr auto kAsideInfix = ".unreadable-";
constexpr auto kOriginalInfix = ".original-";

} // namespace

LocalStore::LocalStore(const QString &folder, std::chrono::milliseconds saveDelay, QObject *parent)
    : QObject(parent)
    , m_url(QDir(folder).filePath(QString::fromLatin1(kFileName)))
    , m_saveDelay(saveDelay)
    , m_now([] { return QDateTime::currentDateTimeUtc(); })
    , m_folderIndex(std::make_unique<RecordIndex<FNFolder>>(m_state.folders, m_foldersMutex))
    , m_pageIndex(std::make_unique<RecordIndex<FNPage>>(m_state.pages, m_pagesMutex))
    , m_blockIndex(std::make_unique<RecordIndex<FNBlock>>(m_state.blocks, m_blocksMutex))
    , m_blocksByPage(std::make_unique<GroupIndex<FNBlock, QString>>(
          m_state.blocks, [](const FNBlock &b) { return b.pageLocalID; }, m_blocksMutex))
    , m_pagesByParent(std::make_unique<GroupIndex<FNPage, qint64>>(
          m_state.pages, [](const FNPage &p) { return p.parentPageServerID; }, m_pagesMutex))
    // What the window lists first comes first, the 200,000 blocks last.
    , m_indexBuilder(std::make_unique<IndexBuilder>(std::vector<IndexBuilder::Step>{
          [this] { return m_folderIndex->buildSome(kIndexSlice); },
          [this] { return m_pageIndex->buildSome(kIndexSlice); },
          [this] { return m_pagesByParent->buildSome(kIndexSlice); },
          [this] { return m_blocksByPage->buildSome(kIndexSlice); },
          [this] { return m_blockIndex->buildSome(kIndexSlice); },
      }))
    , m_blockChunks(std::make_unique<BlockChunks>(m_state.blocks))
    , m_savedOutbox(std::make_unique<OutboxChunks>())
    , m_sendJournal(std::make_unique<SendJournal>(m_url + QLatin1String(kJournalSuffix)))
    , m_writer(std::make_unique<StateWriter>(m_url, [this](const QString &reason) { saveFailed(reason); }))
{
    m_saveTimer.setSingleShot(true);
    connect(&m_saveTimer, &QTimer::timeout, this, &LocalStore::startSave);
    if (auto *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &LocalStore::writePendingSave);

    makePrivateFolder(folder);
    removeLeftovers();
    std::shared_ptr<const KeptStateFile> loaded;
    qint64 blocksAt = -1;
    load(loaded, blocksAt);
    foldSendJournal();
    // The load's buffers, freed on several threads' heaps, would otherwise stay with the process.
    ::malloc_trim(0);
    // The first save then copies no block on this thread, and encodes none that the file holds as
    // this build writes them.
    if (!m_state.blocks.empty())
        m_blockChunks->fillAside(std::move(loaded), blocksAt);
    // Nor does the first lookup build an index here.
    m_indexBuilder->fillAside();
}

template <typename T>
void LocalStore::recordTouched(qsizetype at)
{
    if constexpr (std::is_same_v<T, FNBlock>)
        m_blockChunks->touched(at);
    else if constexpr (std::is_same_v<T, FNPage>)
        m_savedPages.reset();
    else
        m_savedFolders.reset();
}

template <typename T>
LocalStore::Hold LocalStore::holdList()
{
    if constexpr (std::is_same_v<T, FNBlock>)
        return holdBlocks();
    else if constexpr (std::is_same_v<T, FNPage>)
        return {std::unique_lock(m_pagesMutex), {}};
    else
        return {std::unique_lock(m_foldersMutex), {}};
}

LocalStore::Hold LocalStore::holdBlocks()
{
    // In this order everywhere: the chunks' own thread takes only theirs.
    std::unique_lock list(m_blocksMutex);
    return {std::move(list), m_blockChunks->hold()};
}

LocalStore::HoldAll LocalStore::holdAll()
{
    Hold folders = holdList<FNFolder>();
    Hold pages = holdList<FNPage>();
    return {std::move(folders), std::move(pages), holdBlocks()};
}

LocalStore::~LocalStore()
{
    writePendingSave();
}

QString LocalStore::defaultFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QString::fromLatin1(kFolderName));
}

// Every save writes a name of its own and renames it over "state.json" or removes it, so with the
// lock held a remaining one was cut short by a crash; nothing reads it.
void LocalStore::removeLeftovers()
{
    const QFileInfo url(m_url);
    QDir folder = url.absoluteDir();
    const QString pattern = url.fileName() + QLatin1String(kTempInfix) + QLatin1Char('*');
    int removed = 0;
    for (const QString &name : folder.entryList({pattern}, QDir::Files | QDir::Hidden | QDir::System)) {
        if (folder.remove(name))
            ++removed;
        else
            diag(QStringLiteral("LocalStore: could not remove the leftover %1").arg(name));
    }
    if (removed > 0)
        diag(QStringLiteral("LocalStore: removed %1 temporary file(s) left by an interrupted save")
                 .arg(removed));
}

void LocalStore::load(std::shared_ptr<const KeptStateFile> &kept, qint64 &blocksAt)
{
    QFile file(m_url);
    if (!file.exists())
        return;
    // Older builds left it readable by every local user.
    makePrivateFile(m_url);
    if (!file.open(QIODevice::ReadOnly)) {
        setAside(file.errorString());
        return;
    }
    StoreStateDrops dropped;
    // Decoded as it is read: neither the text nor a document of it is held whole beside the records.
    StoreStateDecoder::Runs runs;
    try {
        m_state = StoreStateDecoder::decode(file.handle(), dropped, &runs);
    } catch (const DecodeError &e) {
        setAside(e.message());
        return;
    }
    if (!dropped.isEmpty()) {
        // Rare, so the text is read again only here, for the copy kept aside.
        file.seek(0);
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            keepOriginalFailed(dropped, file.errorString());
        else
            keepOriginal(bytes, dropped);
    }
    if (const int fd = runs.blocksAt >= 0 ? ::dup(file.handle()) : -1; fd >= 0) {
        kept = std::make_shared<const KeptStateFile>(fd);
        blocksAt = runs.blocksAt;
    }
    file.close();
    dropDuplicateBlocks();
}

QString LocalStore::asideName(const char *infix, int n) const
{
    const QString base = m_url + QLatin1String(infix) +
                         QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    return n == 0 ? base : base + QLatin1Char('-') + QString::number(n + 1);
}

// The user's data must never be overwritten by the empty state's first save.
void LocalStore::setAside(const QString &reason)
{
    int n = 0;
    QString aside = asideName(kAsideInfix, n);
    while (QFileInfo::exists(aside))
        aside = asideName(kAsideInfix, ++n);
    const QString line =
        QStringLiteral("LocalStore: %1 could not be read (%2)").arg(QString::fromLatin1(kFileName), reason);
    // Not QFile::rename: where renaming fails it copies and deletes, and the copy may fail halfway.
    if (::rename(QFile::encodeName(m_url).constData(), QFile::encodeName(aside).constData()) == 0) {
        durable::syncFolder(QFileInfo(m_url).absolutePath());
        diag(line + QStringLiteral("; kept as ") + QFileInfo(aside).fileName() +
             QStringLiteral(", starting empty"));
        return;
    }
    m_saveBlockedReason = durable::errnoText(errno, aside);
    diag(line + QStringLiteral("; it could not be set aside (") + m_saveBlockedReason +
         QStringLiteral("), starting empty and saving nothing"));
}

// The next save writes what loaded; the records left out stay in the copy.
void LocalStore::keepOriginal(const QByteArray &bytes, const StoreStateDrops &dropped)
{
    QString aside;
    const int fd = durable::createPrivate([this](int n) { return asideName(kOriginalInfix, n); }, aside);
    std::optional<QString> failure =
        fd < 0 ? durable::errnoText(errno, aside) : durable::writeAll(fd, aside, bytes);
    const QString line = QStringLiteral("LocalStore: %1 partly read, left out %2")
                             .arg(QString::fromLatin1(kFileName), dropped.summary());
    if (failure) {
        if (fd >= 0)
            QFile::remove(aside);
        keepOriginalFailed(dropped, *failure);
        return;
    }
    durable::syncFolder(QFileInfo(m_url).absolutePath());
    diag(line + QStringLiteral("; the file as it was is kept as ") + QFileInfo(aside).fileName());
}

void LocalStore::keepOriginalFailed(const StoreStateDrops &dropped, const QString &failure)
{
    m_saveBlockedReason = failure;
    diag(QStringLiteral("LocalStore: %1 partly read, left out %2")
             .arg(QString::fromLatin1(kFileName), dropped.summary()) +
         QStringLiteral("; it could not be kept aside (") + failure +
         QStringLiteral("), so nothing will be saved"));
}

// An older build could store one service block under two local ids; the latest edit stands for it.
void LocalStore::dropDuplicateBlocks()
{
    auto &blocks = m_state.blocks;
    QHash<qint64, size_t> kept;
    std::vector<bool> drop(blocks.size(), false);
    qsizetype dropped = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const qint64 id = blocks[i].serverID;
        if (id == 0)
            continue;
        const auto it = kept.find(id);
        if (it == kept.end()) {
            kept.insert(id, i);
            continue;
        }
        ++dropped;
        if (blocks[i].updatedAt > blocks[*it].updatedAt) {
            drop[*it] = true;
            *it = i;
        } else {
            drop[i] = true;
        }
    }
    if (dropped == 0)
        return;
    size_t to = 0;
    for (size_t from = 0; from < blocks.size(); ++from) {
        if (!drop[from])
            blocks[to++] = std::move(blocks[from]);
    }
    blocks.erase(blocks.begin() + qsizetype(to), blocks.end());
    diag(QStringLiteral(
             "LocalStore: %1 block(s) shared a server id with another; kept the latest edit of each")
             .arg(dropped));
}

qint64 LocalStore::currentWorkspaceServerID() const
{
    const auto &workspaces = m_state.workspaces;
    const qint64 current = m_state.currentWorkspaceID;
    if (current != 0 && std::any_of(workspaces.cbegin(), workspaces.cend(),
                                    [&](const auto &w) { return w.serverID == current; }))
        return current;
    const auto first =
        std::find_if(workspaces.cbegin(), workspaces.cend(), [](const auto &w) { return w.serverID != 0; });
    return first != workspaces.cend() ? first->serverID : 0;
}

void LocalStore::setWorkspaces(std::vector<FNWorkspace> workspaces)
{
    const qint64 current = m_state.currentWorkspaceID;
    const bool same = workspaces == m_state.workspaces;
    m_state.workspaces = std::move(workspaces);
    m_state.currentWorkspaceID = currentWorkspaceServerID();
    tellState();
    if (!same || m_state.currentWorkspaceID != current)
        scheduleSave();
}

void LocalStore::setCurrentWorkspaceID(qint64 serverID)
{
    if (serverID == m_state.currentWorkspaceID)
        return;
    changeOutsideRecords([&](StoreState &s) { s.currentWorkspaceID = serverID; });
    scheduleSave();
}

void LocalStore::setCursorServerTs(qint64 serverTs)
{
    if (serverTs == m_state.cursorServerTs)
        return;
    changeOutsideRecords([&](StoreState &s) { s.cursorServerTs = serverTs; });
    // A pull that changed no record does not earn a write of its own: a cursor lost to a crash
    // only repeats operations already applied.
    deferSave();
}

void LocalStore::setPageStatuses(QMap<QString, FNPageStatus> statuses)
{
    if (statuses == m_state.pageStatuses)
        return;
    changeOutsideRecords([&](StoreState &s) { s.pageStatuses = std::move(statuses); });
    scheduleSave();
}

FNPageStatus LocalStore::pageStatus(qint64 pageServerID) const
{
    return state().pageStatuses.value(QString::number(pageServerID));
}

void LocalStore::setPageStatus(qint64 pageServerID, const FNPageStatus &status)
{
    const auto it = m_state.pageStatuses.constFind(QString::number(pageServerID));
    if (it != m_state.pageStatuses.cend() && *it == status)
        return;
    changeOutsideRecords(
        [&](StoreState &s) { s.pageStatuses.insert(QString::number(pageServerID), status); });
    scheduleSave();
}

void LocalStore::setExpandedRowIDs(std::vector<QString> ids)
{
    if (ids == m_state.expandedRowIDs)
        return;
    changeOutsideRecords([&](StoreState &s) { s.expandedRowIDs = std::move(ids); });
    scheduleSave();
}

void LocalStore::recordChanged(const FNFolder &folder)
{
    if (isInBatch())
        m_batch.folders.insert(folder.localID);
    else
        Q_EMIT folderChanged(folder.localID);
}

void LocalStore::recordChanged(const FNPage &page)
{
    if (isInBatch())
        m_batch.pages.insert(page.localID);
    else
        Q_EMIT pageChanged(page.localID);
}

void LocalStore::recordChanged(const FNBlock &block)
{
    if (isInBatch()) {
        m_batch.blocks.insert(block.localID);
        m_batch.blockPages.insert(block.pageLocalID);
    } else {
        Q_EMIT blockChanged(block.localID);
    }
}

template <typename T>
void LocalStore::upsert(RecordList<T> &list, RecordIndex<T> &index, const T &record)
{
    qsizetype at = index.withLocalID(record.localID);
    if (at < 0)
        at = index.withServerID(record.serverID);
    if (at >= 0 && list[size_t(at)] == record) {
        // The same record again (a refresh, a pull of what is here): told, not written.
        recordChanged(record);
        tellState();
        return;
    }
    auto hold = holdList<T>();
    if (at >= 0) {
        const T before = std::exchange(list[size_t(at)], record);
        recordTouched<T>(at);
        index.replaced(at, before);
        groupsReplaced(at, before);
        // Matched by its server id, the record took another local id: its old views must let go.
        if (before.localID != record.localID)
            recordChanged(before);
    } else {
        list.push_back(record);
        recordTouched<T>(qsizetype(list.size()) - 1);
        index.appended();
        groupsAppended(qsizetype(list.size()) - 1, record);
    }
    hold = {};
    scheduleSave();
    recordChanged(record);
    tellState();
}

void LocalStore::upsertFolder(const FNFolder &folder)
{
    upsert(m_state.folders, *m_folderIndex, folder);
}

void LocalStore::upsertPage(const FNPage &page)
{
    upsert(m_state.pages, *m_pageIndex, page);
}

void LocalStore::upsertBlock(const FNBlock &block)
{
    upsert(m_state.blocks, *m_blockIndex, block);
}

template <typename T>
bool LocalStore::edit(RecordList<T> &list, RecordIndex<T> &index, const QString &localID,
                      const std::function<void(T &)> &edit, bool stamp)
{
    const qsizetype at = index.withLocalID(localID);
    if (at < 0)
        return false;
    T record = list[size_t(at)];
    edit(record);
    if (record == list[size_t(at)]) {
        // Nothing to stamp or write; the observers are told as for any edit.
        recordChanged(record);
        tellState();
        return true;
    }
    if (stamp)
        record.updatedAt = m_now();
    auto hold = holdList<T>();
    const T before = std::exchange(list[size_t(at)], std::move(record));
    recordTouched<T>(at);
    // Under the hold: one building aside must not cover the record between the two.
    index.replaced(at, before);
    groupsReplaced(at, before);
    hold = {};
    scheduleSave();
    if (before.localID != localID)
        recordChanged(before);
    recordChanged(list[size_t(at)]);
    tellState();
    return true;
}

bool LocalStore::editFolder(const QString &localID, const std::function<void(FNFolder &)> &edit)
{
    return this->edit(m_state.folders, *m_folderIndex, localID, edit, false);
}

bool LocalStore::editPage(const QString &localID, const std::function<void(FNPage &)> &edit, Stamp stamp)
{
    return this->edit(m_state.pages, *m_pageIndex, localID, edit, stamp == Stamp::Edited);
}

bool LocalStore::editBlock(const QString &localID, const std::function<void(FNBlock &)> &edit, Stamp stamp)
{
    return this->edit(m_state.blocks, *m_blockIndex, localID, edit, stamp == Stamp::Edited);
}

void LocalStore::replaceBlocks(const std::vector<FNBlock> &edited)
{
    if (edited.empty())
        return;
    if (edited.size() == 1) {
        if (indexOfBlock(edited.front().localID) >= 0)
            upsertBlock(edited.front());
        return;
    }
    std::vector<qsizetype> at;
    at.reserve(edited.size());
    for (const FNBlock &block : edited)
        at.push_back(indexOfBlock(block.localID));
    // One change, but only these blocks are new to the next save and to the indexes.
    auto hold = holdBlocks();
    for (size_t i = 0; i < edited.size(); ++i) {
        if (at[i] < 0)
            continue;
        const FNBlock before = std::exchange(m_state.blocks[size_t(at[i])], edited[i]);
        m_blockChunks->touched(at[i]);
        m_blockIndex->replaced(at[i], before);
        groupsReplaced(at[i], before);
        if (isInBatch())
            recordChanged(edited[i]);
    }
    hold = {};
    // A batch names each block; alone, the rows re-read.
    if (!isInBatch())
        tellAllRecords();
    tellState();
    scheduleSave();
}

void LocalStore::appendBlocks(const std::vector<FNBlock> &blocks)
{
    if (blocks.empty())
        return;
    // Fresh ids no local block carries: the upsert rule appends each, so one change appends them
    // all, and no open row has anything to re-read.
    auto hold = holdBlocks();
    m_blockChunks->touchedFrom(qsizetype(m_state.blocks.size()));
    m_state.blocks.insert(m_state.blocks.end(), blocks.begin(), blocks.end());
    for (size_t i = 0; i < blocks.size(); ++i) {
        const auto at = qsizetype(m_state.blocks.size() - blocks.size() + i);
        m_blockIndex->appended(at);
        groupsAppended(at, blocks[i]);
        if (isInBatch())
            recordChanged(blocks[i]);
    }
    hold = {};
    scheduleSave();
    tellState();
}

template <typename T>
void LocalStore::setDeletedAt(RecordList<T> &list, RecordIndex<T> &index, const QString &localID,
                              std::optional<QDateTime> when)
{
    const qsizetype at = index.withLocalID(localID);
    bool changed = false;
    if (at >= 0) {
        changed = list[size_t(at)].deletedAt != when;
        auto hold = holdList<T>();
        list[size_t(at)].deletedAt = std::move(when);
        recordTouched<T>(at);
        hold = {};
        if constexpr (std::is_same_v<T, FNBlock>) {
            if (changed)
                pageBlocksMoved(list[size_t(at)].pageLocalID);
        }
        recordChanged(list[size_t(at)]);
    }
    tellState();
    if (changed)
        scheduleSave();
}

void LocalStore::markFolderDeleted(const QString &localID)
{
    setDeletedAt(m_state.folders, *m_folderIndex, localID, m_now());
}

void LocalStore::markPageDeleted(const QString &localID)
{
    setDeletedAt(m_state.pages, *m_pageIndex, localID, m_now());
}

void LocalStore::markBlockDeleted(const QString &localID)
{
    setDeletedAt(m_state.blocks, *m_blockIndex, localID, m_now());
}

void LocalStore::restoreFolder(const QString &localID)
{
    setDeletedAt(m_state.folders, *m_folderIndex, localID, std::nullopt);
}

void LocalStore::restorePage(const QString &localID)
{
    setDeletedAt(m_state.pages, *m_pageIndex, localID, std::nullopt);
}

void LocalStore::setClock(std::function<QDateTime()> now)
{
    m_now = std::move(now);
}
