#pragma once

#include "store/batch_change.h"
#include "store/store_state.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class BlockChunks;
class OutboxChunks;
class IndexBuilder;
class SendJournal;
class KeptStateFile;
class StateWriter;
template <typename T>
class RecordIndex;
template <typename T, typename Key>
class GroupIndex;

// The one local data set of the process and its file "state.json". Records are read and changed
// by id; every change through the operations below schedules its own save and says what changed:
// `blockChanged` and its siblings for one record, `stateChanged` for anything; inside `batch` they
// are told once, together, by `batchApplied`. Listings iterate
// `state()` read-only. Everything runs on the main thread but the writing of saves, which works on
// a snapshot.
class LocalStore : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kSaveDelay{150};

    // Loads "state.json" from `folder`, creating the folder (0700) when missing. A file that cannot
    // be read or is not a JSON object is renamed aside before the store starts empty; from one whose
    // records partly decode, the rest load and a copy of the file is kept aside. When neither can be
    // set aside, saves are blocked (see isSaveBlocked). Built once the folder's instance lock is
    // held, it first removes the temporary files that saves cut short left ("state.json.tmp-*").
    explicit LocalStore(const QString &folder, std::chrono::milliseconds saveDelay = kSaveDelay,
                        QObject *parent = nullptr);
    // A save still pending is written first.
    ~LocalStore() override;

    // The per-user data folder plus "Folionest".
    static QString defaultFolder();

    // Path of "state.json".
    QString url() const { return m_url; }
    const StoreState &state() const { return m_state; }

    // Edits the state in place and tells the observers once, saving nothing: for the store's own
    // bulk work and for tests setting a state up. Records edited this way cost a rebuild of the id
    // indexes (begun aside, finished by the next lookup), and the per-record views re-read on
    // `recordsChanged`.
    template <typename Edit>
    void change(Edit &&edit)
    {
        {
            const auto hold = holdAll();
            std::forward<Edit>(edit)(m_state);
            allRecordsTouched();
        }
        indexesStale();
        tellAllRecords();
        tellState();
    }

    // The same for edits that leave folders, pages and blocks alone (the outbox, the cursor, the
    // badges, the expanded rows): the id indexes stay valid, so this costs nothing extra.
    template <typename Edit>
    void changeOutsideRecords(Edit &&edit)
    {
        std::forward<Edit>(edit)(m_state);
        tellState();
    }

    // The same for bookkeeping no view shows (the marks of edits not queued yet): saved with the
    // next save, told to nobody.
    template <typename Edit>
    void changeUntold(Edit &&edit)
    {
        std::forward<Edit>(edit)(m_state);
    }

    // Runs `work` as one change: the records it touches are told once at its end by one
    // `batchApplied` (and one `stateChanged`, and `recordsChanged` after a bulk edit) instead of a
    // signal per record, and one save is scheduled when anything worth writing changed. Lookups
    // inside see every edit at once. Batches nest; the outermost tells.
    template <typename Work>
    void batch(Work &&work)
    {
        struct Scope {
            LocalStore &store;
            ~Scope() { store.endBatch(); }
        };
        beginBatch();
        Scope scope{*this};
        std::forward<Work>(work)();
    }
    bool isInBatch() const { return m_batchDepth > 0; }

    // The first record with the id (soft-deleted ones included), or null. Valid until the next
    // change of the state.
    const FNFolder *folder(const QString &localID) const;
    const FNPage *page(const QString &localID) const;
    const FNBlock *block(const QString &localID) const;
    // The same by the service's id, null for 0. Where an older build or a lost reply left several
    // records with one id, the first live one stands for it, else the first deleted one.
    const FNFolder *folderWithServerID(qint64 serverID) const;
    const FNPage *pageWithServerID(qint64 serverID) const;
    const FNBlock *blockWithServerID(qint64 serverID) const;
    // The first live record with the id; null when only deleted ones have it.
    const FNPage *livePageWithServerID(qint64 serverID) const;
    const FNBlock *liveBlockWithServerID(qint64 serverID) const;
    // Every block of the page (by its local id) and every page under a parent (by the parent's
    // server id), deleted ones included, in store order; answered from indexes, not by a scan.
    // Valid until the next change of the state.
    std::vector<const FNBlock *> blocksOfPage(const QString &pageLocalID) const;
    std::vector<const FNPage *> childPages(qint64 parentServerID) const;
    // Every block with the server id, deleted ones included, in store order.
    std::vector<const FNBlock *> blocksWithServerID(qint64 serverID) const;
    // Moves whenever a block of the page comes, goes or changes in more than its content and its
    // edit stamp, and at every bulk edit: a view that lists the page's blocks re-reads them only
    // when it moved, not for each key typed into one.
    quint64 pageBlocksRevision(const QString &pageLocalID) const;

    // Whether an edit is a change by the user, which stamps the record's `updatedAt`, or a filing
    // (a move, an id learnt) that leaves it.
    enum class Stamp { Edited, Keep };
    // Apply `edit` to the record with the id, then save and tell; an edit that changes nothing is
    // told but neither stamped nor saved. False, doing nothing, when there is none. Folders carry no
    // stamp of their own.
    bool editFolder(const QString &localID, const std::function<void(FNFolder &)> &edit);
    bool editPage(const QString &localID, const std::function<void(FNPage &)> &edit,
                  Stamp stamp = Stamp::Edited);
    bool editBlock(const QString &localID, const std::function<void(FNBlock &)> &edit,
                   Stamp stamp = Stamp::Edited);
    // Stores each block over the record with its local id (one that has none is skipped) in one
    // change: a renumbering of a long page tells the open rows once, not once per block.
    void replaceBlocks(const std::vector<FNBlock> &edited);

    qint64 currentWorkspaceServerID() const;
    // The service's list; the current choice is repaired to one of them. Saves.
    void setWorkspaces(std::vector<FNWorkspace> workspaces);

    // Replace the first record with the same localID, else the first with the same nonzero
    // serverID, else append; then save (unless it was there already, field for field) and tell.
    void upsertFolder(const FNFolder &folder);
    void upsertPage(const FNPage &page);
    void upsertBlock(const FNBlock &block);

    // Act on the first record with the localID (soft-deleted ones included); each tells, also when
    // no record matches, and saves when the record changed. Nothing cascades.
    void markFolderDeleted(const QString &localID);
    void markPageDeleted(const QString &localID);
    void markBlockDeleted(const QString &localID);
    void restoreFolder(const QString &localID);
    void restorePage(const QString &localID);

    // Blocks fresh from the service, whose ids no local record carries, appended in one change.
    void appendBlocks(const std::vector<FNBlock> &blocks);
    // The fields outside the records; each saves.
    void setCurrentWorkspaceID(qint64 serverID);
    void setCursorServerTs(qint64 serverTs);
    void setPageStatuses(QMap<QString, FNPageStatus> statuses);
    // One page's badges, under its server id; a page without an entry has the default badges.
    FNPageStatus pageStatus(qint64 pageServerID) const;
    void setPageStatus(qint64 pageServerID, const FNPageStatus &status);
    void setExpandedRowIDs(std::vector<QString> ids);

    // Empties the state and deletes the file (kept while saves are blocked); a pending save still
    // writes (the empty state).
    void reset();
    // Changes at every reset, so work begun on the old data set can tell it is gone.
    quint64 generation() const { return m_generation; }
    // Writes the whole state now and returns once it is on disk: a new private temporary file in
    // full, synced, renamed over "state.json". On failure prints "LocalStore save error: " and the
    // reason; the old file stays. Does nothing while saves are blocked.
    void save();
    // A save armed, or a write still under way on the writer's thread.
    bool isSavePending() const;
    // Saves started so far; a change made now is on disk once `saveWritten` tells a later one.
    quint64 savesStarted() const { return m_savesStarted; }
    // How long a steady stream of changes may hold a save back (tests).
    void setLongestSaveWait(std::chrono::milliseconds wait);
    static constexpr std::chrono::milliseconds kLongestSaveWait{1000};

    // True when the file loaded had records that did not decode (or did not read at all) and could
    // not be kept aside: this process then never writes over or removes it. Set at load only.
    bool isSaveBlocked() const { return !m_saveBlockedReason.isEmpty(); }
    // Why, for the diagnostics; empty when saves are not blocked.
    const QString &saveBlockedReason() const { return m_saveBlockedReason; }

    // Time source of the soft deletes and the edit stamps (tests).
    void setClock(std::function<QDateTime()> now);

