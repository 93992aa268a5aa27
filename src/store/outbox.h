#pragma once

#include "api/wire/blocks.h"
#include "api/wire/folders.h"
#include "api/wire/pages.h"
#include "store/fn_fill_check.h"
#include "store/fn_folder.h"
#include "store/fn_page.h"
#include "store/fn_sync_op.h"
#include "store/page_blocks_upsert.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

class LocalStore;
struct StoreState;

// The one writer of a store's outbox. Each queuing call encodes the request, appends the
// operation, schedules a save, announces it and returns what it queued (nothing when the request
// could not be encoded and an empty body would be wrong). The other edits save as well.
class Outbox : public QObject
{
    Q_OBJECT
public:
    // What a page update stores when its request cannot be encoded.
    enum class Unencodable { QueueEmptyObject, QueueNothing };

    // The store's outbox, made on first use and owned by the store.
    static Outbox &of(LocalStore &store);

    // An unencodable create still goes out as "{}": the push fills the page in from its record.
    std::optional<FNSyncOp> pageCreate(const QString &pageLocalID, const PageCreateReq &req);
    // `sendAfter`: how long the sending may wait (a run of keys still rewriting it).
    std::optional<FNSyncOp> pageUpdate(const QString &pageLocalID, const PagePatchReq &req,
                                       Unencodable ifUnencodable,
                                       const QDateTime &createdAt = QDateTime::currentDateTimeUtc(),
                                       std::chrono::milliseconds sendAfter = {});
    std::optional<FNSyncOp> pageDelete(const QString &pageLocalID, qint64 pageServerID,
                                       std::chrono::milliseconds sendAfter = {});
    std::optional<FNSyncOp> pageMove(const QString &pageLocalID, const FolderMovePageReq &req);
    // `carriedFields`: see FNSyncOp; none sends every field of every block.
    std::optional<FNSyncOp> blocksUpsert(const QString &pageLocalID, const BlocksUpsertReq &req,
                                         const QDateTime &createdAt = QDateTime::currentDateTimeUtc(),
                                         std::optional<QMap<QString, qint64>> carriedFields = std::nullopt);
    std::optional<FNSyncOp> blockDelete(const QString &blockLocalID, qint64 blockServerID);
    // The delete of a copy the service made of a block deleted elsewhere meanwhile; withdrawn, while
    // it waits, when another device writes that copy (true then).
    std::optional<FNSyncOp> strayCopyDelete(const QString &blockLocalID, qint64 blockServerID);
    bool withdrawStrayDelete(const QString &blockLocalID, qint64 blockServerID);
    static bool isStrayCopyDelete(const FNSyncOp &op);
    std::optional<FNSyncOp> folderCreate(const QString &folderLocalID, const FolderCreateReq &req);
    std::optional<FNSyncOp> folderUpdate(const QString &folderLocalID, const FolderPatchReq &req);

    // The same, built from the records as they are now. The ids the service knows them by are
    // read again when the operation is sent.
    std::optional<FNSyncOp> folderCreate(const FNFolder &folder);
    std::optional<FNSyncOp> folderUpdate(const FNFolder &folder, FolderPatchReq patch);
    // Into `folderServerID`; 0 is the top level.
    std::optional<FNSyncOp> pageMove(const FNPage &page, qint64 folderServerID);

    // Built from the records as stored, naming a parent that is not on the service yet by its local
    // id (outbox_links.cpp); its server id is read when the operation is sent.
    std::optional<FNSyncOp> pageCreate(const FNPage &page);
    // Into the page's folder ("page"/"move"), under the page's parent page ("page"/"parent"), and
    // the folder under its parent folder ("folder"/"update").
    std::optional<FNSyncOp> pageMove(const FNPage &page);
    std::optional<FNSyncOp> pageParent(const FNPage &page);
    std::optional<FNSyncOp> folderMove(const FNFolder &folder);
    // "folder"/"delete", not sent before `sendAfter` has passed (the undo window).
    std::optional<FNSyncOp> folderDelete(const QString &folderLocalID, std::chrono::milliseconds sendAfter);
    // Per page, where its newest queued moves put it.
    struct PageFiling {
        struct Link {
            qint64 serverID = 0; // 0: the top level, or a parent named by `localID`
            std::optional<QString> localID;
        };
        std::optional<Link> folder;
        std::optional<Link> parent;
    };
    QHash<QString, PageFiling> queuedPageFilings() const;
    // The queued creates and parent changes naming `fromLocalID` as their parent page by local id
    // name `to` instead (no server id and no local id: the top level); they are due at once.
    void relinkParentPage(const QString &fromLocalID, const PageFiling::Link &to);
    // The same for the queued creates, moves and page moves naming `fromLocalID` as their folder or
    // parent folder by local id.
    void relinkFolder(const QString &fromLocalID, const PageFiling::Link &to);
    // The queued operation `opLocalID` goes out before every other one of its record: a create queued
    // again at a launch, ahead of the changes that wait for it.
    void sendFirstOfRecord(const QString &opLocalID);
    // Takes out every operation of the page itself (not those of its blocks); the count taken.
    int dropPageOperations(const QString &pageLocalID);

