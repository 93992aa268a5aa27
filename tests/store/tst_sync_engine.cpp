#include "api/session_store.h"
#include "fake-service/fake_service.h"
#include "platform/app_events.h"
#include "platform/connectivity.h"
#include "store/outbox.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

// The engine's lifecycle: when cycles run, how they overlap, and how they end.
class TestSyncEngine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void noTokenNoRequest();
    void secondSyncNowReturnsAtOnce();
    void pullRunsWhenEveryPushFails();
    void refusalEndsSessionOnce_data();
    void refusalEndsSessionOnce();
    void renewedSessionSurvivesStaleRefusal_data();
    void renewedSessionSurvivesStaleRefusal();
    void loopRunsCyclesAndStopsWithoutWaitingOutThePause();
    void reconnectStartsOneCycle();
    void queuedOperationsGetOneCycle_data();
    void queuedOperationsGetOneCycle();
    void launchLearnsTheNetworkState_data();
    void launchLearnsTheNetworkState();
    void cancelAbortsTheCycleInFlight();
    void contentJSONOfPayloads_data();
    void contentJSONOfPayloads();

private:
    FakeService m_fake;
    FakeService::Account m_account;
};

void TestSyncEngine::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount("engine@example.com", "secret12", "Engine");
}

void TestSyncEngine::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
}

void TestSyncEngine::noTokenNoRequest()
{
    TestDevice d(m_fake.origin());
    d.addPage(m_account.workspaceId, "Queued");
    QSignalSpy syncing(&d.engine(), &SyncEngine::isSyncingChanged);
    QVERIFY(d.sync());
    QCOMPARE(m_fake.requests().size(), 0);
    QCOMPARE(syncing.size(), 0);
}

void TestSyncEngine::secondSyncNowReturnsAtOnce()
{
    TestDevice d(m_fake.origin(), m_account.token);
    m_fake.setFault("/api/sync.php", FakeService::Fault::delay(200));
    QSignalSpy finished(&d.engine(), &SyncEngine::cycleFinished);
    auto first = d.engine().syncNow();
    QVERIFY(d.engine().isSyncing());
    const auto second = runTask(d.engine().syncNow(), 100);
    QVERIFY(second.ok()); // returned without waiting for the first
    QCOMPARE(finished.size(), 0);
    QVERIFY(finished.wait(3000));
    QVERIFY(!d.engine().isSyncing());
    QCOMPARE(m_fake.requestsTo("/api/sync.php").size(), 1);
}

void TestSyncEngine::pullRunsWhenEveryPushFails()
{
    TestDevice d(m_fake.origin(), m_account.token);
    d.addPage(m_account.workspaceId, "A");
    d.addPage(m_account.workspaceId, "B");
    m_fake.setFault("/api/pages.php", FakeService::Fault::http(503, "{}"));
    QVERIFY(d.sync());
    QCOMPARE(m_fake.requestsTo("/api/pages.php").size(), 2);
    QCOMPARE(m_fake.requestsTo("/api/sync.php").size(), 1);
    QCOMPARE(d.store().state().outbox.size(), size_t(2));
}

void TestSyncEngine::refusalEndsSessionOnce_data()
{
    QTest::addColumn<bool>("pushRefused");
    QTest::addColumn<bool>("pullRefused");
    QTest::newRow("push refused") << true << false;
    QTest::newRow("pull refused") << false << true;
    QTest::newRow("both refused") << true << true;
}

void TestSyncEngine::refusalEndsSessionOnce()
{
    QFETCH(bool, pushRefused);
    QFETCH(bool, pullRefused);
    TestDevice d(m_fake.origin(), m_account.token);
    d.addPage(m_account.workspaceId, "A");
    d.addPage(m_account.workspaceId, "B");
    if (pushRefused)
        m_fake.setFault("/api/pages.php", FakeService::Fault::http(401, "{}"));
    if (pullRefused)
        m_fake.setFault("/api/sync.php", FakeService::Fault::http(401, "{}"));
    QSignalSpy expired(&d.events(), &AppEvents::authExpired);
    const auto out = runTask(d.engine().syncNow());
    QVERIFY(out.apiError());
    QCOMPARE(out.apiError()->status(), 401);
    QCOMPARE(expired.size(), 1);
    QVERIFY(!d.engine().isSyncing());
    // A refused token is no fault of the operations.
    QCOMPARE(d.store().state().outbox.size(), size_t(pushRefused ? 2 : 0));
    for (const auto &op : d.store().state().outbox) {
        QCOMPARE(op.attempts, qint64(0));
        QVERIFY(!op.nextRetryAt);
    }
}

