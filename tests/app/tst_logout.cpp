#include "api/api_client.h"
#include "api/wire/pages.h"
#include "app/logout_flow.h"
#include "app/main_view.h"
#include "app/sync_button.h"
#include "fake-service/fake_service.h"
#include "library/library_tree.h"
#include "library/library_view.h"
#include "platform/preset_confirmer.h"
#include "store/block_fields.h"
#include "store/outbox.h"
#include "support/app_harness.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

namespace {

const QString PagesPath = QStringLiteral("/api/pages.php");
const QString SyncPath = QStringLiteral("/api/sync.php");
const QString LogoutPath = QStringLiteral("/api/auth/logout.php");
const QString UploadPath = QStringLiteral("/api/upload.php");
const QString BlocksPath = QStringLiteral("/api/blocks.php");
const QString LastOpenKey = QStringLiteral("pn.lastOpenPageLocalID");
const QString WelcomeKey = QStringLiteral("pn.didSeeWelcome");

} // namespace

class TestLogout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void confirmationTexts_data();
    void confirmationTexts();
    void emptyOutboxLogsOutAtOnce();
    void queuedChangesArePushedBeforeReset();
    void unpushableChangesWaitAtMostTheBound_data();
    void unpushableChangesWaitAtMostTheBound();
    void runningCycleIsAwaited();
    void cycleOutlastingTheBoundAppliesNothing();
    void withoutTokenNoRequestIsSent();
    void favouritesAndLastPageComeBackAtTheNextSignIn_data();
    void favouritesAndLastPageComeBackAtTheNextSignIn();
    void keptRecordingGetsALastTry_data();
    void keptRecordingGetsALastTry();

private:
    void signIn();
    // A new page queued as "page"/"create", as the sidebar queues it.
    FNPage queuePage(const QString &title);
    int indexOfRequest(const QString &path, int nth = 0) const;
    bool fakeHasPage(const QString &title) const;

    FakeService m_fake;
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    FakeService::Account m_account;
    int m_accounts = 0;
};

void TestLogout::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestLogout::init()
{
    m_fake.clearFaults();
    m_fake.setOffline(false);
    m_device = std::make_unique<AppDevice>(m_fake.origin());
    m_app = std::make_unique<AppHarness>(*m_device);
}

void TestLogout::cleanup()
{
    m_fake.clearFaults();
    m_fake.setOffline(false);
    m_app.reset();
    m_device.reset();
}

void TestLogout::signIn()
{
    const QString email = QStringLiteral("leaver%1@example.com").arg(++m_accounts);
    m_account = m_fake.createAccount(email, QStringLiteral("secret12"), QStringLiteral("Lee Ver"));
    QVERIFY(m_account.userId != 0);
    m_app->session.signIn(m_account.token, AuthUser{m_account.userId, QStringLiteral("Lee Ver"), email});
    m_fake.clearRequests();
}

FNPage TestLogout::queuePage(const QString &title)
{
    FNPage page;
    page.workspaceServerID = m_account.workspaceId;
    page.title = title;
    m_app->queuePageCreate(page);
    return page;
}

int TestLogout::indexOfRequest(const QString &path, int nth) const
{
    const auto all = m_fake.requests();
    for (int i = 0; i < all.size(); ++i) {
        if (QString::fromUtf8(all[i].path()) == path && nth-- == 0)
            return i;
    }
    return -1;
}

bool TestLogout::fakeHasPage(const QString &title) const
{
    auto &fake = const_cast<FakeService &>(m_fake);
    for (const auto &[id, page] : fake.state().pages) {
        if (page.title == title)
            return true;
    }
    return false;
}

void TestLogout::confirmationTexts_data()
{
    QTest::addColumn<int>("unsynced");
    QTest::addColumn<QString>("message");
    QTest::newRow("none") << 0 << QStringLiteral("You'll need to sign in again to access your notes.");
    QTest::newRow("one") << 1
                         << QStringLiteral(
                                "You have 1 unsynced change. We'll try to sync them before logging out, "
                                "but if you're offline they may be lost.");
    QTest::newRow("four") << 4
                          << QStringLiteral(
                                 "You have 4 unsynced changes. We'll try to sync them before logging "
                                 "out, but if you're offline they may be lost.");
}

