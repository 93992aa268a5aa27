#include "editor/block_row_model.h"
#include "editor/page_block_list.h"
#include "fake-service/fake_service.h"
#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "support/test_device.h"

#include <QTest>

// Two devices of one account against one service: what one writes, the other sees.
class TestSyncTwoClients : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void offlineEditsReachTheOtherDevice();
    void otherAccountSeesNothing();
    void cappedPullsCatchUpInOrder();
    void editsOfOnePageOnBothDevicesSurvive_data();
    void editsOfOnePageOnBothDevicesSurvive();
    void aStaleCopyWrittenOverTheOtherDevicesChangeIsPutBack_data();
    void aStaleCopyWrittenOverTheOtherDevicesChangeIsPutBack();
    void aLostMoveTheOtherDeviceMadeTooLeavesNothingToCheck();
    void aPushThatChangesNothingLeavesNothingToCheck();
    void oldFullListUpsertsStillSend();
    void aPullAnsweredLateLandsWhole_data();
    void aPullAnsweredLateLandsWhole();

private:
    // A page of "alpha", "beta", "gamma" made on `a` and pulled by `b`; its local id on each.
    struct SharedPage {
        qint64 id = 0;
        QString onA;
        QString onB;
    };
    SharedPage sharePage(TestDevice &a, TestDevice &b);

    FakeService m_fake;
    FakeService::Account m_alice;
    FakeService::Account m_bob;
};

void TestSyncTwoClients::initTestCase()
{
    QVERIFY(m_fake.start());
    m_alice = m_fake.createAccount("alice@example.com", "secret12", "Alice");
    m_bob = m_fake.createAccount("bob@example.com", "secret12", "Bob");
}

void TestSyncTwoClients::offlineEditsReachTheOtherDevice()
{
    TestDevice a(m_fake.origin(), m_alice.token);
    TestDevice b(m_fake.origin(), m_fake.issueToken(m_alice.userId, "laptop"));
    QDateTime now = QDateTime::currentDateTimeUtc();
    a.engine().setClock([&] { return now; });

    // A works offline: a page with two blocks, then a title change.
    m_fake.setOffline(true);
    const FNPage page = a.addPage(m_alice.workspaceId, "Groceries");
    const FNBlock milk = a.addBlock(page.localID, "milk", 0);
    const FNBlock eggs = a.addBlock(page.localID, "eggs", 1);
    QVERIFY(!a.sync());
    QCOMPARE(a.store().state().outbox.size(), size_t(1));

    QCOMPARE(a.store().state().outbox[0].attempts, qint64(1));

    // Back online: once its wait is over the create lands; the blocks go in the next upsert.
    m_fake.setOffline(false);
    m_fake.clearRequests();
    QVERIFY(a.sync());
    QCOMPARE(m_fake.requestsTo("/api/pages.php").size(), 0);
    now = now.addSecs(2);
    QVERIFY(a.sync());
    QVERIFY(a.queueBlockUpsert(page.localID));
    QVERIFY(a.sync());
    QVERIFY(a.store().state().outbox.empty());

    QVERIFY(b.sync());
    const qint64 pageId = a.page(page.localID)->serverID;
    const FNPage *seen = b.pageWithServerID(pageId);
    QVERIFY(seen);
    QCOMPARE(seen->title, QStringLiteral("Groceries"));
    auto blocks = b.liveBlocks(seen->localID);
    QCOMPARE(blocks.size(), size_t(2));
    QCOMPARE(TestDevice::textOf(blocks[0]), QStringLiteral("milk"));
    QCOMPARE(TestDevice::textOf(blocks[1]), QStringLiteral("eggs"));

    // B edits a block and renames the page; A sees both.
    b.setBlockText(blocks[1].localID, "free-range eggs");
    QVERIFY(b.queueBlockUpsert(seen->localID));
    PagePatchReq rename;
    rename.title = QStringLiteral("Shopping");
    b.queuePageUpdate(seen->localID, rename);
    QVERIFY(b.sync());
    QVERIFY(b.store().state().outbox.empty());
    QVERIFY(a.sync());
    QCOMPARE(a.page(page.localID)->title, QStringLiteral("Shopping"));
    QCOMPARE(TestDevice::textOf(*a.block(eggs.localID)), QStringLiteral("free-range eggs"));
    QCOMPARE(a.liveBlocks(page.localID).size(), size_t(2)); // matched by server id, no duplicates

    // A deletes a block, then the page; B follows.
    a.queueBlockDelete(milk.localID);
    QVERIFY(a.sync());
    QVERIFY(b.sync());
    QCOMPARE(b.liveBlocks(seen->localID).size(), size_t(1));
    a.queuePageDelete(page.localID);
    QVERIFY(a.sync());
    QVERIFY(a.store().state().outbox.empty());
    QVERIFY(b.sync());
    QVERIFY(b.pageWithServerID(pageId)->deletedAt.has_value());
}

