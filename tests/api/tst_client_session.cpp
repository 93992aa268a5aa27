#include "fake-service/fake_service.h"
#include "library/library_creator.h"
#include "library/library_refresher.h"
#include "library/library_search.h"
#include "library/trash_list.h"
#include "support/library_steps.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QSignalSpy>
#include <QTest>

// The client's side of the session as features meet it: every call carries the session's token,
// a call without a session sends nothing, only the calls that always ended the session on a 401 do
// so, and two devices in one process never share a service, a session or a notification.
namespace {

const QString kSync = QStringLiteral("/api/sync.php");
const QString kPages = QStringLiteral("/api/pages.php");
const QString kUpload = QStringLiteral("/api/upload.php");
const QString kFolders = QStringLiteral("/api/folders.php");
const QString kSearch = QStringLiteral("/api/search.php");

// The sidebar's objects on a device, built as the library view builds them.
struct Features {
    explicit Features(TestDevice &d)
        : creator(d.store(), d.engine(), nullptr)
        , refresher(d.store(), d.client(), d.engine(), creator)
        , search(d.store(), d.client())
        , trash(d.store(), d.client(), d.engine())
    {
    }

    LibraryCreator creator;
    LibraryRefresher refresher;
    LibrarySearch search;
    TrashList trash;
};

// One user action that reaches the service, by name; its outcome is not under test here.
void act(const QString &call, TestDevice &d, Features &f, qint64 workspaceId)
{
    if (call == QLatin1String("sync cycle")) {
        (void)runTask(d.engine().syncNow());
    } else if (call == QLatin1String("queued create")) {
        d.addPage(workspaceId, QStringLiteral("Queued"));
        (void)runTask(d.engine().syncNow());
    } else if (call == QLatin1String("upload")) {
        (void)runTask(d.client().upload("png", QStringLiteral("a.png"), QStringLiteral("image/png")));
    } else if (call == QLatin1String("sidebar refresh")) {
        (void)runTask(f.refresher.loadFolders());
    } else if (call == QLatin1String("search")) {
        (void)runTask(f.search.serverSearch(QStringLiteral("Plans")));
    } else if (call == QLatin1String("trash")) {
        (void)runTask(f.trash.load());
    } else {
        QFAIL(qPrintable(QStringLiteral("unknown call ") + call));
    }
}

void addCalls()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("endsSession"); // a 401 on it ends the session
    QTest::newRow("sync cycle") << "sync cycle" << kSync << true;
    QTest::newRow("queued create") << "queued create" << kPages << true;
    QTest::newRow("upload") << "upload" << kUpload << true;
    QTest::newRow("sidebar refresh") << "sidebar refresh" << kFolders << false;
    QTest::newRow("search") << "search" << kSearch << false;
    QTest::newRow("trash") << "trash" << kPages << false;
}

} // namespace

class TestClientSession : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void callsCarryTheSessionsToken_data() { addCalls(); }
    void callsCarryTheSessionsToken();
    void signedOutCallsSendNothing_data() { addCalls(); }
    void signedOutCallsSendNothing();
    void refusalEndsTheSessionOnlyWhereItAlwaysDid_data() { addCalls(); }
    void refusalEndsTheSessionOnlyWhereItAlwaysDid();
    void twoDevicesKeepTheirOwnServiceAndSession();

private:
    FakeService m_fake;
    FakeService m_other; // a second service, at its own origin
    FakeService::Account m_account;
};

void TestClientSession::initTestCase()
{
    QVERIFY(m_fake.start());
    QVERIFY(m_other.start());
    QVERIFY(m_fake.origin() != m_other.origin());
    m_account = m_fake.createAccount("session@example.com", "secret12", "Session");
}

void TestClientSession::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
    m_other.clearFaults();
    m_other.clearRequests();
}

