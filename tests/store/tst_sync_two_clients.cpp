#include "fake-service/fake_service.h"
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

private:
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

QTEST_GUILESS_MAIN(TestSyncTwoClients)
#include "tst_sync_two_clients.moc"