void TestSyncTwoClients::otherAccountSeesNothing()
{
    TestDevice a(m_fake.origin(), m_alice.token);
    TestDevice other(m_fake.origin(), m_bob.token);
    a.addPage(m_alice.workspaceId, "Private");
    QVERIFY(a.sync());
    QVERIFY(other.sync());
    for (const auto &p : other.store().state().pages)
        QVERIFY(p.title != QStringLiteral("Private"));
}

void TestSyncTwoClients::cappedPullsCatchUpInOrder()
{
    m_fake.setSyncPageSize(3);
    TestDevice a(m_fake.origin(), m_alice.token);
    for (int i = 0; i < 7; ++i)
        a.addPage(m_alice.workspaceId, QStringLiteral("Page %1").arg(i));
    QVERIFY(a.sync());
    TestDevice b(m_fake.origin(), m_fake.issueToken(m_alice.userId));
    qint64 lastCursor = -1;
    for (int i = 0; i < 10 && b.store().state().cursorServerTs != lastCursor; ++i) {
        lastCursor = b.store().state().cursorServerTs;
        QVERIFY(b.sync());
    }
    int found = 0;
    for (const auto &p : b.store().state().pages)
        found += p.title.startsWith(QStringLiteral("Page ")) ? 1 : 0;
    QCOMPARE(found, 7);
    m_fake.setSyncPageSize(500);
}

namespace {

QStringList storedTexts(FakeService &fake, qint64 pageId)
{
    QStringList texts;
    for (const auto &b : fake.storedBlocks(pageId))
        texts << b.content.at(QStringLiteral("text")).toString();
    return texts;
}

QStringList deviceTexts(const TestDevice &device, const QString &pageLocalID)
{
    QStringList texts;
    for (const FNBlock &b : device.liveBlocks(pageLocalID))
        texts << TestDevice::textOf(b);
    return texts;
}

} // namespace

TestSyncTwoClients::SharedPage TestSyncTwoClients::sharePage(TestDevice &a, TestDevice &b)
{
    SharedPage shared;
    const FNPage page = a.addPage(m_alice.workspaceId, "Shared");
    a.addBlock(page.localID, "alpha", 0);
    a.addBlock(page.localID, "beta", 1);
    a.addBlock(page.localID, "gamma", 2);
    [&] {
        QVERIFY(a.sync()); // the page gets its id and queues its blocks
        QVERIFY(a.sync());
        QVERIFY(a.store().state().outbox.empty());
        shared.id = a.page(page.localID)->serverID;
        QCOMPARE(storedTexts(m_fake, shared.id), QStringList({"alpha", "beta", "gamma"}));
        QVERIFY(b.sync());
        const FNPage *onB = b.pageWithServerID(shared.id);
        QVERIFY(onB);
        shared.onB = onB->localID;
        QCOMPARE(deviceTexts(b, shared.onB), QStringList({"alpha", "beta", "gamma"}));
    }();
    shared.onA = page.localID;
    return shared;
}