    // A block of the page changed here in `fields` (BlockFields): the page's next block upsert carries
    // them. Saved with the state, as the edit itself is. A change of no field sent (an indent) marks
    // nothing.
    void blockEdited(const QString &pageLocalID, const QString &blockLocalID, qint64 fields);
    void blocksEdited(const QString &pageLocalID, const QStringList &blockLocalIDs, qint64 fields);
    // The page's blocks changed here that no queued upsert carries yet, with the fields changed.
    QHash<QString, qint64> editedBlocks(const QString &pageLocalID) const;
    // Every block changed here whose change has not reached the service, with the fields changed:
    // edited and not yet queued, or carried by a queued block upsert.
    QHash<QString, qint64> blocksWithUnsentEdits() const;

    // The block's fill check (see FNFillCheck), or null; found by the block's id, not by a scan.
    // Valid until the next change of the state.
    const FNFillCheck *fillCheck(const QString &blockLocalID) const;
    // Another device's version of the block was pulled: it becomes the check's `other`, the check
    // made with `fields` when the block had none.
    void noteOtherVersion(const QString &blockLocalID, qint64 fields, const JSONObject &version);
    // A push that may have landed filled `fields` of the block; 0 drops its check.
    void noteFilled(const QString &blockLocalID, qint64 fields);
    void dropFillChecks(const QSet<QString> &blockLocalIDs);
    // A pull has read the feed to its end: a check still awaiting its push's echo (see
    // FNFillCheck::awaitingEcho) has nothing that landed to check, unless that push may land yet,
    // nor has one whose push will never go, nothing of its block being left to send.
    void settleChecksWithoutEcho();
    // The blocks were moved here only to make room (BlockFields::Room), each from the position the
    // service last held (its check keeps the first of a run of such moves).
    void noteRoomMoves(const QString &pageLocalID, const QHash<QString, qint64> &fromPositions);
    // The block's room is settled (another device's place stands, or its own landed). Its check goes
    // with it when no push that may have landed filled a field and nothing put back waits to go.
    void dropRoomFrom(const QString &blockLocalID);
    // The block's `fields` were put back to another device's write and marked to go out again.
    void noteRepaired(const QString &blockLocalID, qint64 fields);
    // Takes `fields` out of the block's marks, its repairs and the page's queued upserts: this device
    // has nothing of its own to send in them any more. Reads only the upserts that carry the block.
    void unmarkFields(const QString &pageLocalID, const QString &blockLocalID, qint64 fields);
    // The same for several blocks of the page: each upsert carrying them is rewritten once.
    void unmarkFields(const QString &pageLocalID, const QSet<QString> &blockLocalIDs, qint64 fields);
    // Drops the marks and checks of blocks deleted, or gone with their page: nothing is left to send;
    // and the checks with nothing left to check.
    void dropMarksOfGoneBlocks();
    // The page was deleted here and the delete can be taken back for `undoWindow`: till then its
    // blocks' marks stay, so that an undo still sends what was typed.
    void keepMarksOfDeletedPage(const QString &pageLocalID, std::chrono::milliseconds undoWindow);

    enum class PageBlocksOutcome {
        NoPage,          // nothing queued; a sync may still get the page its server id
        PageNotOnServer, // the same
        NothingToSend,   // no block changed that the service could take yet
        NotEncodable,
        Queued,
    };
    struct PageBlocksResult {
        PageBlocksOutcome outcome = PageBlocksOutcome::NoPage;
        int waitingForParent = 0; // changed blocks held back until their parent is on the service
    };
    // Queues one "block"/"upsert" of the page's blocks that changed here or are not on the service
    // yet, as stored now (see storedBlocksUpsert); the edits it carries count as queued.
    PageBlocksResult pageBlocksUpsert(const QString &pageLocalID,
                                      const QDateTime &createdAt = QDateTime::currentDateTimeUtc());

    // The page's queued updates and its blocks' upserts and deletes: what would write over a change
    // the service makes to the page's content itself.
    std::vector<FNSyncOp> queuedPageEdits(const QString &pageLocalID) const;
    // They go at the next push whatever their back-off, with the page's moves that would hold them.
    void hurryPageEdits(const QString &pageLocalID);

    // The page is gone from the service for good: nothing of it or its blocks is left to send. Saves
    // even when nothing was queued, so what the engine dropped of the page alongside is kept too.
    void dropPurgedPage(const QString &pageLocalID);

    // A request of the queued operation is about to leave: it is noted on disk first (cheaply, beside
    // the state), so that after a kill it counts as possibly arrived. `window`: a create's, on the
    // service's clock; `filled`: a block upsert's fields filled per block.
    void goingOut(const QString &opLocalID, std::optional<SendWindow> window,
                  std::optional<QMap<QString, qint64>> filled = std::nullopt);
    // Noted the same way for a create, with it: the body it goes out with, just before it leaves (a
    // rename may rewrite the queued one meanwhile), and the id its answer gave, as soon as it came.
    // By them a launch after a kill knows the service's copy (foldCreateNotes).
    void createGoingOut(const QString &opLocalID, const QString &sentPayload);
    void createAnswered(const QString &opLocalID, qint64 madeID);
    // Its answer, or failure, is in the state.
    void goneOut();
    // Moves whenever the queued operations or the marks of edits not queued yet change: what
    // blocksWithUnsentEdits answers is the same while it stays.
    quint64 revision() const { return m_revision; }

