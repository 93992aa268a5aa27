#include "../../bench/bench_state_writes.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "store/outbox.h"
#include "support/test_device.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <stdexcept>

// A pulled batch is one change: one signal naming what changed, one save, and an open page that
// re-reads its own rows; what a batch applied before it failed is kept.
class TestSyncBatch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void batchTellsOnceWhatChanged();
    void batchCutShortKeepsWhatItApplied();
    void pullIsOneChangeOfWhatTheOpsChanged();
    void pullOfNothingNewTellsAndWritesNothing();
    void openPageShowsPulledText();
    void unusableOpsMidBatchLoseNothing();

private:
    // Settles pending saves; the writes of "state.json" meanwhile.
    static int writesUntilSettled(LocalStore &store);
    std::unique_ptr<TestDevice> device();
    FakeService m_fake;
    FakeService::Account m_account;
};

namespace {

struct Spies {
    explicit Spies(LocalStore &store)
        : block(&store, &LocalStore::blockChanged)
        , page(&store, &LocalStore::pageChanged)
        , records(&store, &LocalStore::recordsChanged)
        , state(&store, &LocalStore::stateChanged)
        , batch(&store, &LocalStore::batchApplied)
    {
    }
    BatchChange change() const
    {
        return batch.isEmpty() ? BatchChange{} : batch.last().at(0).value<BatchChange>();
    }
    QSignalSpy block, page, records, state, batch;
};

FNBlock textBlock(const FNPage &page, const QString &text, qint64 serverID)
{
    FNBlock b;
    b.serverID = serverID;
    b.pageServerID = page.serverID;
    b.pageLocalID = page.localID;
    b.contentJSON = QString::fromUtf8(serializeJSONObject({{QStringLiteral("text"), text}}));
    return b;
}

QString textOf(const LocalStore &store, const QString &blockLocalID)
{
    const FNBlock *b = store.block(blockLocalID);
    return b ? TestDevice::textOf(*b) : QString();
}

} // namespace

void TestSyncBatch::initTestCase()
{
    qRegisterMetaType<BatchChange>();
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount("batch@example.com", "secret12", "Batch");
}

void TestSyncBatch::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
}

int TestSyncBatch::writesUntilSettled(LocalStore &store)
{
    const int before = g_stateWrites.load();
    (void)QTest::qWaitFor([&] { return !store.isSavePending(); }, 10000);
    return g_stateWrites.load() - before;
}

std::unique_ptr<TestDevice> TestSyncBatch::device()
{
    auto d = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
    d->engine().setQueueDelay(std::chrono::hours(1)); // cycles only when the test asks
    return d;
}

void TestSyncBatch::batchTellsOnceWhatChanged()
{
    QTemporaryDir dir;
    LocalStore store(dir.path(), std::chrono::milliseconds(5));
    FNPage one, two;
    one.serverID = 1;
    two.serverID = 2;
    store.upsertPage(one);
    store.upsertPage(two);
    const FNBlock edited = textBlock(one, QStringLiteral("a"), 11);
    const FNBlock moved = textBlock(one, QStringLiteral("b"), 12);
    const FNBlock kept = textBlock(one, QStringLiteral("c"), 13);
    const FNBlock deleted = textBlock(two, QStringLiteral("d"), 21);
    for (const FNBlock &b : {edited, moved, kept, deleted})
        store.upsertBlock(b);
    writesUntilSettled(store);

    Spies spies(store);
    FNBlock added = textBlock(one, QStringLiteral("new"), 14);
    store.batch([&] {
        store.editBlock(edited.localID,
                        [](FNBlock &b) { b.contentJSON = QStringLiteral(R"({"text":"A"})"); });
        store.editBlock(moved.localID, [&](FNBlock &b) {
            b.pageLocalID = two.localID;
            b.pageServerID = two.serverID;
        });
        store.markBlockDeleted(deleted.localID);
        store.upsertBlock(added);
        store.editPage(two.localID, [](FNPage &p) { p.title = QStringLiteral("Renamed"); });
        // Lookups inside the batch see its edits at once.
        QCOMPARE(store.blocksOfPage(two.localID).size(), size_t(2));
        QVERIFY(!store.isSavePending());
        QCOMPARE(spies.state.count(), 0);
    });

    QCOMPARE(spies.block.count(), 0);
    QCOMPARE(spies.page.count(), 0);
    QCOMPARE(spies.records.count(), 0);
    QCOMPARE(spies.state.count(), 1);
    QCOMPARE(spies.batch.count(), 1);
    const BatchChange change = spies.change();
    QCOMPARE(change.blocks, (QSet<QString>{edited.localID, moved.localID, deleted.localID, added.localID}));
    QCOMPARE(change.pages, QSet<QString>{two.localID});
    // The moved block leaves a row on its old page and makes one on its new page.
    QCOMPARE(change.blockPages, (QSet<QString>{one.localID, two.localID}));
    QVERIFY(!change.touchesBlock(kept.localID));
    QCOMPARE(writesUntilSettled(store), 1);
    QCOMPARE(store.blocksOfPage(one.localID).size(), size_t(3));
}