void TestSyncTwoClients::editsOfOnePageOnBothDevicesSurvive_data()
{
    QTest::addColumn<QString>("editOnA"); // block index and text, or "new" for a block A adds
    QTest::addColumn<QString>("editOnB");
    QTest::addColumn<bool>("aPushesFirst");
    QTest::addColumn<QStringList>("expected");
    const QStringList both{"alpha A", "beta", "gamma B"};
    QTest::newRow("different blocks, A first") << "0:alpha A"
                                               << "2:gamma B" << true << both;
    QTest::newRow("different blocks, B first") << "0:alpha A"
                                               << "2:gamma B" << false << both;
    QTest::newRow("new block on A, A first")
        << "new"
        << "2:gamma B" << true << QStringList{"alpha", "beta", "gamma B", "delta"};
    QTest::newRow("new block on A, B first")
        << "new"
        << "2:gamma B" << false << QStringList{"alpha", "beta", "gamma B", "delta"};
    QTest::newRow("same block, B pushes later")
        << "1:beta A"
        << "1:beta B" << true << QStringList{"alpha", "beta B", "gamma"};
    QTest::newRow("same block, A pushes later")
        << "1:beta A"
        << "1:beta B" << false << QStringList{"alpha", "beta A", "gamma"};
    // A changes the page's order while B types into lines whose places move: neither undoes the
    // other, whichever pushes first.
    const struct {
        const char *name;
        const char *onA;
        const char *onB;
        QStringList expected;
    } reorders[] = {
        {"line added after the first", "insert:0", "2:gamma B", {"alpha", "new", "beta", "gamma B"}},
        {"line added after the first, typed below it",
         "insert:0",
         "1:beta B",
         {"alpha", "new", "beta B", "gamma"}},
        {"line removed", "delete:1", "2:gamma B", {"alpha", "gamma B"}},
        {"last line dragged to the top", "drag:2:0", "2:gamma B", {"gamma B", "alpha", "beta"}},
        {"first line dragged to the end", "drag:0:3", "1:beta B", {"beta B", "gamma", "alpha"}},
        {"line indented", "indent:1", "1:beta B", {"alpha", "beta B", "gamma"}},
    };
    for (const auto &r : reorders) {
        for (const bool aFirst : {true, false}) {
            QTest::addRow("%s, %s pushes first", r.name, aFirst ? "A" : "B")
                << r.onA << r.onB << aFirst << r.expected;
        }
    }
}

// Both devices edit one page within one cycle: each keeps the other's work, and the screen, the
// store and the service agree. Where both edit one block, the later push wins everywhere.
void TestSyncTwoClients::editsOfOnePageOnBothDevicesSurvive()
{
    QFETCH(QString, editOnA);
    QFETCH(QString, editOnB);
    QFETCH(bool, aPushesFirst);
    QFETCH(QStringList, expected);

    TestDevice a(m_fake.origin(), m_alice.token);
    TestDevice b(m_fake.origin(), m_fake.issueToken(m_alice.userId, "laptop"));
    const SharedPage shared = sharePage(a, b);
    if (QTest::currentTestFailed())
        return;
    const qint64 pageId = shared.id;
    const FNPage page = *a.page(shared.onA);
    const QString pageOnB = shared.onB;

    const auto edit = [](TestDevice &device, const QString &pageLocalID, const QString &what) {
        const QStringList parts = what.split(QLatin1Char(':'));
        const auto blockAt = [&](int index) { return device.liveBlocks(pageLocalID).at(size_t(index)); };
        PageBlockList list(device.store(), pageLocalID);
        if (what == QLatin1String("new")) {
            device.addBlock(pageLocalID, "delta", 3);
        } else if (parts[0] == QLatin1String("insert")) {
            QVERIFY(list.insertBlockAfter(blockAt(parts[1].toInt()), QStringLiteral("text"),
                                          QStringLiteral("new")));
        } else if (parts[0] == QLatin1String("delete")) {
            QVERIFY(list.deleteBlockIfEmpty(blockAt(parts[1].toInt())));
        } else if (parts[0] == QLatin1String("drag")) {
            QVERIFY(list.moveBlockOnDrop(blockAt(parts[1].toInt()).localID, parts[2].toInt()));
        } else if (parts[0] == QLatin1String("indent")) {
            BlockRowModel row(device.store(), blockAt(parts[1].toInt()), nullptr, {});
            row.changeIndent(1);
            // Nothing of an indent goes to the service, so nothing may be queued for it.
            QVERIFY(device.queueBlockUpsert(pageLocalID));
            QVERIFY(device.store().state().outbox.empty());
            return;
        } else {
            const int index = what.section(QLatin1Char(':'), 0, 0).toInt();
            device.setBlockText(device.liveBlocks(pageLocalID).at(size_t(index)).localID,
                                what.section(QLatin1Char(':'), 1));
        }
        QVERIFY(device.queueBlockUpsert(pageLocalID));
    };
    // Only the test's own syncs run, in the order it names: a cycle the queuing set off would race
    // the other device's.
    a.engine().setQueueDelay(std::chrono::hours(1));
    b.engine().setQueueDelay(std::chrono::hours(1));
    edit(a, page.localID, editOnA);
    edit(b, pageOnB, editOnB);

    TestDevice &first = aPushesFirst ? a : b;
    TestDevice &second = aPushesFirst ? b : a;
    QVERIFY(first.sync());
    QVERIFY(second.sync());
    QVERIFY(first.sync());
    QVERIFY(second.sync());
    QVERIFY(a.store().state().outbox.empty());
    QVERIFY(b.store().state().outbox.empty());

    QCOMPARE(storedTexts(m_fake, pageId), expected);
    QCOMPARE(deviceTexts(a, page.localID), expected);
    QCOMPARE(deviceTexts(b, pageOnB), expected);
}