    // The local ids of the records with an operation of `kind` waiting.
    QSet<QString> queuedRecords(SyncOpKind kind) const;
    bool isQueued(SyncOpKind kind, const QString &refLocalID) const;
    // Per page, the folder (0: the top level) its newest queued move goes to.
    QHash<QString, qint64> queuedPageMoves() const;
    // The operation as it waits now; none once it has left.
    std::optional<FNSyncOp> find(const QString &opLocalID) const;

    // Takes the operation out; false when it was not queued.
    bool drop(const QString &opLocalID);
    // Takes the operations out in one change; how many were queued.
    qsizetype drop(const QSet<QString> &opLocalIDs);
    // Takes out the page's queued deletes; false when there was none.
    bool dropPageDeletes(const QString &pageLocalID);
    // Puts `op` in place of the queued operation with its local id; false when it has gone.
    bool replace(const FNSyncOp &op);
    // Takes out of every queued block upsert the items `takeOut` picks, with what they carry; an upsert
    // left with none goes. Those `mayHold` rules out are not read.
    void takeOutOfUpserts(const std::function<bool(const FNSyncOp &, const BlockUpsertItem &)> &takeOut,
                          const std::function<bool(const FNSyncOp &)> &mayHold = {});
    // The queued block upsert `op` carrying `req` from now on; false, changing nothing, when `req`
    // cannot be encoded or the operation has gone.
    bool replaceBlocksUpsert(FNSyncOp op, const BlocksUpsertReq &req);
    // Writes the title into the page's queued creates, so one sent later carries it, and into the
    // titles its queued updates carry, so none sent after puts an older one back. A create that went
    // out unanswered keeps the body it was sent with, by which the service's copy is known: false
    // then, and the rename has to follow as an update.
    bool retitlePageCreate(const QString &pageLocalID, const QString &title);
    // Writes the name and icon given into the folder's queued create, so that it makes the folder as
    // it is now (the service's copy of a named create is told from another device's by its name). A
    // create that went out unanswered keeps the body it was sent with: false then, as without a
    // create, and the change has to follow as an update.
    bool renameFolderCreate(const QString &folderLocalID, const std::optional<QString> &name,
                            const std::optional<QString> &icon);
    // The title the page's newest queued create or update carrying one sends; none without one.
    std::optional<QString> queuedTitle(const QString &pageLocalID) const;
    // Writes the title into the queued page update `opLocalID` while it has not been tried yet, so
    // a run of keys rewrites one operation. False when it has gone or has been tried.
    bool retitlePageUpdate(const QString &opLocalID, const QString &title);

Q_SIGNALS:
    // A new operation; `sendAfter` is how long its sending may wait (an undo window).
    void queued(const FNSyncOp &op, std::chrono::milliseconds sendAfter);

private:
    explicit Outbox(LocalStore &store);

    // `alongside` runs in the same change of the state, so no save holds one without the other.
    FNSyncOp append(const QString &entity, const QString &op, const QString &refLocalID,
                    const QString &payload, const QDateTime &createdAt = QDateTime::currentDateTimeUtc(),
                    std::chrono::milliseconds sendAfter = {},
                    const std::function<void(StoreState &, FNSyncOp &)> &alongside = {});
    // Every change of the operations or the marks saves through here.
    void save();
    QHash<QString, qint64> unsentNow() const;
    // Fill checks saved as they change; they are not part of `revision`.
    void saveChecks();

    // Where the block's check lies in the state's list, -1 for none.
    qsizetype checkAt(const QString &blockLocalID) const;
    void indexChecks() const;
    // Keep the index in step with the list; only called inside a change of the state.
    FNFillCheck &addCheck(StoreState &s, FNFillCheck check);
    void eraseCheck(StoreState &s, size_t at);

    LocalStore &m_store;
    quint64 m_revision = 0;
    // The fill checks by block id, kept in step by the writes here; rebuilt when the list was
    // written some other way (a reset, a bulk edit of the state).
    struct CheckIndex {
        QHash<QString, size_t> at;
        size_t count = 0;
        quint64 generation = 0;
        bool stale = true;
    };
    mutable CheckIndex m_checks;
    // What blocksWithUnsentEdits answered, and for which state of the operations and marks.
    struct UnsentCache {
        quint64 revision = 0;
        quint64 generation = 0;
        size_t operations = 0;
        size_t marks = 0;
        bool stale = true;
        QHash<QString, qint64> ids;
    };
    mutable UnsentCache m_unsent;
    // Pages deleted here whose delete can still be undone, until when.
    QHash<QString, QDeadlineTimer> m_undoablePages;
};
