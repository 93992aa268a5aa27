#include "fake-service/fake_service.h"
#include "support/chaos_device.h"
#include "support/library_steps.h"
#include "support/page_sync_steps.h"

#include "store/local_store.h"

#include <QTest>

// A block A only moved is deleted by B between A's pull and A's push; the push's upsert names it by
// its old id, so the service makes it anew, and A deletes that copy as stray. The delete never
// takes what someone typed: not a child A changed under the block in the same edit, nor what B
// typed into the copy before A's delete went.
class TestPageStrayCopy : public QObject, protected PageSyncPair
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void aCopyHoldingAChildEditedHereStays_data();
    void aCopyHoldingAChildEditedHereStays();
    void anotherDevicesTextInTheCopyStays_data();
    void anotherDevicesTextInTheCopyStays();
    void textTypedWhileTheCopysEchoComesStays();

private:
    // A moves gamma to the top, `alongside` runs, and A's cycle waits on its pull while B deletes
    // gamma; then `beforePush` runs and A's push goes.
    bool moveWhileBDeletes(const std::function<void()> &alongside, const std::function<void()> &beforePush);
};

void TestPageStrayCopy::initTestCase()
{
    QVERIFY(startService());
}

void TestPageStrayCopy::init()
{
    newAccount(QStringLiteral("Stray"));
}

void TestPageStrayCopy::cleanup()
{
    endDevices();
}

bool TestPageStrayCopy::moveWhileBDeletes(const std::function<void()> &alongside,
                                          const std::function<void()> &beforePush)
{
    m_fake.setFault(kSync, once(FakeService::Fault::held()));
    const int pulls = requestCount(kSync);
    const int upserts = requestCount(kBlocks);
    m_a->moveBlock(blockOn(*m_a, "gamma"), 0);
    if (alongside)
        alongside();
    if (!QTest::qWaitFor([&] { return requestCount(kSync) == pulls + 1; }, kWait))
        return false;
    m_b->deleteBlock(blockOn(*m_b, "gamma"));
    if (!settle(*m_b))
        return false;
    if (beforePush)
        beforePush();
    m_fake.releaseHeldAnswers();
    return QTest::qWaitFor([&] { return requestCount(kBlocks) > upserts && !m_a->isBusy(); }, kWait);
}

void TestPageStrayCopy::aCopyHoldingAChildEditedHereStays_data()
{
    QTest::addColumn<bool>("newChild");
    QTest::addColumn<bool>("answerLost");
    for (const bool answerLost : {false, true}) {
        const char *answer = answerLost ? "answer lost" : "answered";
        QTest::addRow("typed into its child, %s", answer) << false << answerLost;
        QTest::addRow("a child added under it, %s", answer) << true << answerLost;
    }
}

// The upsert puts the child under the copy, on the service too: an edit beats the delete there as
// at every depth, and the copy stays with the child on every device.
void TestPageStrayCopy::aCopyHoldingAChildEditedHereStays()
{
    QFETCH(bool, newChild);
    QFETCH(bool, answerLost);
    QVERIFY(!sharedPage({"alpha", "beta", "gamma", "delta"}).isEmpty());
    if (!newChild) {
        QVERIFY(m_a->addChildBlock(blockOn(*m_a, "gamma"), QStringLiteral("gamma's child")));
        QVERIFY(settle(*m_a));
        QVERIFY(settle(*m_b));
    }
    const QString typed = QStringLiteral("typed under gamma");
    QVERIFY(moveWhileBDeletes(
        [&] {
            if (newChild)
                QVERIFY(m_a->addChildBlock(blockOn(*m_a, "gamma"), typed));
            else
                m_a->editBlock(blockOn(*m_a, "gamma's child"), typed);
        },
        [&] {
            if (answerLost)
                m_fake.setFault(kBlocks, once(FakeService::Fault::applyThenDrop()));
        }));
    QVERIFY(settle(*m_a));
    QVERIFY(settle(*m_b));
    QVERIFY(settle(*m_a));

    const QStringList service = textsOnService();
    QVERIFY2(service.contains(typed) && service.contains(QStringLiteral("gamma")),
             qPrintable(service.join(", ")));
    QCOMPARE(textsOn(*m_a), service);
    QCOMPARE(textsOn(*m_b), service);
    QVERIFY(m_a->store().state().outbox.empty());
}