void TestSyncTwoClients::aStaleCopyWrittenOverTheOtherDevicesChangeIsPutBack_data()
{
    QTest::addColumn<bool>("aTypes"); // else A drags and B types
    QTest::newRow("A types, B drags") << true;
    QTest::newRow("A drags, B types") << false;
}

// A reads the service's copy of a block to fill what it did not change, B's change lands, and A's
// push then writes the copy read over it. The echo of A's push shows it, and A puts B's change back.
void TestSyncTwoClients::aStaleCopyWrittenOverTheOtherDevicesChangeIsPutBack()
{
    QFETCH(bool, aTypes);
    TestDevice a(m_fake.origin(), m_alice.token);
    TestDevice b(m_fake.origin(), m_fake.issueToken(m_alice.userId, "laptop"));
    const SharedPage shared = sharePage(a, b);
    if (QTest::currentTestFailed())
        return;
    a.engine().setQueueDelay(std::chrono::hours(1));
    b.engine().setQueueDelay(std::chrono::hours(1));
    const auto type = [](TestDevice &d, const QString &page) {
        d.setBlockText(d.liveBlocks(page).at(1).localID, "beta typed");
        QVERIFY(d.queueBlockUpsert(page));
    };
    const auto drag = [](TestDevice &d, const QString &page) {
        QVERIFY(PageBlockList(d.store(), page).moveBlockOnDrop(d.liveBlocks(page).at(1).localID, 0));
        QVERIFY(d.queueBlockUpsert(page));
    };
    (aTypes ? type : drag)(a, shared.onA);
    (aTypes ? drag : type)(b, shared.onB);

    // A's read of the page waits while B sends its change whole.
    auto held = FakeService::Fault::held();
    held.method = "GET";
    held.remaining = 1;
    m_fake.setFault(QStringLiteral("/api/blocks.php"), held);
    const qsizetype before = m_fake.requestsTo(QStringLiteral("/api/blocks.php")).size();
    SyncEngine::syncQuietly(&a.engine());
    QTRY_COMPARE(m_fake.requestsTo(QStringLiteral("/api/blocks.php")).size(), before + 1);
    QVERIFY(b.sync());
    m_fake.releaseHeldAnswers();
    QTRY_VERIFY(!a.engine().isSyncing());
    m_fake.clearFaults();

    for (int round = 0; round < 2; ++round) {
        QVERIFY(a.sync());
        QVERIFY(b.sync());
    }
    const QStringList both{"beta typed", "alpha", "gamma"};
    QCOMPARE(storedTexts(m_fake, shared.id), both);
    QCOMPARE(deviceTexts(a, shared.onA), both);
    QCOMPARE(deviceTexts(b, shared.onB), both);
    QVERIFY(a.store().state().outbox.empty());
    QVERIFY(b.store().state().outbox.empty());
}