void TestLogout::confirmationTexts()
{
    QFETCH(int, unsynced);
    QFETCH(QString, message);
    const auto question = LogoutFlow::question(unsynced);
    QCOMPARE(question.title, QStringLiteral("Log out of Penroost Derud?"));
    QCOMPARE(question.message, message);
    QCOMPARE(question.confirmLabel, QStringLiteral("Log out"));
    QCOMPARE(question.cancelLabel, QStringLiteral("Cancel"));
    QVERIFY(question.destructive);
}

void TestLogout::emptyOutboxLogsOutAtOnce()
{
    signIn();
    FNPage page;
    page.title = QStringLiteral("Kept on the service");
    m_app->store.upsertPage(page);
    m_app->store.save();
    QVERIFY(QFile::exists(m_app->store.url()));
    m_app->favorites.toggle(page.localID);
    m_app->templates.add(
        PageTemplate{QStringLiteral("T1"), QStringLiteral("Weekly"), QStringLiteral("Week"), QString(), {}});
    m_app->settings.setString(LastOpenKey, page.localID);
    m_app->settings.setBool(WelcomeKey, true);

    auto *flow = new LogoutFlow(m_app->context(), 5s);
    QPointer<LogoutFlow> alive(flow);
    QSignalSpy finished(flow, &LogoutFlow::finished);
    flow->start();
    // No wait: signed out and emptied before start() returns.
    QVERIFY(!m_app->session.token());
    QVERIFY(!m_app->session.userID());
    QCOMPARE(m_app->store.state(), StoreState{});
    QVERIFY(!QFile::exists(m_app->store.url()));

    QVERIFY(finished.wait(5000));
    QTRY_VERIFY(alive.isNull()); // the flow goes by itself
    QCOMPARE(m_fake.requestsTo(SyncPath).size(), 0);
    const auto logouts = m_fake.requestsTo(LogoutPath);
    QCOMPARE(logouts.size(), 1);
    QCOMPARE(logouts[0].method, QByteArray("POST"));
    QCOMPARE(logouts[0].header("Authorization"),
             std::optional<QByteArray>("Bearer " + m_account.token.toUtf8()));
    QCOMPARE(logouts[0].body, QByteArray(R"({"device":"logout"})"));

    // What belongs to the device, not the account, stays.
    QCOMPARE(m_app->favorites.ids(), QSet<QString>{page.localID});
    QCOMPARE(m_app->templates.templates().size(), size_t(1));
    QCOMPARE(m_app->settings.string(LastOpenKey), std::optional<QString>(page.localID));
    QCOMPARE(m_app->settings.boolean(WelcomeKey), std::optional<bool>(true));
    QVERIFY(!m_app->engine.isRunning()); // never started here, and the flow starts nothing
}

void TestLogout::queuedChangesArePushedBeforeReset()
{
    signIn();
    queuePage(QStringLiteral("Last words"));
    QList<bool> signedInAtPush;
    connect(&m_fake, &FakeService::requestReceived, this, [&](const HttpRequest &request) {
        if (QString::fromUtf8(request.path()) == PagesPath)
            signedInAtPush.append(m_app->session.token().has_value() && !m_app->store.state().pages.empty());
    });

    auto *flow = new LogoutFlow(m_app->context(), 5s);
    QSignalSpy signedOut(flow, &LogoutFlow::signedOut);
    QSignalSpy finished(flow, &LogoutFlow::finished);
    flow->start();
    QVERIFY(m_app->session.token()); // waiting for the last sync
    QVERIFY(finished.wait(5000));
    disconnect(&m_fake, &FakeService::requestReceived, this, nullptr);

    QVERIFY(fakeHasPage(QStringLiteral("Last words")));
    QCOMPARE(signedInAtPush, QList<bool>{true});
    QVERIFY(indexOfRequest(PagesPath) < indexOfRequest(LogoutPath));
    QCOMPARE(signedOut.size(), 1);
    QCOMPARE(m_app->store.state(), StoreState{});
}

