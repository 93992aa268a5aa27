#pragma once

#include "api/cancel_token.h"
#include "api/service_client.h"
#include "api/wire/pages.h"
#include "api/wire/sync.h"
#include "store/create_adoption.h"
#include "store/fn_block.h"
#include "store/fn_folder.h"
#include "store/fn_sync_op.h"

#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <coroutine>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class Connectivity;
class LocalStore;
class Outbox;
struct BlockUpsertItem;
struct BlocksUpsertReq;

// Keeps the local data set and the service in step: each cycle pushes the outbox, then pulls the
// changes recorded since the stored cursor, page after page while the service says more is
// waiting, and applies them. The service's version always wins.
class SyncEngine : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kTickInterval{5000};
    static constexpr int kMaxDeferredAttempts = 5;

    // Talks to the service through `client`, under its session.
    SyncEngine(LocalStore &store, ServiceClient &client, QObject *parent = nullptr);
    ~SyncEngine() override;

    // Starts the tick loop (a cycle, then a pause, forever) unless it already runs.
    void start();
    // Ends the tick loop at once, without waiting out the pause; a cycle in flight finishes.
    void stopLoop();
    bool isRunning() const { return m_running; }

    // One cycle; returns at once without a token or while a cycle runs. Throws the pull's error.
    QCoro::Task<> syncNow();
    // The same for callers that have nothing to do with its error: the engine keeps what failed and
    // tries again on its own. An engine that is gone, or null, does nothing.
    static QCoro::Task<> syncQuietly(QPointer<SyncEngine> engine);
    bool isSyncing() const { return m_isSyncing; }
    // Until the cycle under way, if any, has finished (it may be sending what the caller needs
    // sent), or a while at most.
    static QCoro::Task<> cycleUnderWayEnds(QPointer<SyncEngine> engine);
    // Before the service changes a page's content itself (a version restored, a suggestion accepted):
    // what of it waits here goes first, whatever its back-off, in one cycle at most (after the one
    // under way). True when nothing is left that could land over the change later; no request when
    // nothing waits (sync_engine_page_edits.cpp).
    QCoro::Task<bool> sendPageEditsFirst(qint64 pageServerID);
    // The service changed the page's content itself: the edits it refused would write over that if
    // they ever landed, so they go.
    void dropRefusedPageEdits(qint64 pageServerID);
    // Not saved: pages showing a change the service refused, not yet laid back to the service's copy
    // (in the trash too); and what the service refused to create (sync_engine_unsent.cpp), still on
    // this device only.
    int unsavedPageCount() const;
    // The page was emptied from the trash: what it held back from the service, refused or queued,
    // goes with it, and it no longer counts as not saved.
    void pagePurged(qint64 pageServerID);
    // Aborts the requests of the cycle in flight; that cycle then ends with a cancelled error.
    void cancelCycle();

    // A connectivity report: a return to online after an offline report starts one cycle.
    void handlePathUpdate(bool online);
    // Takes the network state `connectivity` reports now, so a launch while offline syncs as soon as
    // the network comes, and follows its reports from then on.
    void followConnectivity(Connectivity &connectivity);

    // The JSON text of a pulled payload's "content", or "{}".
    static QString contentJSON(const JSONObject &payload);

    // Tests: the pause between cycles, the wait between a new operation and its cycle, and the time
    // source of retry times.
    void setTickInterval(std::chrono::milliseconds interval) { m_tickInterval = interval; }
    void setQueueDelay(std::chrono::milliseconds delay) { m_queueDelay = delay; }
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }

Q_SIGNALS:
    void isSyncingChanged(bool syncing);
    // Every cycle that ran, whatever its outcome.
    void cycleFinished();
    // The service kept refusing a change (a page's or its blocks', or a folder's): it was dropped,
    // and the page is laid back to what the service holds. `title` names the page or folder.
    void changeRefused(const QString &title, const QString &reason);
    // The same for a page in the trash here: it still shows the change, laid back once restored.
    void trashedPageChangeRefused(const QString &title, const QString &reason);
    // The service kept refusing a new page: it stays on this device only, and its subpages
    // (`movedSubpages` of them) were moved up to the nearest parent that can be saved.
    void createRefused(const QString &title, const QString &reason, int movedSubpages);
    // The same for a new folder: what it held (`movedItems` pages and subfolders) went one level up.
    void folderCreateRefused(const QString &name, const QString &reason, int movedItems);

