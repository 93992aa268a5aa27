#include "json/json_coder.h"
#include "json/json_value.h"
#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

BlockUpsertItem paragraph(const QString &clientID, JSONObject content)
{
    BlockUpsertItem item;
    item.client_id = clientID;
    item.type = QStringLiteral("paragraph");
    item.content = std::move(content);
    item.position = 2;
    return item;
}

// Queues one operation of the kind named in the table.
std::optional<FNSyncOp> queue(Outbox &outbox, const QString &kind)
{
    if (kind == QLatin1String("page create")) {
        PageCreateReq req;
        req.workspace_id = 3;
        req.parent_page_id = 8;
        req.title = QStringLiteral("Plans \"Q3\" — ünï");
        req.icon = QStringLiteral("📝");
        req.position = 4;
        return outbox.pageCreate(QStringLiteral("p-local"), req);
    }
    if (kind == QLatin1String("page update, title")) {
        PagePatchReq req;
        req.page_id = 12;
        req.title = QStringLiteral("New");
        return outbox.pageUpdate(QStringLiteral("p-local"), req, Outbox::Unencodable::QueueEmptyObject);
    }
    if (kind == QLatin1String("page update, cover")) {
        PagePatchReq req;
        req.page_id = 12;
        req.cover_url = QStringLiteral("https://x/c.png");
        req.cover_offset_x = -5;
        req.cover_offset_y = 40;
        return outbox.pageUpdate(QStringLiteral("p-local"), req, Outbox::Unencodable::QueueNothing);
    }
    if (kind == QLatin1String("page update, waiting for its id")) {
        PagePatchReq req;
        req.position = 7;
        return outbox.pageUpdate(QStringLiteral("p-local"), req, Outbox::Unencodable::QueueNothing);
    }
    if (kind == QLatin1String("page delete"))
        return outbox.pageDelete(QStringLiteral("p-local"), 12);
    if (kind == QLatin1String("page move to a folder")) {
        FolderMovePageReq req;
        req.page_id = 12;
        req.folder_id = 30;
        return outbox.pageMove(QStringLiteral("p-local"), req);
    }
    if (kind == QLatin1String("page move to the top")) {
        FolderMovePageReq req;
        req.page_id = 12;
        return outbox.pageMove(QStringLiteral("p-local"), req);
    }
    if (kind == QLatin1String("block upsert")) {
        BlocksUpsertReq req;
        req.page_id = 12;
        req.blocks.push_back(
            paragraph(QStringLiteral("b1"), {{QStringLiteral("text"), QStringLiteral("hi")}}));
        BlockUpsertItem child = paragraph(QStringLiteral("b2"), {});
        child.id = 41;
        child.parent_block_id = 40;
        req.blocks.push_back(child);
        return outbox.blocksUpsert(QStringLiteral("p-local"), req);
    }
    if (kind == QLatin1String("block delete"))
        return outbox.blockDelete(QStringLiteral("b-local"), 41);
    if (kind == QLatin1String("folder create")) {
        FolderCreateReq req;
        req.workspace_id = 3;
        req.parent_folder_id = 30;
        req.name = QStringLiteral("Work");
        return outbox.folderCreate(QStringLiteral("f-local"), req);
    }
    if (kind == QLatin1String("folder update")) {
        FolderPatchReq req;
        req.folder_id = 30;
        req.name = QStringLiteral("Home");
        req.position = 1;
        return outbox.folderUpdate(QStringLiteral("f-local"), req);
    }
    qFatal("unknown kind");
}

// Page "P" (server id 5) with blocks `ids` on the service, 1,024 apart.
void seedPage(LocalStore &store, const QStringList &ids)
{
    store.change([&](StoreState &s) {
        FNPage p;
        p.localID = QStringLiteral("P");
        p.serverID = 5;
        s.pages.push_back(p);
        for (qsizetype i = 0; i < ids.size(); ++i) {
            FNBlock b;
            b.localID = ids[i];
            b.serverID = 100 + i;
            b.pageLocalID = p.localID;
            b.pageServerID = 5;
            b.type = QStringLiteral("text");
            b.contentJSON = QStringLiteral(R"({"text":"t"})");
            b.position = i * 1024;
            s.blocks.push_back(b);
        }
    });
}

