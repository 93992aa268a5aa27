#include "api/wire/pages.h"
#include "clocked_device_fixture.h"
#include "fake-service/fake_service.h"
#include "store/outbox.h"
#include "support/test_device.h"

#include <QTest>

// What waits in the outbox, against the fake service: operations in a back-off from an earlier
// pass, and lines typed while no cycle ran.
class TestOutboxWaiting : public QObject, private ClockedDeviceFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void waitingOperationHoldsNewerUntilDue_data();
    void waitingOperationHoldsNewerUntilDue();
    void linesTypedOfflineGoOnceEach_data();
    void linesTypedOfflineGoOnceEach();
};

void TestOutboxWaiting::initTestCase()
{
    startService(QStringLiteral("waiting@example.com"), QStringLiteral("Waiting"));
}

void TestOutboxWaiting::init()
{
    resetService();
}

// An operation waiting out its back-off from an earlier pass is read only once a newer one of its
// record is due; it holds that one back where it would, and goes itself once due.
void TestOutboxWaiting::waitingOperationHoldsNewerUntilDue_data()
{
    QTest::addColumn<QString>("older"); // what waits: an update, refused or not, or unreadable
    QTest::addColumn<bool>("held");     // the newer rename waits with it
    QTest::newRow("update waiting") << "update" << true;
    QTest::newRow("refused update waiting") << "refused" << false;
    QTest::newRow("unreadable update waiting") << "unreadable" << false;
}

void TestOutboxWaiting::waitingOperationHoldsNewerUntilDue()
{
    QFETCH(QString, older);
    QFETCH(bool, held);
    auto d = device();
    const FNPage page = d->addPage(m_account.workspaceId, "Start");
    QVERIFY(d->sync());
    const qint64 id = d->page(page.localID)->serverID;
    PagePatchReq first;
    first.title = QStringLiteral("Older");
    d->queuePageUpdate(page.localID, first);
    PagePatchReq rename;
    rename.title = QStringLiteral("Newer");
    d->queuePageUpdate(page.localID, rename);
    const QDateTime due = m_now.addSecs(60);
    d->store().change([&](StoreState &s) {
        FNSyncOp &op = s.outbox[0];
        op.attempts = 1;
        op.nextRetryAt = due;
        op.refused = older == QLatin1String("refused");
        if (older == QLatin1String("unreadable"))
            op.payloadJSON = QStringLiteral("{\"page_id\":");
    });
    const QString olderID = d->store().state().outbox[0].localID;

    QVERIFY(d->sync());
    QCOMPARE(m_fake.state().pages.at(id).title, held ? QStringLiteral("Start") : QStringLiteral("Newer"));
    // A refused one the newer overruled has nothing left to say.
    QCOMPARE(bool(outboxOp(*d, olderID)), older != QLatin1String("refused"));
    QCOMPARE(d->store().state().outbox.size(), size_t(older != QLatin1String("refused")) + size_t(held));

    m_now = due;
    QVERIFY(d->sync());
    QCOMPARE(m_fake.state().pages.at(id).title, QStringLiteral("Newer"));
    if (older == QLatin1String("update"))
        QVERIFY(d->store().state().outbox.empty());
}

// Lines typed offline, an upsert queued at each pause: each upsert carries what is new since, the
// reconnect sends every line once with its latest text, and an older upsert that no longer reads
// loses none of its lines.
void TestOutboxWaiting::linesTypedOfflineGoOnceEach_data()
{
    QTest::addColumn<bool>("firstUnreadable");
    QTest::newRow("all read") << false;
    QTest::newRow("first upsert unreadable") << true;
}

void TestOutboxWaiting::linesTypedOfflineGoOnceEach()
{
    QFETCH(bool, firstUnreadable);
    auto d = device();
    const FNPage page = d->addPage(m_account.workspaceId, "Offline lines");
    QVERIFY(d->sync());
    const qint64 pid = d->page(page.localID)->serverID;
    Outbox &outbox = Outbox::of(d->store());
    QStringList lines;
    for (int pause = 0; pause < 4; ++pause) {
        for (int k = 0; k < 3; ++k) {
            const int n = pause * 3 + k;
            lines << d->addBlock(page.localID, QStringLiteral("line %1").arg(n), n * 1024).localID;
        }
        if (pause == 2)
            d->setBlockText(lines[0], QStringLiteral("line 0 again")); // a line typed into later
        QCOMPARE(outbox.pageBlocksUpsert(page.localID).outcome, Outbox::PageBlocksOutcome::Queued);
    }
    QMap<QString, int> carried;
    for (const FNSyncOp &op : d->store().state().outbox) {
        for (const QString &block : op.carriedFields->keys())
            ++carried[block];
    }
    for (const QString &line : lines)
        QCOMPARE(carried.value(line), line == lines[0] ? 2 : 1);
    if (firstUnreadable)
        d->store().change([](StoreState &s) { s.outbox[0].payloadJSON = QStringLiteral("{\"blocks\":"); });

    m_fake.clearRequests();
    for (int i = 0; i < 3 && !d->store().state().outbox.empty(); ++i)
        QVERIFY(d->sync());
    QVERIFY(d->store().state().outbox.empty());
    QVERIFY(d->store().state().editedBlocks.empty());
    QStringList stored;
    for (const auto &b : m_fake.storedBlocks(pid))
        stored << b.content.at(QStringLiteral("text")).toString();
    QStringList expected;
    for (int n = 0; n < lines.size(); ++n)
        expected << (n == 0 ? QStringLiteral("line 0 again") : QStringLiteral("line %1").arg(n));
    QCOMPARE(stored, expected);
    for (const QString &line : lines)
        QVERIFY(d->block(line)->serverID != 0);
}

QTEST_GUILESS_MAIN(TestOutboxWaiting)
#include "tst_outbox_waiting.moc"