Q_SIGNALS:
    void stateChanged();
    void folderChanged(const QString &localID);
    void pageChanged(const QString &localID);
    void blockChanged(const QString &localID);
    // Any record may have changed at once (a bulk edit, a reset).
    void recordsChanged();
    // A batch ended having changed these records; no per-record signal was told for them.
    void batchApplied(const BatchChange &change);
    // The `save`th save since launch is on disk (see savesStarted); a later one holds all it did.
    void saveWritten(quint64 save);

private:
    // The outbox and the tests of the store itself arm saves directly.
    friend class Outbox;
    friend struct LocalStoreTesting;

    // Positions in the state's lists of the first record with the id (soft-deleted included);
    // -1 when none. Valid until the next change.
    qsizetype indexOfFolder(const QString &localID) const;
    qsizetype indexOfPage(const QString &localID) const;
    qsizetype indexOfBlock(const QString &localID) const;
    qsizetype indexOfFolderWithServerID(qint64 serverID) const;
    qsizetype indexOfPageWithServerID(qint64 serverID) const;
    qsizetype indexOfBlockWithServerID(qint64 serverID) const;

    void beginBatch();
    void endBatch();
    // The signals, held back while a batch runs.
    void tellState();
    void tellAllRecords();

    // Arms the save `saveDelay` ahead; each further change re-arms it, but never past the longest
    // wait after the first change not yet written.
    void scheduleSave();
    // Marks a change worth keeping but not worth a write of its own: written with the next save, at
    // the latest when the store closes.
    void deferSave();
    // Hands a snapshot of the state to the writer without waiting.
    void startSave();
    // The writer's failures, reported on this thread.
    void saveFailed(const QString &reason);
    void reportSaveFailures();
    // Any record may have changed: the next snapshot copies them all.
    void allRecordsTouched();
    template <typename T>
    void recordTouched(qsizetype at);
    // Held while a list changes: its indexes, and the blocks' chunks, may be in the making on
    // another thread.
    struct Hold {
        std::unique_lock<std::recursive_mutex> list;
        std::unique_lock<std::recursive_mutex> chunks;
    };
    struct HoldAll {
        Hold folders, pages, blocks;
    };
    Hold holdBlocks();
    template <typename T>
    Hold holdList();
    HoldAll holdAll();
    void removeLeftovers();
    // What loaded, and where: the file stays open for the chunks' text.
    void load(std::shared_ptr<const KeptStateFile> &file, qint64 &blocksAt);
    void setAside(const QString &reason);
    void keepOriginal(const QByteArray &bytes, const StoreStateDrops &dropped);
    void keepOriginalFailed(const StoreStateDrops &dropped, const QString &failure);
    void dropDuplicateBlocks();
    // The requests a launch sent and was killed before saving how they went: their operations count
    // as possibly arrived, and the fields they filled are checked against the feed.
    void foldSendJournal();
    // Per block, the fields the last of those requests that carried it filled, and whether its
    // operation was gone, so that the request may never have left.
    struct SentFill {
        qint64 fields = 0;
        bool unconfirmed = false;
    };
    void foldSentFills(const QHash<QString, SentFill> &fills);
    QString asideName(const char *infix, int n) const;
    void writePendingSave();
    void indexesStale();
    // The indexes beyond the ids, told of each replaced or appended record.
    void groupsReplaced(qsizetype, const FNFolder &) {}
    void groupsReplaced(qsizetype at, const FNPage &before);
    void groupsReplaced(qsizetype at, const FNBlock &before);
    void groupsAppended(qsizetype, const FNFolder &) {}
    void groupsAppended(qsizetype at, const FNPage &);
    void groupsAppended(qsizetype at, const FNBlock &);
    void pageBlocksMoved(const QString &pageLocalID);
    template <typename T>
    void upsert(RecordList<T> &list, RecordIndex<T> &index, const T &record);
    template <typename T>
    bool edit(RecordList<T> &list, RecordIndex<T> &index, const QString &localID,
              const std::function<void(T &)> &edit, bool stamp);
    void recordChanged(const FNFolder &folder);
    void recordChanged(const FNPage &page);
    void recordChanged(const FNBlock &block);
    template <typename T>
    void setDeletedAt(RecordList<T> &list, RecordIndex<T> &index, const QString &localID,
                      std::optional<QDateTime> when);

    StoreState m_state;
    quint64 m_generation = 0;
    quint64 m_savesStarted = 0;
    QString m_url;
    QString m_saveBlockedReason;
    QTimer m_saveTimer;
    std::chrono::milliseconds m_saveDelay;
    std::chrono::milliseconds m_longestSaveWait = kLongestSaveWait;
    QElapsedTimer m_pendingSince;
    bool m_unsaved = false;
    int m_batchDepth = 0;
    BatchChange m_batch;       // what the running batch touched
    bool m_batchState = false; // the running batch owes a `stateChanged`
    bool m_batchSave = false;  // and a save
    std::mutex m_failuresMutex;
    QStringList m_saveFailures;
    std::function<QDateTime()> m_now;
    std::recursive_mutex m_foldersMutex;
    std::recursive_mutex m_pagesMutex;
    std::recursive_mutex m_blocksMutex;
    std::unique_ptr<RecordIndex<FNFolder>> m_folderIndex;
    std::unique_ptr<RecordIndex<FNPage>> m_pageIndex;
    std::unique_ptr<RecordIndex<FNBlock>> m_blockIndex;
    std::unique_ptr<GroupIndex<FNBlock, QString>> m_blocksByPage;
    std::unique_ptr<GroupIndex<FNPage, qint64>> m_pagesByParent;
    // Before the indexes go, it stops building them.
    std::unique_ptr<IndexBuilder> m_indexBuilder;
    std::unique_ptr<BlockChunks> m_blockChunks;
    // The folders and pages as the last snapshot copied them, shared with it; copied again only
    // once changed.
    std::shared_ptr<const std::vector<FNFolder>> m_savedFolders;
    std::shared_ptr<const std::vector<FNPage>> m_savedPages;
    // The outbox as the last snapshot held it, in pieces shared with it.
    std::unique_ptr<OutboxChunks> m_savedOutbox;
    quint64 m_blocksRevision = 0; // moves at bulk edits
    QHash<QString, quint64> m_pageBlocksRevisions;
    // The outbox's notes of requests going out ("state.json.sending"), emptied by the save after.
    std::unique_ptr<SendJournal> m_sendJournal;
    // Last: it stops, having written what was queued, before the rest goes.
    std::unique_ptr<StateWriter> m_writer;
};