private:
    struct DeferredBlock {
        SyncOpDTO op;
        int attempts = 0;
    };

    struct Pause;
    QCoro::Task<> tickLoop(quint64 loopId);
    // A new operation gets a cycle soon: one for a burst, none while a cycle runs (its push, or the
    // next tick, takes it).
    void onQueued(std::chrono::milliseconds sendAfter);
    void runQueuedCycle();
    // Resumes the loop paused between cycles, at once and on this stack.
    void wakeLoop();
    // Pulls first when a queued block upsert fills fields, so they go as the service has them.
    QCoro::Task<> pullBeforePush();
    QCoro::Task<> push();
    QCoro::Task<> sendOp(FNSyncOp op);
    // The "folder" operations; in sync_engine_folders.cpp like the page's move. The push is in
    // sync_engine_push.cpp, the pull and its apply in sync_engine_pull.cpp.
    QCoro::Task<> sendFolderOp(FNSyncOp op);
    // A page's "move" into a folder (or to the top level); in sync_engine_folders.cpp.
    QCoro::Task<> sendPageMove(FNSyncOp op);
    // A page's new parent page; in sync_engine_folders.cpp.
    QCoro::Task<> sendPageParent(FNSyncOp op);
    // A create names a parent that had no server id when it was queued: the id it has now, or the
    // create waits for it (throws).
    void linkPageCreate(const FNSyncOp &op, PageCreateReq &req) const;
    QCoro::Task<> pull();
    // A page of the feed asked for, its reply on its way.
    struct FeedRequest;
    // The page of the feed after `since`, under the session as it is now; none without one.
    std::optional<FeedRequest> requestFeed(qint64 since);
    // Whether a reply to `request` may still land: the same engine, data set and session.
    bool stillCurrent(const FeedRequest &request) const;
    // Lays a page of the feed over the records in slices, the event loop turning between them, and
    // moves the cursor past it with the last; false when the pull was cut short.
    QCoro::Task<bool> applyPage(SyncResp resp, const FeedRequest &request);
    // `content`: the payload's "content" as contentJSON makes it, when made already.
    void apply(const SyncOpDTO &op, const QString *content = nullptr);
    // A block the service deleted; see its definition for a block edited here.
    void applyBlockDelete(const FNBlock &stored);
    // The block's parent here, by its local id, else by its server id; null at the top level.
    const FNBlock *parentBlock(const FNBlock &block) const;
    // Deeper than any page nests its blocks: a chain of parents this long runs in a loop.
    static constexpr size_t kMaxBlockDepth = 1000;
    // Reads what this device has not sent yet, and so which blocks a pulled delete must not take.
    void noteUnsentEdits();
    // The same between slices, only when the outbox changed since: what was edited meanwhile.
    void noteUnsentEditsSince();
    // The blocks under one that came back, and the queued items naming its old id, wait for its new one.
    void relinkUnderCameBack();
    // The page's changed blocks held back until a parent had its id, when `named` holds one: queued.
    void queueHeldChildren(const QString &pageLocalID, const QSet<QString> &named);
    // The pulled pages this device does not know, as a listing would show them.
    std::vector<ListedPage> unknownPages(const std::vector<SyncOpDTO> &ops) const;
    // Whether a queued block upsert sends fields this device did not change: the push then pulls first,
    // so they go as the service has them now (sync_engine_fills.cpp).
    bool needsFreshCopy() const;
    static bool fillsFields(const FNSyncOp &op);
    // Whether the upsert waits for a pull that works before it goes: it fills fields, or an earlier
    // send of it may have landed (the pull then gives its new blocks their ids).
    static bool needsPullFirst(const FNSyncOp &op);
    // Whether another device's version of a block this device moved only to make room stands over
    // that move: it chose another place than the one the room was made from.
    bool roomGivesWay(const FNBlock &block, const JSONObject &pulled) const;
    // The block's room move was undone by another device's place: its mark and base go, with those
    // of the other blocks that gave way in the page of the feed (settleYieldedRoom).
    void yieldRoom(const FNBlock &block);
    // Takes the room given way out of the marks, checks and queued upserts, once per page.
    void settleYieldedRoom();
    // Notes the pages with room moves still to go out, before a batch is applied.
    void noteRoomPages();
    // A block another device placed among blocks moved here to make room is put between the blocks it
    // was placed between, in their new places, and goes out as a move to make room.
    void keepPlacesAmongRoom();
    // Notes, as a cycle starts, the runs of blocks made here and not on the service yet, each with the
    // blocks it lies between (sync_engine_places.cpp).
    void noteNewRuns();
    // A block made here while the cycle is out joins the run it was typed in, if any.
    void joinRunTypedIn(const QString &blockLocalID);
    // After a pulled batch touching `pages`: a run noted is put back right after the block it followed
    // where the batch moved that block, or landed others' blocks among the run (which then went out
    // unknowing of them): straight after it, else right before the block it came before.
    void keepNewRunsInPlace(const QSet<QString> &pages);
    // The same for the runs of one page, given by their indexes.
    void keepRunsOfPage(const QString &pageLocalID, const std::vector<size_t> &runs);
    // The pages of the blocks the operations write.
    QSet<QString> pagesWritten(const std::vector<SyncOpDTO> &ops) const;
    void noteLanded(const QString &pageLocalID, const QString &blockLocalID)
    {
        if (m_runsOnPage.contains(pageLocalID))
            m_landedAt.insert(blockLocalID, m_applied);
    }
    void forgetNewRuns();
    // The service answered or echoed a new id for a block whose place alone went out from here: the
    // block it named had been deleted meanwhile, so the delete stands here and for the new copy.
    // Unless a block changed or made here hangs under it (`sent`: the fields of the blocks the answered
    // upsert carried): the copy then holds that change and stays, as the block here.
    void deleteStrayCopy(const QString &blockLocalID, qint64 serverID,
                         const QHash<QString, qint64> &sent = {});
    bool holdsEditsBelow(const FNBlock &block, const QHash<QString, qint64> &sent) const;
    // A stray copy's delete goes only after a pull made after it was queued: another device may have
    // written the copy since, and its version withdraws the delete. Noted as the pull before the
    // push begins.
    void noteStrayDeletesBeforePull();
    bool strayDeleteWaits(const FNSyncOp &op) const;
    // Sets every field of the items that this device did not change to its copy as it is now, and
    // leaves out the blocks deleted here; notes what each item fills in `m_sending`.
    void fillFromStore(BlocksUpsertReq &req, const FNSyncOp &op);
    void fillItem(BlockUpsertItem &item, const FNBlock &block, const FNSyncOp &op);
    // The upsert in flight may have landed: its filled fields are checked against the feed.
    void noteSending();
    // A pulled version of a stored block written by another device, before it is laid over `block`;
    // returns the fields still this device's own (`mine` less the repairs it overtakes).
    qint64 noteOtherVersion(const FNBlock &block, const JSONObject &pulled, qint64 mine);
    // This device's own echo, laid over `block` already: the fields it wrote over another device's
    // write are put back to it and queued; returns them.
    qint64 repairOverwrite(FNBlock &block, const JSONObject &echo, qint64 mine);
    void setPulledParent(FNBlock &block, qint64 parentServerID);
    void queueRepairs();
    // Looks in the service's listing for the page an earlier create of `pageLocalID` made, and
    // adopts it; true when it did.
    QCoro::Task<bool> adoptListedPage(QString pageLocalID, qint64 workspaceID);
    // A "block"/"upsert" of the page's stored blocks, unless one is queued already.
    void queueStoredBlocks(const QString &pageLocalID);
    // Once per engine, at its first push: the block upserts of the edits an earlier launch saved and
    // never queued.
    void queueLeftEdits();
    void retryDeferredBlocks();
    // A pulled block this device sent itself, named by the `client_id` the service echoes; true
    // when it was taken as that local block.
    bool adoptEcho(qint64 serverID, const QString &clientID);
    // Records the block's server id; no other local block keeps the same one.
    void giveBlockServerID(const QString &blockLocalID, qint64 serverID);
    // Removes a sent operation, or keeps what was rewritten in it while it was on its way and
    // returns that follow-up.
    std::optional<FNSyncOp> settleSent(const FNSyncOp &sent);
    // The page update that carries what changed in a queued create after it was sent.
    // `beforeID`: the page may have no server id yet; the update then reads it when sent.
    std::optional<PagePatchReq> createFollowUp(const FNSyncOp &sent, const FNSyncOp &queued,
                                               bool beforeID = false) const;
    // An unanswered create keeps the body it went out with, whatever was rewritten in it meanwhile.
    void keepSentCreate(const FNSyncOp &sent);
    // `answerToIt`: the service answered the operation's own send; any other failure is never taken
    // as the service refusing it.
    void recordFailure(const FNSyncOp &op, std::exception_ptr error, bool answerToIt = true);
    // The pull the operation waits for failed: why is noted, but nothing is counted and it waits no
    // longer than for a pull that works.
    void noteWaitForFeed(const FNSyncOp &op, const std::exception_ptr &error);
    // A refused operation is being dropped: the user hears of it, and its page is laid back to the
    // service's copy at the end of the push (sync_engine_refusals.cpp).
    void noteRefusal(const FNSyncOp &op, const QString &reason);
    // Records, in the state, what of the page the dropped change carried; until the page is read
    // back, it counts as not saved.
    void keepRefused(const QString &pageLocalID, const QSet<QString> &blocks, bool pageFields);
    void dropRefused(const QString &pageLocalID); // read back, or gone
    // The pages whose create was refused this push: their other operations go, their subpages move up.
    void releaseRefusedCreates();
    // The page is on this device only, with no create queued (the service refused it): what needs its
    // server id counts as sent, as the next launch queues the create again from the page as it is.
    bool isLeftUnsent(const QString &pageLocalID) const;
    // What refused creates leave on this device only, in sync_engine_unsent.cpp: the folders whose
    // create was refused this push give what they hold to their parent.
    void releaseRefusedFolders();
    // The folder is on this device only, with no create queued.
    bool isFolderLeftUnsent(const QString &folderLocalID) const;
    // The server id of the folder the payload names under `key`, as the operation goes now: none when
    // it names none or the folder is gone; a folder left unsent stands for its parent (0: the top
    // level). Throws while the folder waits for its create. `standIn`: set when a parent stood in.
    std::optional<qint64> linkedFolderNow(const QString &payload, const char *key,
                                          bool *standIn = nullptr) const;
    // After a send in which a parent stood in for a folder left unsent: the page, or folder, here
    // goes where it went on the service, unless it has been moved again since.
    void followStandIn(const FNSyncOp &op, const char *key, qint64 folderServerID);
    // A deleted folder's create waits out the undo window of its delete.
    bool waitsForFolderDelete(const FNSyncOp &op) const;
    // A folder deleted before it reached the service: nothing of it is sent, and what it held stays,
    // one level up, as the service keeps a deleted folder's contents.
    // `withItsDelete`: nothing is left for that to delete either.
    void dropDeletedFolder(const QString &folderLocalID, bool withItsDelete = false);
    // Puts the folder's pages and subfolders, and what waits to go into it, under its parent;
    // returns how many records moved.
    int moveContentsUp(const FNFolder &folder);
    // Pages (with their blocks) and folders left unsent this session.
    int unsentCount() const;
    QCoro::Task<> restoreRefusedPages();
    QCoro::Task<bool> restoreBlocks(QString pageLocalID, QSet<QString> blocks);
    QCoro::Task<bool> restorePageFields(QString pageLocalID);
    // A send the cycle's cancel ended (a quit, a sign-out) counts nothing; one that may have landed
    // is marked unanswered in the outbox, which the store writes before it goes.
    void recordCancel(const FNSyncOp &op, const std::exception_ptr &error);
    // Whether the failed request was the operation's own send (a create's, not its look at the
    // listing first) and may have reached the service.
    bool mayHaveLanded(const FNSyncOp &op, const std::exception_ptr &error) const;
    // Notes on disk, before its request leaves, that the operation may arrive (Outbox::goingOut).
    void noteGoingOut(const FNSyncOp &op, std::optional<QMap<QString, qint64>> filled = std::nullopt);
    // Marks the queued operation unanswered; a create also keeps the window its send was out in.
    void markUnanswered(FNSyncOp &queued);
    // What an operation changes on the service: operations on one record go out in order.
    using RecordKey = std::pair<QString, QString>;
    RecordKey recordKey(const FNSyncOp &op) const;
    // Whether the operation, failed or waiting out its back-off, holds back the newer ones of its
    // record; the rule is written at its definition.
    static bool holdsNewer(const FNSyncOp &op);
    // `landed` overtook the refused operations of its record: what it set is taken out of theirs of
    // its kind, so none lands over it later; one left with nothing to say is dropped.
    void overrule(const QStringList &refused, const FNSyncOp &landed);
    // Whether the payload reads as its operation's body; one that does not is never sent.
    static bool isReadable(const FNSyncOp &op);
    // Merges each page's queued block upserts into its newest.
    QCoro::Task<> foldBlockUpserts();
    // Takes out of the queued block upserts every item the pulled changes show the service holding
    // as it stands.
    void dropArrivedUpsertItems(const std::vector<SyncOpDTO> &ops);
    QPointer<CancelToken> cancelToken();
    QDateTime now() const;
    void setSyncing(bool syncing);

    LocalStore &m_store;
    ServiceClient &m_client;
    Outbox &m_outbox;
    CancelToken m_cancel;
    bool m_isSyncing = false;
    bool m_running = false;
    bool m_draining = false;
    bool m_leftEditsQueued = false;
    bool m_online = true;
    quint64 m_loopId = 0; // a stopped loop notices a newer id and ends
    // The sign-in of the cycle's latest request, for telling a refusal of a replaced one.
    ServiceClient::Credential m_requestCredential;
    // While a pulled batch is applied: the blocks whose local edits have not reached the service,
    // with the fields changed.
    QHash<QString, qint64> m_unsentEdits;
    // With them, the blocks a pulled delete does not take: those edited in content or kind, and every
    // block above one of them.
    QSet<QString> m_keptByEdits;
    // Whether the batch applied holds a block delete: the only thing m_keptByEdits is read for.
    bool m_deletesPulled = false;
    // While a pulled batch is applied: the blocks whose upsert items its echoes showed landed.
    QSet<QString> m_landedHere;
    // The outbox's revision they were read at, or the pull's own changes brought them up to.
    quint64 m_unsentRevision = 0;
    // Blocks that came back over a delete in the batch applied: the id they had, to their local id.
    QHash<qint64, QString> m_cameBack;
    // Pages whose create was dropped as refused in this push, with the reason (releaseRefusedCreates).
    QHash<QString, QString> m_refusedCreates;
    QHash<QString, QString> m_refusedFolderCreates; // the same for folders (releaseRefusedFolders)
    // The pages and folders a refused create left on this device only.
    QSet<QString> m_unsentPages;
    QSet<QString> m_unsentFolders;
    // Per page waiting to be laid back, its failed reads and when it may be read again.
    struct RestoreWait {
        qint64 attempts = 0;
        QDateTime nextTry;
    };
    QHash<QString, RestoreWait> m_restoreWaits;
    // Why this cycle's pull before the push failed; null when it brought the service's newest copy.
    std::exception_ptr m_freshCopyError;
    // The stray copies' deletes queued when that pull began.
    QSet<QString> m_straysBeforePull;
    bool m_sentInPush = false; // some operation went out in this cycle's push
    // The block upsert being sent: per block, the fields filled from this device's copy.
    QHash<QString, qint64> m_sending;
    QSet<QString> m_repairedPages; // to queue once the pulled page of the feed is in
    // By page, the blocks whose room gave way in the batch, to settle once at its end.
    QHash<QString, QSet<QString>> m_yieldedRoom;
    std::vector<DeferredBlock> m_deferredBlocks;
    // When the create being sent went out (the device's clock); none before it has.
    std::optional<QDateTime> m_createOut;
    // While a pulled batch is applied: the pulled pages that local pages awaiting their id adopt.
    QHash<qint64, QString> m_pageAdoptions;
    // While a pulled batch is applied: the pages with blocks moved here only to make room, not sent
    // yet, and on them the blocks another device placed, by the places they had before that room.
    QSet<QString> m_roomPages;
    // Per block so moved, where the other devices last saw it: before the move, or as pulled.
    QHash<QString, qint64> m_roomBases;
    struct Placed {
        qint64 position = 0; // the place it came with
        qint64 applied = 0;  // when, counted in pulled operations applied
    };
    QHash<QString, QHash<QString, Placed>> m_placedByOthers; // by page
    QHash<QString, qint64> m_ownEchoes; // per block, when its own latest echo was applied
    // During a cycle: the runs of blocks made here and not sent as it started (with the lines typed
    // in them since), in their order, at their places then, and the siblings they came between
    // (`after` empty at the end of the list; a run above every block is not noted).
    struct NewRun {
        QString pageLocalID;
        QString before;
        qint64 beforeAt = 0;
        QString after;
        QStringList blocks;
        std::vector<qint64> at;
    };
    std::vector<NewRun> m_newRuns;
    QHash<QString, std::vector<size_t>> m_runsOnPage; // the runs of each page, by index
    QHash<QString, size_t> m_runOf;                   // each block of a run, to its index
    QSet<QString> m_lookedAt; // blocks made during the cycle whose run was looked for already
    // On those pages, per block pulled in the cycle, when its newest version landed on the service,
    // counted in pulled operations applied.
    QHash<QString, qint64> m_landedAt;
    qint64 m_applied = 0;
    quint64 m_deferredGeneration = 0; // the store generation the deferred operations belong to
    QTimer m_pause;
    QTimer m_queuedCycle;
    // A page's stored blocks queued by the push once the page got its id: the push has read the
    // outbox already, so a cycle follows this one.
    bool m_blocksQueuedInPush = false;
    std::chrono::milliseconds m_queueDelay{0};
    std::coroutine_handle<> m_pausedLoop;
    std::chrono::milliseconds m_tickInterval = kTickInterval;
    std::function<QDateTime()> m_now;
};