void TestLogout::unpushableChangesWaitAtMostTheBound_data()
{
    QTest::addColumn<bool>("stalled");
    // A connection that hangs is what makes the bound matter; a refused one fails at once.
    QTest::newRow("stalled connection") << true;
    QTest::newRow("offline") << false;
}

void TestLogout::unpushableChangesWaitAtMostTheBound()
{
    QFETCH(bool, stalled);
    signIn();
    const QString title = QStringLiteral("Never sent ") + QString::fromLatin1(QTest::currentDataTag());
    queuePage(title);
    if (stalled)
        m_fake.setFault(PagesPath, FakeService::Fault::delay(20000));
    else
        m_fake.setOffline(true);

    constexpr auto bound = 300ms;
    auto *flow = new LogoutFlow(m_app->context(), bound);
    QSignalSpy signedOut(flow, &LogoutFlow::signedOut);
    QSignalSpy finished(flow, &LogoutFlow::finished);
    QElapsedTimer clock;
    clock.start();
    flow->start();
    QVERIFY(signedOut.wait(5000));
    const qint64 waited = clock.elapsed();
    QVERIFY2(waited < 5000, qPrintable(QString::number(waited)));
    if (stalled)
        QVERIFY2(waited >= bound.count() - 20, qPrintable(QString::number(waited)));

    QVERIFY(!m_app->session.token());
    QCOMPARE(m_app->store.state(), StoreState{}); // the unsent change went with the reset
    QVERIFY(!m_app->engine.isSyncing());
    QVERIFY(finished.size() == 1 || finished.wait(5000));
    if (!stalled)
        QVERIFY(!fakeHasPage(title));
}

void TestLogout::runningCycleIsAwaited()
{
    signIn();
    queuePage(QStringLiteral("In flight"));
    m_fake.setFault(PagesPath, FakeService::Fault::delay(300));
    QSignalSpy cycles(&m_app->engine, &SyncEngine::cycleFinished);
    auto cycle = m_app->engine.syncNow();
    QVERIFY(m_app->engine.isSyncing());
    // Queued after the running cycle took its snapshot of the outbox.
    queuePage(QStringLiteral("Queued late"));

    auto *flow = new LogoutFlow(m_app->context(), 5s);
    QSignalSpy signedOut(flow, &LogoutFlow::signedOut);
    QSignalSpy finished(flow, &LogoutFlow::finished);
    QList<int> cyclesAtSignOut;
    connect(flow, &LogoutFlow::signedOut, this, [&] { cyclesAtSignOut.append(int(cycles.size())); });
    flow->start();
    QVERIFY(m_app->session.token());
    QVERIFY(finished.wait(10000));

    // Both cycles ended before the sign-out: the running one and the flow's own.
    QCOMPARE(cyclesAtSignOut, QList<int>{2});
    QVERIFY(fakeHasPage(QStringLiteral("In flight")));
    QVERIFY(fakeHasPage(QStringLiteral("Queued late")));
    QVERIFY(indexOfRequest(PagesPath, 1) < indexOfRequest(LogoutPath));
    QCOMPARE(m_app->store.state(), StoreState{});
}