void TestSyncBatch::batchCutShortKeepsWhatItApplied()
{
    QTemporaryDir dir;
    FNBlock block;
    {
        LocalStore store(dir.path(), std::chrono::milliseconds(5));
        FNPage page;
        page.serverID = 1;
        store.upsertPage(page);
        block = textBlock(page, QStringLiteral("before"), 11);
        store.upsertBlock(block);
        writesUntilSettled(store);

        Spies spies(store);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, store.batch([&] {
            store.editBlock(block.localID,
                            [](FNBlock &b) { b.contentJSON = QStringLiteral(R"({"text":"after"})"); });
            throw std::runtime_error("cut short");
        }));
        QVERIFY(!store.isInBatch());
        QCOMPARE(spies.batch.count(), 1);
        QVERIFY(spies.change().touchesBlock(block.localID));
        QCOMPARE(spies.state.count(), 1);
        QCOMPARE(writesUntilSettled(store), 1);
        // Later edits are told one by one again.
        store.editBlock(block.localID, [](FNBlock &b) { b.position = 3; });
        QCOMPARE(spies.block.count(), 1);
    }
    LocalStore reloaded(dir.path());
    QCOMPARE(textOf(reloaded, block.localID), QStringLiteral("after"));
}

void TestSyncBatch::pullIsOneChangeOfWhatTheOpsChanged()
{
    auto a = device();
    auto b = device();
    const FNPage page = a->addPage(m_account.workspaceId, QStringLiteral("Shared"));
    QVERIFY(a->sync());
    std::vector<FNBlock> blocks;
    for (int i = 0; i < 5; ++i)
        blocks.push_back(a->addBlock(page.localID, QStringLiteral("Line %1").arg(i), i));
    QVERIFY(a->queueBlockUpsert(page.localID));
    QVERIFY(a->sync());
    QVERIFY(b->sync());
    const FNPage *onB = b->pageWithServerID(a->page(page.localID)->serverID);
    QVERIFY(onB);
    const std::vector<FNBlock> before = b->liveBlocks(onB->localID);
    QCOMPARE(before.size(), size_t(5));
    writesUntilSettled(b->store());

    // The upsert carries every block of the page; only two of them changed.
    a->setBlockText(blocks[1].localID, QStringLiteral("Changed one"));
    a->setBlockText(blocks[3].localID, QStringLiteral("Changed three"));
    QVERIFY(a->queueBlockUpsert(page.localID));
    QVERIFY(a->sync());
    writesUntilSettled(a->store()); // every store of the process writes "state.json"

    Spies spies(b->store());
    QVERIFY(b->sync());
    QCOMPARE(spies.block.count(), 0);
    QCOMPARE(spies.batch.count(), 1);
    const std::vector<FNBlock> after = b->liveBlocks(onB->localID);
    QCOMPARE(after.size(), size_t(5));
    QCOMPARE(spies.change().blocks, (QSet<QString>{after[1].localID, after[3].localID}));
    QCOMPARE(TestDevice::textOf(after[1]), QStringLiteral("Changed one"));
    QCOMPARE(TestDevice::textOf(after[3]), QStringLiteral("Changed three"));
    for (int i : {0, 2, 4})
        QCOMPARE(after[size_t(i)], before[size_t(i)]);
    QCOMPARE(writesUntilSettled(b->store()), 1);
}

void TestSyncBatch::pullOfNothingNewTellsAndWritesNothing()
{
    auto d = device();
    d->addPage(m_account.workspaceId, QStringLiteral("Quiet"));
    QVERIFY(d->sync());
    QVERIFY(d->sync());
    writesUntilSettled(d->store());
    Spies spies(d->store());
    QVERIFY(d->sync());
    QCOMPARE(spies.batch.count(), 0);
    QCOMPARE(spies.block.count() + spies.page.count() + spies.records.count(), 0);
    QCOMPARE(writesUntilSettled(d->store()), 0);
}