// A's move of a block is lost on its way and B moves the block to the same place: A's pull finds it
// there, so nothing of A's goes again, and nothing of A's landed to check against B's write.
void TestSyncTwoClients::aLostMoveTheOtherDeviceMadeTooLeavesNothingToCheck()
{
    TestDevice a(m_fake.origin(), m_alice.token);
    TestDevice b(m_fake.origin(), m_fake.issueToken(m_alice.userId, "laptop"));
    const SharedPage shared = sharePage(a, b);
    if (QTest::currentTestFailed())
        return;
    a.engine().setQueueDelay(std::chrono::hours(1));
    b.engine().setQueueDelay(std::chrono::hours(1));
    constexpr qint64 kTop = -4096;
    const auto moveToTop = [&](TestDevice &d, const QString &page) {
        const QString id = d.liveBlocks(page).at(2).localID;
        d.store().editBlock(id, [&](FNBlock &block) { block.position = kTop; });
        Outbox::of(d.store()).blockEdited(page, id, BlockFields::Place);
        QVERIFY(d.queueBlockUpsert(page));
    };
    moveToTop(a, shared.onA);
    auto lost = FakeService::Fault::drop();
    lost.method = "POST";
    lost.remaining = 1;
    m_fake.setFault(QStringLiteral("/api/blocks.php"), lost);
    a.sync();
    m_fake.clearFaults();
    QVERIFY(!a.store().state().fillChecks.empty()); // the move may have landed
    moveToTop(b, shared.onB);
    QVERIFY(b.sync());

    for (int round = 0; round < 2; ++round)
        QVERIFY(a.sync());
    const QStringList moved{"gamma", "alpha", "beta"};
    QCOMPARE(storedTexts(m_fake, shared.id), moved);
    QCOMPARE(deviceTexts(a, shared.onA), moved);
    QVERIFY(a.store().state().outbox.empty());
    QCOMPARE(a.store().state().fillChecks.size(), size_t(0));
}

// An outbox written by an older build carries every block of the page in each upsert: it still
// goes out, folded into one request.
// B moves a block; A, which pulls that move first, sends another block with the text it already had
// (an edit typed and taken back). The service writes no version for a write that changes nothing, so
// no echo of A's push ever comes: the pull to the feed's end shows it wrote over nothing.
void TestSyncTwoClients::aPushThatChangesNothingLeavesNothingToCheck()
{
    TestDevice a(m_fake.origin(), m_alice.token);
    TestDevice b(m_fake.origin(), m_fake.issueToken(m_alice.userId, "laptop"));
    const SharedPage shared = sharePage(a, b);
    if (QTest::currentTestFailed())
        return;
    a.engine().setQueueDelay(std::chrono::hours(1));
    b.engine().setQueueDelay(std::chrono::hours(1));
    const QString gammaOnB = b.liveBlocks(shared.onB).at(2).localID;
    b.store().editBlock(gammaOnB, [](FNBlock &block) { block.position = -4096; });
    Outbox::of(b.store()).blockEdited(shared.onB, gammaOnB, BlockFields::Place);
    QVERIFY(b.queueBlockUpsert(shared.onB));
    QVERIFY(b.sync());

    const QString betaOnA = a.liveBlocks(shared.onA).at(1).localID;
    a.setBlockText(betaOnA, QStringLiteral("beta"));
    QVERIFY(a.queueBlockUpsert(shared.onA));
    const qsizetype pushes = m_fake.requestsTo(QStringLiteral("/api/blocks.php")).size();
    QVERIFY(a.sync());
    QCOMPARE(m_fake.requestsTo(QStringLiteral("/api/blocks.php")).size(), pushes + 1);
    const QStringList moved{"gamma", "alpha", "beta"};
    QCOMPARE(storedTexts(m_fake, shared.id), moved);
    QCOMPARE(deviceTexts(a, shared.onA), moved);
    QVERIFY(a.store().state().outbox.empty());
    QCOMPARE(a.store().state().fillChecks.size(), size_t(0));
}