QStringList upsertedIDs(const FNSyncOp &op)
{
    QStringList ids;
    for (const BlockUpsertItem &item : sharedJSONDecode<BlocksUpsertReq>(op.payloadJSON.toUtf8()).blocks)
        ids << item.client_id;
    return ids;
}

JSONObject nestedDeeperThanAllowed()
{
    JSONObject inner;
    for (int depth = 0; depth < 600; ++depth)
        inner = JSONObject{{QStringLiteral("k"), JSONValue(std::move(inner))}};
    return inner;
}

} // namespace

class TestOutbox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void storesEachOperationAsTheServiceReadsIt_data();
    void storesEachOperationAsTheServiceReadsIt();
    void unencodableBlocksQueueNothing();
    void oneOutboxPerStore();
    void queuedOperationsAreEditedInPlace();
    void kindIsReadFromTheExactPair_data();
    void kindIsReadFromTheExactPair();
    void editMarksAreSavedUntilAnUpsertCarriesThem_data();
    void editMarksAreSavedUntilAnUpsertCarriesThem();
    void settledRoomLeavesNoCheckWithNothingToDo_data();
    void settledRoomLeavesNoCheckWithNothingToDo();
    void sweepDropsChecksWithNothingLeft_data();
    void sweepDropsChecksWithNothingLeft();
    void unmarkedBlockLeavesOnlyItsUpserts();
    void fillChecksAreFoundAfterEveryKindOfChange();
};

void TestOutbox::storesEachOperationAsTheServiceReadsIt_data()
{
    QTest::addColumn<QString>("entity");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("ref");
    QTest::addColumn<QString>("payload");

    QTest::newRow("page create")
        << "page"
        << "create"
        << "p-local"
        << QStringLiteral(
               R"({"workspace_id":3,"parent_page_id":8,"title":"Plans \"Q3\" — ünï","icon":"📝","position":4})");
    QTest::newRow("page update, title") << "page"
                                        << "update"
                                        << "p-local"
                                        << R"({"page_id":12,"title":"New"})";
    QTest::newRow("page update, cover")
        << "page"
        << "update"
        << "p-local"
        << R"({"page_id":12,"cover_url":"https://x/c.png","cover_offset_x":-5,"cover_offset_y":40})";
    QTest::newRow("page update, waiting for its id") << "page"
                                                     << "update"
                                                     << "p-local"
                                                     << R"({"page_id":0,"position":7})";
    QTest::newRow("page delete") << "page"
                                 << "delete"
                                 << "p-local"
                                 << R"({"page_id":12})";
    QTest::newRow("page move to a folder") << "page"
                                           << "move"
                                           << "p-local"
                                           << R"({"page_id":12,"folder_id":30})";
    QTest::newRow("page move to the top") << "page"
                                          << "move"
                                          << "p-local"
                                          << R"({"page_id":12})";
    QTest::newRow("block upsert")
        << "block"
        << "upsert"
        << "p-local"
        << R"({"page_id":12,"blocks":[{"client_id":"b1","type":"paragraph","content":{"text":"hi"},"position":2},)"
           R"({"client_id":"b2","id":41,"type":"paragraph","content":{},"position":2,"parent_block_id":40}]})";
    QTest::newRow("block delete") << "block"
                                  << "delete"
                                  << "b-local"
                                  << R"({"block_id":41})";
    QTest::newRow("folder create") << "folder"
                                   << "create"
                                   << "f-local"
                                   << R"({"workspace_id":3,"parent_folder_id":30,"name":"Work","icon":""})";
    QTest::newRow("folder update") << "folder"
                                   << "update"
                                   << "f-local"
                                   << R"({"folder_id":30,"name":"Home","position":1})";
}