void TestLogout::cycleOutlastingTheBoundAppliesNothing()
{
    signIn();
    // Another device's page: a pull that got through would bring it into the store.
    PageCreateReq other;
    other.workspace_id = m_account.workspaceId;
    other.title = QStringLiteral("From elsewhere");
    QVERIFY(runTask(TestDevice(m_fake.origin(), m_account.token).client().createPage(other)).ok());
    queuePage(QStringLiteral("Mine"));
    m_fake.setFault(SyncPath, FakeService::Fault::delay(1000));

    QSignalSpy cycles(&m_app->engine, &SyncEngine::cycleFinished);
    auto cycle = m_app->engine.syncNow();
    QVERIFY(m_app->engine.isSyncing());

    auto *flow = new LogoutFlow(m_app->context(), 200ms);
    QSignalSpy finished(flow, &LogoutFlow::finished);
    QElapsedTimer clock;
    clock.start();
    flow->start();
    QVERIFY(finished.wait(5000));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));

    // The cycle was given up before the reset; nothing of its pull lands afterwards.
    QCOMPARE(cycles.size(), 1);
    QVERIFY(!m_app->engine.isSyncing());
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() > 1300, 3000); // past the moment the pull's reply was due
    QCOMPARE(m_app->store.state(), StoreState{});
    QCOMPARE(m_fake.requestsTo(SyncPath).size(), 1);
}

void TestLogout::withoutTokenNoRequestIsSent()
{
    FNPage page;
    page.title = QStringLiteral("Left over");
    m_app->store.upsertPage(page);
    m_fake.clearRequests();

    auto *flow = new LogoutFlow(m_app->context(), 5s);
    QSignalSpy finished(flow, &LogoutFlow::finished);
    flow->start();
    QVERIFY(finished.size() == 1 || finished.wait(2000));
    QCOMPARE(m_app->store.state(), StoreState{});
    QVERIFY(m_fake.requests().isEmpty());
}

void TestLogout::favouritesAndLastPageComeBackAtTheNextSignIn_data()
{
    QTest::addColumn<bool>("serverIDKnownAtToggle");
    QTest::newRow("marked once on the service") << true;
    QTest::newRow("marked while being made") << false;
}

void TestLogout::favouritesAndLastPageComeBackAtTheNextSignIn()
{
    QFETCH(bool, serverIDKnownAtToggle);
    signIn();
    const FNPage pinned = queuePage(QStringLiteral("Pinned"));
    queuePage(QStringLiteral("Other"));
    if (!serverIDKnownAtToggle)
        m_app->favorites.toggle(pinned.localID);
    QVERIFY(runTask(m_app->engine.syncNow()).ok());
    QTRY_VERIFY(m_app->store.page(pinned.localID)->serverID != 0);
    if (serverIDKnownAtToggle)
        m_app->favorites.toggle(pinned.localID, m_app->store.page(pinned.localID)->serverID);
    m_app->settings.setString(LastOpenKey, pinned.localID);

    auto *flow = new LogoutFlow(m_app->context(), 5s);
    QSignalSpy finished(flow, &LogoutFlow::finished);
    flow->start();
    QVERIFY(finished.wait(5000));

    // The same account again, from a fresh store (as after a restart): the pull makes new local ids.
    m_app.reset();
    m_app = std::make_unique<AppHarness>(*m_device);
    m_app->session.signIn(m_fake.issueToken(m_account.userId),
                          AuthUser{m_account.userId, QStringLiteral("Lee Ver"), QString()});
    LibraryView sidebar(m_app->context());
    QVERIFY(runTask(m_app->engine.syncNow()).ok());
    QTRY_VERIFY(m_app->store.state().pages.size() == 2);
    QVERIFY(!m_app->store.page(pinned.localID));

    QStringList favourites;
    bool inFavourites = false;
    for (const LibraryTree::Row &row : sidebar.tree().listContent()) {
        if (row.kind == LibraryTree::Row::Kind::FavoritesCaption)
            inFavourites = true;
        else if (row.kind == LibraryTree::Row::Kind::Divider)
            inFavourites = false;
        else if (inFavourites)
            favourites << row.title;
    }
    QCOMPARE(favourites, QStringList{QStringLiteral("Pinned")});
    const auto reopened = MainView::lastOpenPage(
        m_app->store.state(), m_app->settings.string(LastOpenKey),
        m_app->settings.string(QString::fromLatin1(MainView::lastOpenPageServerIDKey)));
    QVERIFY(reopened);
    QCOMPARE(reopened->title, QStringLiteral("Pinned"));
}