void TestSyncEngine::renewedSessionSurvivesStaleRefusal_data()
{
    QTest::addColumn<QString>("slowPath");
    QTest::addColumn<int>("status"); // the slow request's answer once the old token is gone; 0: normal
    QTest::newRow("push answered") << "/api/pages.php" << 0;
    QTest::newRow("push refused") << "/api/pages.php" << 401;
    QTest::newRow("pull refused") << "/api/sync.php" << 401;
}

void TestSyncEngine::renewedSessionSurvivesStaleRefusal()
{
    QFETCH(QString, slowPath);
    QFETCH(int, status);
    const QString old = m_fake.issueToken(m_account.userId);
    const QString renewed = m_fake.issueToken(m_account.userId);
    TestDevice d(m_fake.origin(), old);
    d.addPage(m_account.workspaceId, "A");
    auto slow = status ? FakeService::Fault::http(status, "{}") : FakeService::Fault::delay(200);
    slow.delayMs = 200;
    slow.remaining = 1;
    m_fake.setFault(slowPath, slow);
    // Renewed while the slow request, sent with the old token, is on its way back.
    const auto renew = connect(&m_fake, &FakeService::requestReceived, this, [&](const HttpRequest &request) {
        if (QString::fromUtf8(request.path()).startsWith(slowPath))
            d.setToken(renewed);
    });
    QSignalSpy expired(&d.events(), &AppEvents::authExpired);
    runTask(d.engine().syncNow());
    disconnect(renew);
    QCOMPARE(expired.size(), 0);
    QCOMPARE(d.secrets().keychainRead(QString::fromLatin1(SessionStore::keychainKey)), renewed);
    for (const auto &op : d.store().state().outbox)
        QCOMPARE(op.attempts, qint64(0));
    if (slowPath == QLatin1String("/api/pages.php")) {
        // The pull reads the token afresh.
        const auto pulls = m_fake.requestsTo("/api/sync.php");
        QCOMPARE(pulls.size(), 1);
        QCOMPARE(pulls[0].header("Authorization"), std::optional<QByteArray>("Bearer " + renewed.toUtf8()));
    }
}

void TestSyncEngine::loopRunsCyclesAndStopsWithoutWaitingOutThePause()
{
    TestDevice d(m_fake.origin(), m_account.token);
    QSignalSpy finished(&d.engine(), &SyncEngine::cycleFinished);
    d.engine().setTickInterval(std::chrono::milliseconds(30));
    d.engine().start();
    d.engine().start(); // a second start changes nothing
    QTRY_VERIFY(finished.size() >= 3);
    QVERIFY(d.engine().isRunning());

    // With a long pause, stopping must not wait for it; a new start runs a cycle at once.
    d.engine().setTickInterval(std::chrono::hours(1));
    QTRY_VERIFY(!d.engine().isSyncing());
    d.engine().stopLoop();
    QVERIFY(!d.engine().isRunning());
    const int before = finished.size();
    QTest::qWait(100);
    QVERIFY(finished.size() <= before + 1); // at most the cycle that was already in flight
    const int settled = finished.size();
    d.engine().start();
    QTRY_COMPARE(finished.size(), settled + 1);
}

void TestSyncEngine::queuedOperationsGetOneCycle_data()
{
    QTest::addColumn<int>("creates");
    QTest::addColumn<int>("queueDelay");
    QTest::addColumn<int>("undoWindow"); // of a delete queued after the creates; 0: none
    QTest::newRow("one create") << 1 << 0 << 0;
    QTest::newRow("a burst") << 5 << 0 << 0;
    QTest::newRow("a burst, with a delay") << 5 << 40 << 0;
    QTest::newRow("a delete, after its undo window") << 0 << 0 << 300;
    QTest::newRow("a delete queued with a create goes with it") << 1 << 0 << 300;
}