void TestOutbox::storesEachOperationAsTheServiceReadsIt()
{
    QFETCH(QString, entity);
    QFETCH(QString, op);
    QFETCH(QString, ref);
    QFETCH(QString, payload);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    {
        LocalStore store(dir.path(), 0ms);
        Outbox &outbox = Outbox::of(store);
        QSignalSpy queued(&outbox, &Outbox::queued);
        const std::optional<FNSyncOp> made = queue(outbox, QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(made);
        QCOMPARE(made->entity, entity);
        QCOMPARE(made->op, op);
        QCOMPARE(made->refLocalID, ref);
        QCOMPARE(made->payloadJSON, payload);
        QCOMPARE(store.state().outbox, std::vector<FNSyncOp>{*made});
        QCOMPARE(queued.count(), 1);
        QCOMPARE(queued.first().first().value<FNSyncOp>(), *made);
    }
    // Saved: a store opened afresh finds it.
    LocalStore reopened(dir.path(), 0ms);
    QCOMPARE(reopened.state().outbox.size(), size_t(1));
    QCOMPARE(reopened.state().outbox.front().payloadJSON, payload);
}

void TestOutbox::unencodableBlocksQueueNothing()
{
    QTemporaryDir dir;
    LocalStore store(dir.path(), 0ms);
    QSignalSpy queued(&Outbox::of(store), &Outbox::queued);
    BlocksUpsertReq req;
    req.page_id = 12;
    req.blocks.push_back(paragraph(QStringLiteral("b1"), nestedDeeperThanAllowed()));

    QVERIFY(!Outbox::of(store).blocksUpsert(QStringLiteral("p-local"), req));
    QVERIFY(store.state().outbox.empty());
    QCOMPARE(queued.count(), 0);
}

void TestOutbox::oneOutboxPerStore()
{
    QTemporaryDir dir;
    LocalStore first(dir.path(), 1h);
    LocalStore second(dir.path(), 1h);
    QCOMPARE(&Outbox::of(first), &Outbox::of(first));
    QVERIFY(&Outbox::of(first) != &Outbox::of(second));
}

// The edits features make to what waits: each one saved, nothing else in the outbox touched.
void TestOutbox::queuedOperationsAreEditedInPlace()
{
    QTemporaryDir dir;
    std::vector<FNSyncOp> expected;
    {
        LocalStore store(dir.path(), 0ms);
        Outbox &outbox = Outbox::of(store);
        PageCreateReq create;
        create.workspace_id = 3;
        create.title = QStringLiteral("Old");
        const FNSyncOp a = *outbox.pageCreate(QStringLiteral("A"), create);
        FNSyncOp b = *outbox.pageCreate(QStringLiteral("B"), create);
        b.unanswered = true;
        QVERIFY(outbox.replace(b));
        const FNSyncOp aGone = *outbox.pageDelete(QStringLiteral("A"), 0);
        outbox.pageDelete(QStringLiteral("A"), 0);
        const FNSyncOp bGone = *outbox.pageDelete(QStringLiteral("B"), 7);
        FNPage page;
        page.localID = QStringLiteral("A");
        outbox.pageMove(page, 30);
        const FNSyncOp toTop = *outbox.pageMove(page, 0);

        // A waiting create takes the new title, written as a create with that title is; one sent
        // unanswered keeps its body, and the rename must follow it.
        QVERIFY(outbox.retitlePageCreate(QStringLiteral("A"), QStringLiteral("New")));
        create.title = QStringLiteral("New");
        QTemporaryDir other;
        LocalStore fresh(other.path(), 1h);
        QCOMPARE(
            parseJSONObject(outbox.find(a.localID)->payloadJSON.toUtf8()),
            parseJSONObject(Outbox::of(fresh).pageCreate(QStringLiteral("A"), create)->payloadJSON.toUtf8()));
        QVERIFY(!outbox.retitlePageCreate(QStringLiteral("B"), QStringLiteral("New")));
        QCOMPARE(outbox.find(b.localID)->payloadJSON, b.payloadJSON);
        QVERIFY(outbox.retitlePageCreate(QStringLiteral("C"), QStringLiteral("New"))); // none to follow

        QCOMPARE(outbox.queuedRecords(SyncOpKind::PageCreate), (QSet<QString>{"A", "B"}));
        QVERIFY(outbox.isQueued(SyncOpKind::PageDelete, QStringLiteral("B")));
        QVERIFY(!outbox.isQueued(SyncOpKind::PageDelete, QStringLiteral("C")));
        QCOMPARE(outbox.queuedPageMoves(), (QHash<QString, qint64>{{"A", 0}})); // the newest move
        QVERIFY(outbox.find(toTop.localID));

        // Both of A's deletes go, B's stays.
        QVERIFY(outbox.dropPageDeletes(QStringLiteral("A")));
        QVERIFY(!outbox.dropPageDeletes(QStringLiteral("A")));
        QVERIFY(!outbox.find(aGone.localID));
        QVERIFY(outbox.find(bGone.localID));
        QVERIFY(outbox.drop(bGone.localID));
        QVERIFY(!outbox.drop(bGone.localID));
        QVERIFY(!outbox.replace(bGone));
        QCOMPARE(store.state().outbox.size(), size_t(4)); // the two creates and the two moves
        expected = store.state().outbox;
    }
    LocalStore reopened(dir.path(), 0ms);
    const auto saved = [](const std::vector<FNSyncOp> &ops) {
        QStringList out;
        for (const FNSyncOp &op : ops)
            out << op.localID + op.payloadJSON + (op.unanswered ? "unanswered" : "");
        return out;
    };
    QCOMPARE(saved(reopened.state().outbox), saved(expected));
}

void TestOutbox::kindIsReadFromTheExactPair_data()
{
    QTest::addColumn<QString>("entity");
    QTest::addColumn<QString>("op");
    QTest::addColumn<SyncOpKind>("kind");
    QTest::newRow("page create") << "page"
                                 << "create" << SyncOpKind::PageCreate;
    QTest::newRow("page update") << "page"
                                 << "update" << SyncOpKind::PageUpdate;
    QTest::newRow("page delete") << "page"
                                 << "delete" << SyncOpKind::PageDelete;
    QTest::newRow("page move") << "page"
                               << "move" << SyncOpKind::PageMove;
    QTest::newRow("block upsert") << "block"
                                  << "upsert" << SyncOpKind::BlockUpsert;
    QTest::newRow("block delete") << "block"
                                  << "delete" << SyncOpKind::BlockDelete;
    QTest::newRow("folder create") << "folder"
                                   << "create" << SyncOpKind::FolderCreate;
    QTest::newRow("folder update") << "folder"
                                   << "update" << SyncOpKind::FolderUpdate;
    QTest::newRow("case differs") << "Page"
                                  << "create" << SyncOpKind::Other;
    QTest::newRow("pair no build queues") << "block"
                                          << "create" << SyncOpKind::Other;
    QTest::newRow("folder delete") << "folder"
                                   << "delete" << SyncOpKind::FolderDelete;
    QTest::newRow("page parent") << "page"
                                 << "parent" << SyncOpKind::PageParent;
}

void TestOutbox::kindIsReadFromTheExactPair()
{
    QFETCH(QString, entity);
    QFETCH(QString, op);
    QFETCH(SyncOpKind, kind);
    FNSyncOp queued;
    queued.entity = entity;
    queued.op = op;
    QCOMPARE(queued.kind(), kind);
}

void TestOutbox::editMarksAreSavedUntilAnUpsertCarriesThem_data()
{
    QTest::addColumn<bool>("reopened"); // the store read back from its file before the upsert
    QTest::newRow("same launch") << false;
    QTest::newRow("after a relaunch") << true;
}

// What a block edit changed is part of the saved state from the moment the edit is stored, and
// moves into the upsert that carries it in one change: no save holds an edit without what will send it.
void TestOutbox::editMarksAreSavedUntilAnUpsertCarriesThem()
{
    QFETCH(bool, reopened);
    QTemporaryDir dir;
    auto store = std::make_unique<LocalStore>(dir.path());
    const QString page = QStringLiteral("P");
    store->change([&](StoreState &s) {
        FNPage p;
        p.localID = page;
        p.serverID = 5;
        s.pages.push_back(p);
        for (const char *id : {"x", "y", "z"}) {
            FNBlock b;
            b.localID = QString::fromLatin1(id);
            b.serverID = 40 + int(b.localID.at(0).unicode());
            b.pageLocalID = page;
            b.pageServerID = 5;
            b.type = QStringLiteral("text");
            b.contentJSON = QStringLiteral(R"({"text":"t"})");
            s.blocks.push_back(b);
        }
    });
    Outbox &outbox = Outbox::of(*store);
    outbox.blockEdited(page, QStringLiteral("x"), BlockFields::Content);
    outbox.blocksEdited(page, {QStringLiteral("x"), QStringLiteral("y")}, BlockFields::Place);
    outbox.blockEdited(page, QStringLiteral("z"), 0); // an indent: nothing the service keeps
    const QHash<QString, qint64> expected{{QStringLiteral("x"), BlockFields::Content | BlockFields::Place},
                                          {QStringLiteral("y"), BlockFields::Place}};
    QCOMPARE(outbox.editedBlocks(page), expected);
    QCOMPARE(outbox.blocksWithUnsentEdits(), expected);
    if (reopened) {
        store->save();
        store = std::make_unique<LocalStore>(dir.path());
        QCOMPARE(Outbox::of(*store).editedBlocks(page), expected);
    }

    // The upsert takes the marks with it; the state is saved with one or the other, never neither.
    QSignalSpy queued(&Outbox::of(*store), &Outbox::queued);
    QCOMPARE(Outbox::of(*store).pageBlocksUpsert(page).outcome, Outbox::PageBlocksOutcome::Queued);
    QCOMPARE(queued.size(), 1);
    QVERIFY(store->state().editedBlocks.empty());
    const FNSyncOp op = store->state().outbox.back();
    QMap<QString, qint64> carried;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        carried.insert(it.key(), it.value());
    QCOMPARE(op.carriedFields, std::optional(carried));
    const BlocksUpsertReq req = sharedJSONDecode<BlocksUpsertReq>(op.payloadJSON.toUtf8());
    QCOMPARE(req.blocks.size(), size_t(2));
    // Until it reaches the service, the pull keeps what it carries.
    QCOMPARE(Outbox::of(*store).blocksWithUnsentEdits(), expected);
}

void TestOutbox::settledRoomLeavesNoCheckWithNothingToDo_data()
{
    QTest::addColumn<qint64>("filled");   // by a push that may have landed
    QTest::addColumn<qint64>("repaired"); // put back to another device's write, not sent yet
    QTest::addColumn<bool>("kept");
    QTest::newRow("room only, given way") << qint64(0) << qint64(0) << false;
    QTest::newRow("a push may have filled its text") << qint64(BlockFields::Content) << qint64(0) << true;
    QTest::newRow("its text put back waits to go") << qint64(0) << qint64(BlockFields::Content) << true;
}

// A block moved here only to make room gives way to the place another device chose: its check goes
// unless a push that may have landed or a field put back still needs it, and the saved state agrees.
void TestOutbox::settledRoomLeavesNoCheckWithNothingToDo()
{
    QFETCH(qint64, filled);
    QFETCH(qint64, repaired);
    QFETCH(bool, kept);
    QTemporaryDir dir;
    auto store = std::make_unique<LocalStore>(dir.path());
    seedPage(*store, {QStringLiteral("x"), QStringLiteral("y")});
    Outbox &outbox = Outbox::of(*store);
    const QString page = QStringLiteral("P");
    outbox.noteRoomMoves(page, {{QStringLiteral("x"), 1024}, {QStringLiteral("y"), 2048}});
    if (filled)
        outbox.noteFilled(QStringLiteral("x"), filled);
    if (repaired)
        outbox.noteRepaired(QStringLiteral("x"), repaired);
    outbox.noteOtherVersion(QStringLiteral("x"), BlockFields::All,
                            {{QStringLiteral("position"), qint64(9000)}});
    outbox.unmarkFields(page, QStringLiteral("x"), BlockFields::Room);
    outbox.dropRoomFrom(QStringLiteral("x"));

    store->save();
    store = std::make_unique<LocalStore>(dir.path());
    const FNFillCheck *check = Outbox::of(*store).fillCheck(QStringLiteral("x"));
    QCOMPARE(check != nullptr, kept);
    if (check) {
        QVERIFY(!check->roomFrom);
        QCOMPARE(check->fields, filled);
        QCOMPARE(check->repaired, repaired);
    }
    // The other block's room still waits.
    QCOMPARE(Outbox::of(*store).fillCheck(QStringLiteral("y"))->roomFrom, std::optional<qint64>(2048));
    QCOMPARE(store->state().fillChecks.size(), size_t(kept ? 2 : 1));
}

void TestOutbox::sweepDropsChecksWithNothingLeft_data()
{
    QTest::addColumn<qint64>("fields");
    QTest::addColumn<qint64>("repaired");
    QTest::addColumn<bool>("room");
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<bool>("kept");
    QTest::newRow("only another device's version") << qint64(0) << qint64(0) << false << false << false;
    QTest::newRow("a push may have filled its place")
        << qint64(BlockFields::Place) << qint64(0) << false << false << true;
    QTest::newRow("its kind put back waits to go")
        << qint64(0) << qint64(BlockFields::Kind) << false << false << true;
    QTest::newRow("its room waits") << qint64(0) << qint64(0) << true << false << true;
    QTest::newRow("its block deleted") << qint64(BlockFields::Place) << qint64(0) << false << true << false;
}

// The sweep after each pull takes the checks of blocks gone and those with nothing left to check,
// such as older builds left behind in the file, and keeps the rest.
void TestOutbox::sweepDropsChecksWithNothingLeft()
{
    QFETCH(qint64, fields);
    QFETCH(qint64, repaired);
    QFETCH(bool, room);
    QFETCH(bool, deleted);
    QFETCH(bool, kept);
    QTemporaryDir dir;
    LocalStore store(dir.path());
    seedPage(store, {QStringLiteral("x"), QStringLiteral("y")});
    store.change([&](StoreState &s) {
        FNFillCheck check{QStringLiteral("x"), fields, JSONObject{{QStringLiteral("position"), qint64(7)}}};
        check.repaired = repaired;
        if (room)
            check.roomFrom = 1024;
        s.fillChecks.push_back(check);
        s.fillChecks.push_back(FNFillCheck{QStringLiteral("y"), BlockFields::Content, std::nullopt});
    });
    if (deleted)
        store.markBlockDeleted(QStringLiteral("x"));
    Outbox &outbox = Outbox::of(store);
    outbox.dropMarksOfGoneBlocks();
    QCOMPARE(outbox.fillCheck(QStringLiteral("x")) != nullptr, kept);
    QVERIFY(outbox.fillCheck(QStringLiteral("y")));
}

// Taking a field out of one block touches only the queued upserts that carry it: the block leaves
// the one left carrying nothing of it, which goes when it carries nothing else, and the others keep
// every block they carry.
void TestOutbox::unmarkedBlockLeavesOnlyItsUpserts()
{
    QTemporaryDir dir;
    LocalStore store(dir.path());
    seedPage(store, {QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z")});
    Outbox &outbox = Outbox::of(store);
    const QString page = QStringLiteral("P");
    outbox.blocksEdited(page, {QStringLiteral("x"), QStringLiteral("y")}, BlockFields::Room);
    QCOMPARE(outbox.pageBlocksUpsert(page).outcome, Outbox::PageBlocksOutcome::Queued);
    outbox.blocksEdited(page, {QStringLiteral("y"), QStringLiteral("z")}, BlockFields::Content);
    QCOMPARE(outbox.pageBlocksUpsert(page).outcome, Outbox::PageBlocksOutcome::Queued);
    const QString rooms = store.state().outbox[0].localID;
    const QString texts = store.state().outbox[1].localID;

    outbox.unmarkFields(page, QStringLiteral("x"), BlockFields::Room);
    QCOMPARE(upsertedIDs(*outbox.find(rooms)), QStringList{QStringLiteral("y")});
    QCOMPARE(outbox.find(rooms)->carriedFields->keys(), QStringList{QStringLiteral("y")});
    QCOMPARE(upsertedIDs(*outbox.find(texts)), (QStringList{QStringLiteral("y"), QStringLiteral("z")}));

    outbox.unmarkFields(page, QStringLiteral("y"), BlockFields::Room);
    QVERIFY(!outbox.find(rooms));
    QCOMPARE(upsertedIDs(*outbox.find(texts)), (QStringList{QStringLiteral("y"), QStringLiteral("z")}));
    const QHash<QString, qint64> unsent{{QStringLiteral("y"), BlockFields::Content},
                                        {QStringLiteral("z"), BlockFields::Content}};
    QCOMPARE(outbox.blocksWithUnsentEdits(), unsent);
}

// Checks are found by their block however the list changed: added and dropped here, read back from
// the file, replaced by a bulk edit, emptied by a reset.
void TestOutbox::fillChecksAreFoundAfterEveryKindOfChange()
{
    QTemporaryDir dir;
    auto store = std::make_unique<LocalStore>(dir.path());
    Outbox *outbox = &Outbox::of(*store);
    const auto id = [](int i) { return QStringLiteral("b%1").arg(i); };
    for (int i = 0; i < 50; ++i)
        outbox->noteFilled(id(i), BlockFields::Content);
    QSet<QString> dropped;
    for (int i = 0; i < 50; i += 3)
        dropped.insert(id(i));
    outbox->dropFillChecks(dropped);
    outbox->noteFilled(id(2), 0);
    outbox->noteRepaired(id(60), BlockFields::Kind);
    const auto found = [&](int i) {
        const FNFillCheck *check = outbox->fillCheck(id(i));
        return check && check->blockLocalID == id(i);
    };
    for (const bool reopened : {false, true}) {
        if (reopened) {
            store->save();
            store = std::make_unique<LocalStore>(dir.path());
            outbox = &Outbox::of(*store);
        }
        for (int i = 0; i < 50; ++i)
            QVERIFY2(found(i) == (i % 3 != 0 && i != 2), qPrintable(id(i)));
        QCOMPARE(outbox->fillCheck(id(60))->repaired, qint64(BlockFields::Kind));
    }

    store->change([&](StoreState &s) {
        s.fillChecks = {FNFillCheck{id(70), BlockFields::Place, std::nullopt},
                        FNFillCheck{id(1), BlockFields::Kind, std::nullopt}};
    });
    QVERIFY(found(70));
    QCOMPARE(outbox->fillCheck(id(1))->fields, qint64(BlockFields::Kind));
    QVERIFY(!found(4));
    store->reset();
    QVERIFY(!found(70));
    outbox->noteFilled(id(80), BlockFields::Content);
    QVERIFY(found(80));
    QCOMPARE(store->state().fillChecks.size(), size_t(1));
}

QTEST_GUILESS_MAIN(TestOutbox)
#include "tst_outbox.moc"
