#include "editor/block_row_model.h"
#include "editor/page_block_list.h"
#include "fake-service/fake_service.h"
#include "support/test_device.h"

#include <QTest>

#include <chrono>

// The service keeps no indent: a block indented on one device keeps its indent there, and what
// another device changes in it still comes in.
class TestBlockIndentSync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void otherDevicesChangeReachesAnIndentedBlock_data();
    void otherDevicesChangeReachesAnIndentedBlock();

private:
    FakeService m_fake;
    FakeService::Account m_account;
};

void TestBlockIndentSync::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount("ina@example.com", "secret12", "Ina");
}

void TestBlockIndentSync::otherDevicesChangeReachesAnIndentedBlock_data()
{
    QTest::addColumn<bool>("moved"); // B drags the block to the top, or types in it
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("typed") << false << QStringList{"alpha", "beta by B"};
    QTest::newRow("dragged") << true << QStringList{"beta", "alpha"};
}

void TestBlockIndentSync::otherDevicesChangeReachesAnIndentedBlock()
{
    QFETCH(bool, moved);
    QFETCH(QStringList, texts);

    TestDevice a(m_fake.origin(), m_account.token);
    TestDevice b(m_fake.origin(), m_fake.issueToken(m_account.userId, "laptop"));
    // A's edits are stamped a second apart, so an indent is plainly later than what A last sent.
    QDateTime now = QDateTime::currentDateTimeUtc();
    a.store().setClock([&] { return now; });

    const FNPage page = a.addPage(m_account.workspaceId, "Shared");
    a.addBlock(page.localID, "alpha", 0);
    const FNBlock beta = a.addBlock(page.localID, "beta", 1024);
    QVERIFY(a.sync());
    QVERIFY(a.queueBlockUpsert(page.localID));
    QVERIFY(a.sync());
    QVERIFY(b.sync());
    const qint64 betaID = a.block(beta.localID)->serverID;
    const FNBlock *betaOnB = b.store().blockWithServerID(betaID);
    QVERIFY(betaOnB);
    const QString pageOnB = betaOnB->pageLocalID;

    // Tab in beta's row on A.
    now = now.addSecs(1);
    BlockRowModel row(a.store(), *a.block(beta.localID), nullptr, {}, std::chrono::milliseconds(0));
    row.changeIndent(1);

    if (moved)
        PageBlockList(b.store(), pageOnB).moveBlockOnDrop(betaOnB->localID, 0);
    else
        b.setBlockText(betaOnB->localID, "beta by B");
    QVERIFY(b.queueBlockUpsert(pageOnB));
    QVERIFY(b.sync());
    QVERIFY(a.sync());

    QStringList onA;
    for (const FNBlock &block : a.liveBlocks(page.localID))
        onA << TestDevice::textOf(block);
    QCOMPARE(onA, texts);
    QCOMPARE(a.block(beta.localID)->indentLevel, qint64(1));
}

QTEST_GUILESS_MAIN(TestBlockIndentSync)
#include "tst_block_indent_sync.moc"