// Nobody asks for a cycle after queuing: the engine runs one for what was queued, and one only.
void TestSyncEngine::queuedOperationsGetOneCycle()
{
    QFETCH(int, creates);
    QFETCH(int, queueDelay);
    QFETCH(int, undoWindow);
    TestDevice d(m_fake.origin(), m_account.token);
    d.engine().setQueueDelay(std::chrono::milliseconds(queueDelay));
    QSignalSpy finished(&d.engine(), &SyncEngine::cycleFinished);
    for (int i = 0; i < creates; ++i)
        d.addPage(m_account.workspaceId, QStringLiteral("Queued %1").arg(i));
    if (undoWindow > 0)
        Outbox::of(d.store()).pageDelete(QStringLiteral("gone"), 0, std::chrono::milliseconds(undoWindow));
    QCOMPARE(finished.size(), 0);

    if (creates == 0)
        QVERIFY(!finished.wait(undoWindow / 2)); // the window holds it
    QVERIFY(finished.wait());
    QCOMPARE(m_fake.requestsTo(QStringLiteral("/api/pages.php")).size(), creates);
    QCOMPARE(d.store().state().outbox.size(), size_t(undoWindow > 0 ? 1 : 0)); // the delete names no page yet
    QVERIFY(!finished.wait(undoWindow + 150));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(m_fake.requestsTo(QStringLiteral("/api/sync.php")).size(), 1);
}

void TestSyncEngine::reconnectStartsOneCycle()
{
    TestDevice d(m_fake.origin(), m_account.token);
    QSignalSpy finished(&d.engine(), &SyncEngine::cycleFinished);
    d.engine().handlePathUpdate(true); // already online: nothing
    QTest::qWait(50);
    QCOMPARE(finished.size(), 0);
    d.engine().handlePathUpdate(false);
    d.engine().handlePathUpdate(false);
    QCOMPARE(finished.size(), 0);
    d.engine().handlePathUpdate(true);
    QTRY_COMPARE(finished.size(), 1);
    d.engine().handlePathUpdate(true);
    QTest::qWait(50);
    QCOMPARE(finished.size(), 1);
}

void TestSyncEngine::launchLearnsTheNetworkState_data()
{
    QTest::addColumn<bool>("onlineAtLaunch");
    QTest::addColumn<bool>("reported");
    QTest::addColumn<int>("cycles");
    QTest::newRow("offline at launch, network returns") << false << true << 1;
    QTest::newRow("offline at launch, still offline") << false << false << 0;
    QTest::newRow("online at launch, online again") << true << true << 0;
}

void TestSyncEngine::launchLearnsTheNetworkState()
{
    QFETCH(bool, onlineAtLaunch);
    QFETCH(bool, reported);
    QFETCH(int, cycles);
    TestDevice d(m_fake.origin(), m_account.token);
    Connectivity &network = d.connectivity();
    network.report(onlineAtLaunch);
    d.engine().followConnectivity(network);
    QSignalSpy finished(&d.engine(), &SyncEngine::cycleFinished);

    network.report(reported);
    if (cycles > 0) {
        QTRY_COMPARE(finished.size(), cycles);
        QCOMPARE(m_fake.requestsTo("/api/sync.php").size(), 1);
    } else {
        QTest::qWait(100);
        QCOMPARE(finished.size(), 0);
    }
}

void TestSyncEngine::cancelAbortsTheCycleInFlight()
{
    TestDevice d(m_fake.origin(), m_account.token);
    d.addPage(m_account.workspaceId, "Slow");
    m_fake.setFault("/api/pages.php", FakeService::Fault::delay(5000));
    QTimer::singleShot(100, &d.engine(), &SyncEngine::cancelCycle);
    QElapsedTimer clock;
    clock.start();
    const auto out = runTask(d.engine().syncNow());
    QVERIFY(clock.elapsed() < 3000);
    QVERIFY(out.apiError());
    QCOMPARE(out.apiError()->networkError(), QNetworkReply::OperationCanceledError);
    // The cancelled operation was not counted as a failure of its own.
    QCOMPARE(d.store().state().outbox.at(0).attempts, qint64(0));
    QVERIFY(!d.engine().isSyncing());
    // The next cycle works again.
    m_fake.clearFaults();
    QVERIFY(d.sync());
    QVERIFY(d.store().state().outbox.empty());
}

void TestSyncEngine::contentJSONOfPayloads_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("content");
    QTest::newRow("absent") << QByteArray(R"({"type":"text"})") << "{}";
    QTest::newRow("object") << QByteArray(R"({"content":{"text":"a","n":1.0}})") << R"({"n":1,"text":"a"})";
    QTest::newRow("null kept as null") << QByteArray(R"({"content":null})") << "null";
    QTest::newRow("string") << QByteArray(R"({"content":"x"})") << R"("x")";
}

void TestSyncEngine::contentJSONOfPayloads()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, content);
    QCOMPARE(SyncEngine::contentJSON(parseJSONObject(payload)), content);
}

QTEST_GUILESS_MAIN(TestSyncEngine)
#include "tst_sync_engine.moc"