void TestClientSession::callsCarryTheSessionsToken()
{
    QFETCH(QString, call);
    QFETCH(QString, path);
    const QString token = m_fake.issueToken(m_account.userId);
    auto d = deviceInWorkspace(m_fake, m_account);
    d->setToken(token);
    // What the keyring holds is the session's business: a stale entry there must not go out.
    runTask(d->secrets().keychainWrite(QString::fromLatin1(SessionStore::keychainKey), m_account.token));
    Features f(*d);

    act(call, *d, f, m_account.workspaceId);
    const auto sent = m_fake.requestsTo(path);
    QVERIFY(!sent.isEmpty());
    for (const HttpRequest &r : sent)
        QCOMPARE(r.header("Authorization"), std::optional<QByteArray>("Bearer " + token.toUtf8()));
}

void TestClientSession::signedOutCallsSendNothing()
{
    QFETCH(QString, call);
    auto d = deviceInWorkspace(m_fake, m_account);
    d->setToken(std::nullopt);
    Features f(*d);
    QSignalSpy expired(&d->events(), &AppEvents::authExpired);

    act(call, *d, f, m_account.workspaceId);
    QCOMPARE(m_fake.requests().size(), 0);
    QCOMPARE(expired.size(), 0);
    // The trash only ends its loading state: no message for a call that was never made.
    QVERIFY(!f.trash.error());
}

void TestClientSession::refusalEndsTheSessionOnlyWhereItAlwaysDid()
{
    QFETCH(QString, call);
    QFETCH(QString, path);
    QFETCH(bool, endsSession);
    auto d = deviceInWorkspace(m_fake, m_account);
    Features f(*d);
    m_fake.setFault(path, FakeService::Fault::http(401, R"({"error":"Token expired"})"));
    QSignalSpy expired(&d->events(), &AppEvents::authExpired);

    act(call, *d, f, m_account.workspaceId);
    QVERIFY(!m_fake.requestsTo(path).isEmpty());
    QCOMPARE(expired.size(), endsSession ? 1 : 0);
    if (endsSession)
        QCOMPARE(expired.at(0).at(0).toString(), m_account.token);
    if (call == QLatin1String("trash"))
        QVERIFY(f.trash.error()); // the list says what went wrong instead
}

void TestClientSession::twoDevicesKeepTheirOwnServiceAndSession()
{
    const FakeService::Account other = m_other.createAccount("other@example.com", "secret12", "Other");
    TestDevice a(m_fake.origin(), m_account.token);
    TestDevice b(m_other.origin(), other.token);
    QSignalSpy expiredA(&a.events(), &AppEvents::authExpired);
    QSignalSpy expiredB(&b.events(), &AppEvents::authExpired);

    QVERIFY(a.sync());
    QVERIFY(b.sync());
    QCOMPARE(m_fake.requestsTo(kSync).size(), 1);
    QCOMPARE(m_other.requestsTo(kSync).size(), 1);
    QCOMPARE(m_fake.lastRequest().header("Authorization"),
             std::optional<QByteArray>("Bearer " + m_account.token.toUtf8()));
    QCOMPARE(m_other.lastRequest().header("Authorization"),
             std::optional<QByteArray>("Bearer " + other.token.toUtf8()));

    // One device's refused session is its own affair.
    m_fake.setFault(kSync, FakeService::Fault::http(401, "{}"));
    QVERIFY(!a.sync());
    QCOMPARE(expiredA.size(), 1);
    QCOMPARE(expiredB.size(), 0);

    // Signing one out leaves the other signed in, on its own service.
    a.setToken(std::nullopt);
    m_fake.clearRequests();
    m_other.clearRequests();
    QVERIFY(a.sync());
    QVERIFY(b.sync());
    QCOMPARE(m_fake.requests().size(), 0);
    QCOMPARE(m_other.requestsTo(kSync).size(), 1);
    QCOMPARE(m_other.lastRequest().header("Authorization"),
             std::optional<QByteArray>("Bearer " + other.token.toUtf8()));
}

QTEST_GUILESS_MAIN(TestClientSession)
#include "tst_client_session.moc"