void TestSyncTwoClients::oldFullListUpsertsStillSend()
{
    TestDevice a(m_fake.origin(), m_alice.token);
    const FNPage page = a.addPage(m_alice.workspaceId, "Older");
    const FNBlock one = a.addBlock(page.localID, "one", 0);
    QVERIFY(a.sync());
    QVERIFY(a.sync());
    const qint64 pageId = a.page(page.localID)->serverID;
    const qint64 oneId = a.block(one.localID)->serverID;
    QVERIFY(oneId != 0);
    const QString full = QStringLiteral(R"({"page_id":%1,"blocks":[{"client_id":"%2","id":%3,"type":"text",)"
                                        R"("content":{"text":"one, edited"},"position":0}]})")
                             .arg(pageId)
                             .arg(one.localID)
                             .arg(oneId);
    a.queueRaw("block", "upsert", page.localID, full);
    const FNBlock two = a.addBlock(page.localID, "two", 1);
    const QString later =
        QStringLiteral(R"({"page_id":%1,"blocks":[{"client_id":"%2","id":%3,"type":"text",)"
                       R"("content":{"text":"one, edited"},"position":0},{"client_id":"%4",)"
                       R"("type":"text","content":{"text":"two"},"position":1}]})")
            .arg(pageId)
            .arg(one.localID)
            .arg(oneId)
            .arg(two.localID);
    a.queueRaw("block", "upsert", page.localID, later);
    m_fake.clearRequests();
    QVERIFY(a.sync());
    QCOMPARE(m_fake.requestsTo("/api/blocks.php").size(), 1);
    QVERIFY(a.store().state().outbox.empty());
    QCOMPARE(storedTexts(m_fake, pageId), QStringList({"one, edited", "two"}));
}

void TestSyncTwoClients::aPullAnsweredLateLandsWhole_data()
{
    QTest::addColumn<QString>("editOnB"); // block index and text B types while its pull waits, or ""
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("nothing typed") << "" << QStringList{"alpha A", "beta", "gamma"};
    QTest::newRow("the pulled block typed over") << "0:alpha B" << QStringList{"alpha B", "beta", "gamma"};
    QTest::newRow("another block typed") << "2:gamma B" << QStringList{"alpha A", "beta", "gamma B"};
}

// B's own timer starts a cycle whose pull is answered only after B's next sync was asked for: that
// sync takes the late answer whole, with what B typed meanwhile, before its own cycle.
void TestSyncTwoClients::aPullAnsweredLateLandsWhole()
{
    QFETCH(QString, editOnB);
    QFETCH(QStringList, expected);

    TestDevice a(m_fake.origin(), m_alice.token);
    TestDevice b(m_fake.origin(), m_fake.issueToken(m_alice.userId, "laptop"));
    const SharedPage shared = sharePage(a, b);
    if (QTest::currentTestFailed())
        return;
    a.setBlockText(a.liveBlocks(shared.onA).at(0).localID, "alpha A");
    QVERIFY(a.queueBlockUpsert(shared.onA));
    QVERIFY(a.sync());

    m_fake.clearRequests();
    FakeService::Fault held = FakeService::Fault::held();
    held.remaining = 1;
    m_fake.setFault(QStringLiteral("/api/sync.php"), held);
    SyncEngine::syncQuietly(&b.engine());
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.requestsTo(QStringLiteral("/api/sync.php")).size(), 1, 15000);
    QVERIFY(b.engine().isSyncing());
    if (!editOnB.isEmpty()) {
        const int index = editOnB.section(QLatin1Char(':'), 0, 0).toInt();
        b.setBlockText(b.liveBlocks(shared.onB).at(size_t(index)).localID,
                       editOnB.section(QLatin1Char(':'), 1));
        QVERIFY(b.queueBlockUpsert(shared.onB));
    }
    m_fake.releaseHeldAnswers();
    QVERIFY(b.sync());
    QCOMPARE(deviceTexts(b, shared.onB), expected);
    QVERIFY(b.store().state().outbox.empty());
    QVERIFY(a.sync());
    QCOMPARE(storedTexts(m_fake, shared.id), expected);
    QCOMPARE(deviceTexts(a, shared.onA), expected);
    m_fake.clearFaults();
}

QTEST_GUILESS_MAIN(TestSyncTwoClients)
#include "tst_sync_two_clients.moc"