void TestPageStrayCopy::anotherDevicesTextInTheCopyStays_data()
{
    QTest::addColumn<bool>("answerLost");
    QTest::addColumn<bool>("pullFails");
    QTest::addColumn<bool>("editOfA");
    for (const bool answerLost : {false, true}) {
        const char *answer = answerLost ? "answer lost" : "answered";
        for (const bool pullFails : {false, true}) {
            const char *pull = pullFails ? "A's pull after it fails" : "A's pull after it works";
            QTest::addRow("%s, %s", answer, pull) << answerLost << pullFails << false;
            QTest::addRow("%s, %s, A sends an edit too", answer, pull) << answerLost << pullFails << true;
        }
    }
}

// B pulls the copy and types into it after A's cycle that made it, before A's next cycle: that cycle
// pulls B's version before its push, whatever else it sends, and the delete is withdrawn.
void TestPageStrayCopy::anotherDevicesTextInTheCopyStays()
{
    QFETCH(bool, answerLost);
    QFETCH(bool, pullFails);
    QFETCH(bool, editOfA);
    QVERIFY(!sharedPage({"alpha", "beta", "gamma", "delta"}).isEmpty());
    QVERIFY(moveWhileBDeletes({}, [&] {
        if (answerLost)
            m_fake.setFault(kBlocks, once(FakeService::Fault::applyThenDrop()));
        if (pullFails)
            m_fake.setFault(kSync, once(FakeService::Fault::http(503, "{\"error\":\"Busy.\"}")));
    }));
    QTRY_VERIFY(!m_a->isBusy());
    QVERIFY(settle(*m_b));
    const QString copy = blockOn(*m_b, "gamma");
    QVERIFY(!copy.isEmpty());
    const QString typed = QStringLiteral("gamma typed by B");
    m_b->editBlock(copy, typed);
    QVERIFY(settle(*m_b));
    if (editOfA)
        m_a->editBlock(blockOn(*m_a, "alpha"), QStringLiteral("alpha typed by A"));
    QVERIFY(settle(*m_a));
    QVERIFY(settle(*m_b));
    QVERIFY(settle(*m_a));

    const QStringList service = textsOnService();
    QVERIFY2(service.contains(typed), qPrintable(service.join(", ")));
    QCOMPARE(textsOn(*m_a), service);
    QCOMPARE(textsOn(*m_b), service);
    QVERIFY(m_a->store().state().outbox.empty());
}

// A's answer is lost and so is its pull after: A hears of the copy first in the pull before its next
// push, and B types into the copy while that pull's answer is on its way. The delete that pull queues
// waits for a pull of its own, which brings B's version.
void TestPageStrayCopy::textTypedWhileTheCopysEchoComesStays()
{
    QVERIFY(!sharedPage({"alpha", "beta", "gamma", "delta"}).isEmpty());
    QVERIFY(moveWhileBDeletes({}, [&] {
        m_fake.setFault(kBlocks, once(FakeService::Fault::applyThenDrop()));
        m_fake.setFault(kSync, once(FakeService::Fault::http(503, "{\"error\":\"Busy.\"}")));
    }));
    QTRY_VERIFY(!m_a->isBusy());
    QVERIFY(settle(*m_b));
    const QString copy = blockOn(*m_b, "gamma");
    QVERIFY(!copy.isEmpty());

    m_fake.setFault(kSync, once(FakeService::Fault::held()));
    const int pulls = requestCount(kSync);
    m_a->sync();
    QVERIFY(QTest::qWaitFor([&] { return requestCount(kSync) == pulls + 1; }, kWait));
    const QString typed = QStringLiteral("gamma typed by B");
    m_b->editBlock(copy, typed);
    QVERIFY(settle(*m_b));
    m_fake.releaseHeldAnswers();
    QTRY_VERIFY(!m_a->isBusy());
    QVERIFY(settle(*m_a));
    QVERIFY(settle(*m_b));
    QVERIFY(settle(*m_a));

    const QStringList service = textsOnService();
    QVERIFY2(service.contains(typed), qPrintable(service.join(", ")));
    QCOMPARE(textsOn(*m_a), service);
    QCOMPARE(textsOn(*m_b), service);
    QVERIFY(m_a->store().state().outbox.empty());
}

QTEST_MAIN(TestPageStrayCopy)
#include "tst_page_stray_copy.moc"