void TestSyncBatch::openPageShowsPulledText()
{
    auto a = device();
    auto b = device();
    const FNPage page = a->addPage(m_account.workspaceId, QStringLiteral("Open on B"));
    QVERIFY(a->sync());
    std::vector<FNBlock> blocks;
    for (int i = 0; i < 3; ++i)
        blocks.push_back(a->addBlock(page.localID, QStringLiteral("Row %1").arg(i), i));
    QVERIFY(a->queueBlockUpsert(page.localID));
    QVERIFY(a->sync());
    QVERIFY(b->sync());
    const FNPage *onB = b->pageWithServerID(a->page(page.localID)->serverID);
    QVERIFY(onB);
    const std::vector<FNBlock> rowsOnB = b->liveBlocks(onB->localID);

    PageView view(b->context(), onB->localID);
    view.resize(800, 600);
    view.show();
    QVERIFY(QTest::qWaitFor([&] { return view.isLaidOut() && view.row(rowsOnB[2].localID); }));
    const auto shown = [&](size_t i) { return view.row(rowsOnB[i].localID)->model().text(); };
    QCOMPARE(shown(1), QStringLiteral("Row 1"));

    a->setBlockText(blocks[1].localID, QStringLiteral("Pulled into the open page"));
    QVERIFY(a->queueBlockUpsert(page.localID));
    QVERIFY(a->sync());
    QVERIFY(b->sync());
    QCOMPARE(shown(1), QStringLiteral("Pulled into the open page"));
    QCOMPARE(shown(0), QStringLiteral("Row 0"));
    QCOMPARE(shown(2), QStringLiteral("Row 2"));
    // What came from the service does not go back to it as the page's own edit.
    QTest::qWait(1200);
    QVERIFY(!Outbox::of(b->store()).isQueued(SyncOpKind::BlockUpsert, onB->localID));
}

void TestSyncBatch::unusableOpsMidBatchLoseNothing()
{
    auto d = device();
    FNPage page;
    page.serverID = 8;
    d->store().upsertPage(page);
    const FNBlock first = textBlock(page, QStringLiteral("first"), 80);
    const FNBlock last = textBlock(page, QStringLiteral("last"), 82);
    d->store().upsertBlock(first);
    d->store().upsertBlock(last);
    writesUntilSettled(d->store());

    // Between two good edits: a block whose page comes later in the reply, ops naming nothing, an
    // entity this build does not know, and a delete of a block that is not here.
    auto fault = FakeService::Fault::http(200, R"({"ops":[
        {"entity_type":"block","entity_id":80,"op":"upsert","payload":{"content":{"text":"first pulled"}},"server_ts":1},
        {"entity_type":"block","entity_id":81,"op":"upsert","payload":{"page_id":9,"content":{"text":"early"}},"server_ts":2},
        {"entity_type":"block","entity_id":0,"op":"upsert","payload":{"page_id":8},"server_ts":3},
        {"entity_type":"widget","entity_id":5,"op":"upsert","payload":{"x":1},"server_ts":4},
        {"entity_type":"block","entity_id":999,"op":"delete","server_ts":5},
        {"entity_type":"page","entity_id":9,"op":"upsert","payload":{"title":"Late page"},"server_ts":6},
        {"entity_type":"block","entity_id":82,"op":"upsert","payload":{"content":{"text":"last pulled"}},"server_ts":7}],
        "server_ts":7})");
    fault.remaining = 1;
    m_fake.setFault("/api/sync.php", fault);
    Spies spies(d->store());
    QVERIFY(d->sync());

    QCOMPARE(spies.batch.count(), 1);
    QCOMPARE(d->store().state().cursorServerTs, qint64(7));
    QCOMPARE(writesUntilSettled(d->store()), 1);
    LocalStore reloaded(d->folder());
    QCOMPARE(textOf(reloaded, first.localID), QStringLiteral("first pulled"));
    QCOMPARE(textOf(reloaded, last.localID), QStringLiteral("last pulled"));
    const FNBlock *early = reloaded.blockWithServerID(81);
    QVERIFY(early);
    const FNPage *late = reloaded.pageWithServerID(9);
    QVERIFY(late);
    QCOMPARE(early->pageLocalID, late->localID);
    QCOMPARE(TestDevice::textOf(*early), QStringLiteral("early"));
    QVERIFY(spies.change().touchesBlock(early->localID));
    QVERIFY(spies.change().touchesPage(late->localID));
}

QTEST_MAIN(TestSyncBatch)
#include "tst_sync_batch.moc"