void TestLogout::keptRecordingGetsALastTry_data()
{
    QTest::addColumn<QString>("service");
    QTest::addColumn<bool>("recorded");

    // Its pause after the failure not over yet: only the logout's try sends it.
    QTest::newRow("service back") << "back" << true;
    QTest::newRow("service still failing") << "failing" << true;
    QTest::newRow("offline") << "offline" << true;
    QTest::newRow("nothing kept") << "back" << false;
}

void TestLogout::keptRecordingGetsALastTry()
{
    QFETCH(QString, service);
    QFETCH(bool, recorded);
    signIn();
    const FNPage page = queuePage(QStringLiteral("Voice notes"));
    QVERIFY(runTask(m_app->engine.syncNow()).ok());
    FNBlock block;
    block.pageLocalID = page.localID;
    block.pageServerID = m_app->store.page(page.localID)->serverID;
    block.type = QStringLiteral("audio");
    block.contentJSON = QStringLiteral("{}");
    m_app->store.upsertBlock(block);
    Outbox::of(m_app->store).blockEdited(page.localID, block.localID, BlockFields::All);
    Outbox::of(m_app->store).pageBlocksUpsert(page.localID);
    QVERIFY(runTask(m_app->engine.syncNow()).ok());
    QVERIFY(m_app->store.state().outbox.empty());

    QTemporaryDir temp;
    std::optional<QString> kept;
    if (recorded) {
        QFile file(temp.filePath(QStringLiteral("pn-rec-1.m4a")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("a voice");
        file.close();
        QVERIFY(m_app->recordings.keep(block.localID, file.fileName()));
        m_fake.setFault(UploadPath, FakeService::Fault::http(503, "{}"));
        QCOMPARE(runTask(m_app->recordings.upload(block.localID)).value, std::optional<bool>(false));
        kept = m_app->recordings.fileOf(block.localID);
        QVERIFY(kept && QFile::exists(*kept));
    }
    m_fake.clearFaults();
    if (service == QLatin1String("failing"))
        m_fake.setFault(UploadPath, FakeService::Fault::http(503, "{}"));
    else if (service == QLatin1String("offline"))
        m_fake.setOffline(true);
    m_fake.clearRequests();

    // From the account menu, as the user logs out.
    PresetConfirmer confirmer(true);
    auto view = std::make_unique<MainView>(m_app->context());
    view->setConfirmer(&confirmer);
    view->setLogoutWait(3s);
    QCOMPARE(view->syncButton()->status().unsynced, qsizetype(recorded ? 1 : 0));
    view->accountMenu()->actions().at(2)->trigger();
    QCOMPARE(confirmer.questions().size(), 1);
    // What the badge counts, the question counts.
    QCOMPARE(confirmer.questions()[0].message, LogoutFlow::logoutMessage(recorded ? 1 : 0));
    QPointer<LogoutFlow> flow = view->logoutFlow();
    QVERIFY(flow);
    QSignalSpy finished(flow.data(), &LogoutFlow::finished);
    QVERIFY(finished.wait(10000));

    QVERIFY(!m_app->session.token());
    QCOMPARE(m_app->store.state(), StoreState{});
    if (kept)
        QVERIFY(!QFile::exists(*kept)); // gone with the data set
    m_fake.setOffline(false);
    const qsizetype uploads = m_fake.requestsTo(UploadPath).size();
    QCOMPARE(uploads, qsizetype(recorded && service != QLatin1String("offline") ? 1 : 0));
    if (service == QLatin1String("back") && recorded) {
        // Landed, and its address reached the block on the service before the session ended.
        const auto stored = m_fake.storedBlocks(block.pageServerID);
        QCOMPARE(stored.size(), size_t(1));
        const QString address = FakeService::stringField(stored.front().content, QStringLiteral("url"));
        QVERIFY(address.startsWith(QStringLiteral("http")));
        QVERIFY(indexOfRequest(UploadPath) < indexOfRequest(BlocksPath));
        QVERIFY(indexOfRequest(BlocksPath) < indexOfRequest(LogoutPath));
    }
}

QTEST_MAIN(TestLogout)
#include "tst_logout.moc"
