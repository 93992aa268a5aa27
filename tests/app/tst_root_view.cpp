#include "api/service_client.h"
#include "app/app_window.h"
#include "app/auth_view.h"
#include "app/local_data_owner.h"
#include "app/main_placeholder_view.h"
#include "app/welcome_view.h"
#include "fake-service/fake_service.h"
#include "platform/app_events.h"
#include "support/app_harness.h"
#include "support/task_outcome.h"
#include "ui/toast_overlay.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using Route = RootView::Route;

namespace {

const QString SyncPath = QStringLiteral("/api/sync.php");
const QString PagesPath = QStringLiteral("/api/pages.php");
const QString Expired = QStringLiteral("Session expired — please sign in again.");
const QString OwnerKey = QString::fromLatin1(LocalDataOwner::settingsKey);

} // namespace

class TestRootView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void firstLaunchWelcomeThenSignIn();
    void storedSessionGoesStraightToMain();
    void signUpLandsInMain();
    void formTakesTheFirstKeys_data();
    void formTakesTheFirstKeys();
    void expiryOnPullEndsSession();
    void staleRefusalKeepsNewSession_data();
    void staleRefusalKeepsNewSession();
    void signingInPicksOwnerData_data();
    void signingInPicksOwnerData();

private:
    // One launch of the app on the device, its window shown.
    void launch();
    void quit();
    void logInThroughScreen(const QString &email, const QString &password);
    // A session already stored on the device, as a previous run would leave it.
    FakeService::Account storedSession(const QString &email);

    std::unique_ptr<FakeService> m_service;
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<AppWindow> m_window;
    QList<QByteArray> m_screensMade;
};

void TestRootView::init()
{
    // A fresh service each time, so the same e-mail can sign up in every test.
    m_service = std::make_unique<FakeService>();
    QVERIFY(m_service->start());
    m_device = std::make_unique<AppDevice>(m_service->origin());
}

void TestRootView::cleanup()
{
    quit();
    m_device.reset();
    m_service.reset();
}

void TestRootView::launch()
{
    m_app = std::make_unique<AppHarness>(*m_device);
    m_screensMade.clear();
    m_window = std::make_unique<AppWindow>(
        m_app->context(), [this](const AppContext &context) { return new MainPlaceholderView(context); });
    RootView *root = m_window->rootView();
    QCOMPARE(root->count(), 0); // nothing is chosen before the session is restored
    connect(root, &QStackedWidget::currentChanged, root,
            [this, root] { m_screensMade.append(root->currentWidget()->metaObject()->className()); });
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestRootView::quit()
{
    if (m_app)
        m_app->engine.stopLoop();
    m_window.reset();
    m_app.reset();
}

void TestRootView::logInThroughScreen(const QString &email, const QString &password)
{
    auto *auth = qobject_cast<AuthView *>(m_window->rootView()->currentScreen());
    QVERIFY(auth);
    QTest::keyClicks(auth->emailField(), email);
    QTest::keyClicks(auth->passwordField(), password);
    QTest::mouseClick(auth->submitButton(), Qt::LeftButton);
}

FakeService::Account TestRootView::storedSession(const QString &email)
{
    const auto account = m_service->createAccount(email, QStringLiteral("secret1"), QStringLiteral("Ann"));
    AppHarness earlier(*m_device);
    earlier.session.signIn(account.token, AuthUser{account.userId, QStringLiteral("Ann"), email});
    earlier.settings.setBool(QString::fromLatin1(RootView::didSeeWelcomeKey), true);
    earlier.settings.setInteger(OwnerKey, account.userId);
    return account;
}

void TestRootView::firstLaunchWelcomeThenSignIn()
{
    launch();
    QCOMPARE(m_window->rootView()->currentRoute(), std::optional<Route>(Route::welcome));
    auto *welcome = qobject_cast<WelcomeView *>(m_window->rootView()->currentScreen());
    QVERIFY(welcome);
    QVERIFY(!m_app->engine.isRunning());

    QTest::mouseClick(welcome->continueButton(), Qt::LeftButton);
    QCOMPARE(m_window->rootView()->currentRoute(), std::optional<Route>(Route::signIn));
    QVERIFY(qobject_cast<AuthView *>(m_window->rootView()->currentScreen()));
    QCOMPARE(m_app->settings.boolean(QString::fromLatin1(RootView::didSeeWelcomeKey)),
             std::optional<bool>(true));
    QCOMPARE(m_window->rootView()->count(), 1);
    QVERIFY(m_service->requests().isEmpty());

    // The flag survives a relaunch.
    quit();
    launch();
    QCOMPARE(m_screensMade, QList<QByteArray>{"AuthView"});
}

void TestRootView::storedSessionGoesStraightToMain()
{
    const auto account = storedSession(QStringLiteral("ann@example.com"));
    // The welcome flag does not matter once a session is stored.
    Settings(m_device->settingsPath()).remove(QString::fromLatin1(RootView::didSeeWelcomeKey));

    launch();
    QCOMPARE(m_screensMade, QList<QByteArray>{"MainPlaceholderView"});
    QCOMPARE(m_window->rootView()->currentRoute(), std::optional<Route>(Route::main));
    QCOMPARE(m_app->session.userID(), std::optional<qint64>(account.userId));
    QTRY_VERIFY(m_app->engine.isRunning());
    QTRY_VERIFY(!m_service->requestsTo(SyncPath).isEmpty());
    QCOMPARE(m_service->requestsTo(SyncPath).constFirst().header("Authorization"),
             std::optional<QByteArray>("Bearer " + account.token.toUtf8()));
}

void TestRootView::signUpLandsInMain()
{
    launch();
    QTest::mouseClick(qobject_cast<WelcomeView *>(m_window->rootView()->currentScreen())->continueButton(),
                      Qt::LeftButton);
    auto *auth = qobject_cast<AuthView *>(m_window->rootView()->currentScreen());
    QVERIFY(auth);
    QTest::mouseClick(auth->segment(AuthView::Mode::signup), Qt::LeftButton);
    QTest::keyClicks(auth->nameField(), QStringLiteral("Cleo"));
    QTest::keyClicks(auth->emailField(), QStringLiteral("cleo@example.com"));
    QTest::keyClicks(auth->passwordField(), QStringLiteral("secret1"));
    QTest::mouseClick(auth->submitButton(), Qt::LeftButton);

    QTRY_COMPARE(m_window->rootView()->currentRoute(), std::optional<Route>(Route::main));
    QVERIFY(qobject_cast<MainPlaceholderView *>(m_window->rootView()->currentScreen()));
    QCOMPARE(m_app->session.userName(), std::optional<QString>(QStringLiteral("Cleo")));
    QVERIFY(m_app->engine.isRunning());
    QCOMPARE(m_window->rootView()->count(), 1);
    QTRY_VERIFY(!m_service->requestsTo(SyncPath).isEmpty());
    QCOMPARE(m_service->userCount(), 1);
}

void TestRootView::formTakesTheFirstKeys_data()
{
    QTest::addColumn<bool>("relaunch");
    QTest::addColumn<QList<int>>("tabs"); // the segments clicked, in order
    QTest::newRow("after Get started") << false << QList<int>{};
    QTest::newRow("after the sign-up tab") << false << QList<int>{int(AuthView::Mode::signup)};
    QTest::newRow("after switching back")
        << false << QList<int>{int(AuthView::Mode::signup), int(AuthView::Mode::login)};
    QTest::newRow("after a relaunch") << true << QList<int>{};
}

void TestRootView::formTakesTheFirstKeys()
{
    QFETCH(bool, relaunch);
    QFETCH(QList<int>, tabs);
    const bool signUp = !tabs.isEmpty() && tabs.back() == int(AuthView::Mode::signup);
    if (!signUp)
        m_service->createAccount(QStringLiteral("dee@example.com"), QStringLiteral("secret1"),
                                 QStringLiteral("Dee"));
    launch();
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QTest::mouseClick(qobject_cast<WelcomeView *>(m_window->rootView()->currentScreen())->continueButton(),
                      Qt::LeftButton);
    if (relaunch) {
        quit();
        launch();
        QApplication::setActiveWindow(m_window.get());
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }
    auto *auth = qobject_cast<AuthView *>(m_window->rootView()->currentScreen());
    QVERIFY(auth);
    for (int tab : tabs)
        QTest::mouseClick(auth->segment(AuthView::Mode(tab)), Qt::LeftButton);

    // Typed straight away, wherever the keyboard is, as a user does.
    const auto typeField = [](const QString &text) {
        QVERIFY(QApplication::focusWidget());
        QTest::keyClicks(QApplication::focusWidget(), text);
    };
    if (signUp) {
        typeField(QStringLiteral("Dee"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    typeField(QStringLiteral("dee@example.com"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    typeField(QStringLiteral("secret1"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);

    QTRY_COMPARE(m_window->rootView()->currentRoute(), std::optional<Route>(Route::main));
    QCOMPARE(m_app->session.userName(), std::optional<QString>(QStringLiteral("Dee")));
}

void TestRootView::expiryOnPullEndsSession()
{
    const auto account = storedSession(QStringLiteral("ann@example.com"));
    {
        LocalStore earlier(m_device->storeFolder());
        FNPage page;
        page.title = QStringLiteral("Kept through expiry");
        earlier.upsertPage(page);
        earlier.save();
    }
    m_service->setFault(SyncPath, FakeService::Fault::http(401, R"({"error":"Token expired"})"));
    launch();
    QSignalSpy toasts(&m_app->toasts, &ToastCenter::currentChanged);

    QTRY_COMPARE(m_window->rootView()->currentRoute(), std::optional<Route>(Route::signIn));
    QVERIFY(!m_app->engine.isRunning());
    QVERIFY(!m_app->session.token());
    QVERIFY(!m_app->secrets.keychainRead(QString::fromLatin1(SessionStore::keychainKey)));
    QCOMPARE(m_app->toasts.current()->message, Expired);
    QVERIFY(!m_app->toasts.current()->actionLabel);
    QCOMPARE(toasts.size(), 1);
    // The toast is drawn over the sign-in screen.
    QVERIFY(m_window->toastOverlay()->isVisible());
    QCOMPARE(m_window->toastOverlay()->messageLabel()->text(), Expired);
    QVERIFY(!m_window->toastOverlay()->actionButton()->isVisible());
    // Expiry keeps the local data.
    QCOMPARE(m_app->store.state().pages.size(), size_t(1));

    // A second report changes nothing.
    m_app->events.postAuthExpired();
    QCOMPARE(toasts.size(), 1);
    QCOMPARE(m_window->rootView()->currentRoute(), std::optional<Route>(Route::signIn));

    // Signing in again starts a new loop, with the data still there.
    m_service->clearFaults();
    logInThroughScreen(QStringLiteral("ann@example.com"), QStringLiteral("secret1"));
    QTRY_COMPARE(m_window->rootView()->currentRoute(), std::optional<Route>(Route::main));
    QVERIFY(m_app->engine.isRunning());
    QCOMPARE(m_app->session.userID(), std::optional<qint64>(account.userId));
    QVERIFY(m_app->store.page(m_app->store.state().pages.front().localID) != nullptr);
    QCOMPARE(m_app->store.state().pages.front().title, QStringLiteral("Kept through expiry"));
}

void TestRootView::staleRefusalKeepsNewSession_data()
{
    QTest::addColumn<bool>("fromCycle"); // else from an upload
    QTest::newRow("upload sent with an earlier token") << false;
    QTest::newRow("cycle of the session before a new sign-in") << true;
}

void TestRootView::staleRefusalKeepsNewSession()
{
    QFETCH(bool, fromCycle);
    const auto account = storedSession(QStringLiteral("ann@example.com"));
    if (fromCycle) {
        auto slow = FakeService::Fault::http(401, R"({"error":"Token expired"})");
        slow.delayMs = 600;
        slow.remaining = 1;
        m_service->setFault(SyncPath, slow);
    }
    launch();
    QSignalSpy toasts(&m_app->toasts, &ToastCenter::currentChanged);
    QSignalSpy cycles(&m_app->engine, &SyncEngine::cycleFinished);
    const QString refused = m_service->issueToken(account.userId);
    if (fromCycle) {
        // The first cycle waits on the service while an upload finds the session expired and the
        // user signs in again at once.
        QTRY_VERIFY(!m_service->requestsTo(SyncPath).isEmpty());
        m_app->events.postAuthExpired(account.token);
        QCOMPARE(m_window->rootView()->currentRoute(), std::optional<Route>(Route::signIn));
        logInThroughScreen(QStringLiteral("ann@example.com"), QStringLiteral("secret1"));
        QTRY_COMPARE(m_window->rootView()->currentRoute(), std::optional<Route>(Route::main));
        // The old cycle ends first: the new loop's first cycle found it still running.
        QTRY_VERIFY_WITH_TIMEOUT(!cycles.isEmpty(), 3000);
    } else {
        // An upload the earlier session started, answered after this one signed in: its client
        // speaks for that session but tells the same app.
        m_service->revokeToken(refused);
        AppDevice earlier(m_service->origin());
        DeviceServices stale(earlier.settingsPath(), earlier.keyring, earlier.origin);
        stale.setToken(refused, account.userId);
        ServiceClient client(m_service->origin(), stale.session, m_app->events, m_app->connectivity);
        const auto out = runTask(client.upload("png", QStringLiteral("a.png"), QStringLiteral("image/png")));
        QVERIFY(out.apiError());
        QCOMPARE(out.apiError()->status(), 401);
    }
    QCOMPARE(m_window->rootView()->currentRoute(), std::optional<Route>(Route::main));
    QVERIFY(m_app->session.token());
    QVERIFY(m_app->engine.isRunning());
    QCOMPARE(toasts.size(), fromCycle ? 1 : 0);
}

void TestRootView::signingInPicksOwnerData_data()
{
    QTest::addColumn<QString>("recordedOwner"); // "ann", "bo" or "" for none
    QTest::addColumn<bool>("reset");

    QTest::newRow("same account keeps its data") << "ann" << false;
    QTest::newRow("another account's data is reset") << "bo" << true;
    QTest::newRow("unrecorded data is kept") << "" << false;
}

void TestRootView::signingInPicksOwnerData()
{
    QFETCH(QString, recordedOwner);
    QFETCH(bool, reset);

    const auto ann = m_service->createAccount(QStringLiteral("ann@example.com"), QStringLiteral("secret1"),
                                              QStringLiteral("Ann"));
    const auto bo = m_service->createAccount(QStringLiteral("bo@example.com"), QStringLiteral("secret1"),
                                             QStringLiteral("Bo"));
    const auto &owner = recordedOwner == QLatin1String("bo") ? bo : ann;

    // The device holds the owner's page and its unsent creation, with no session (it expired).
    FNPage page;
    page.workspaceServerID = owner.workspaceId;
    page.title = QStringLiteral("Private notes");
    {
        Settings settings(m_device->settingsPath());
        settings.setBool(QString::fromLatin1(RootView::didSeeWelcomeKey), true);
        if (!recordedOwner.isEmpty())
            settings.setInteger(OwnerKey, owner.userId);
        LocalStore earlier(m_device->storeFolder());
        earlier.upsertPage(page);
        earlier.change([&](StoreState &s) {
            FNSyncOp op;
            op.entity = QStringLiteral("page");
            op.op = QStringLiteral("create");
            op.refLocalID = page.localID;
            op.payloadJSON =
                QStringLiteral(R"({"workspace_id":%1,"title":"Private notes"})").arg(owner.workspaceId);
            s.outbox.push_back(op);
            s.cursorServerTs = 1234;
        });
        earlier.save();
    }

    launch();
    QSignalSpy cycles(&m_app->engine, &SyncEngine::cycleFinished);
    logInThroughScreen(QStringLiteral("ann@example.com"), QStringLiteral("secret1"));
    QTRY_COMPARE(m_window->rootView()->currentRoute(), std::optional<Route>(Route::main));
    QTRY_VERIFY_WITH_TIMEOUT(!cycles.isEmpty(), 10000);

    if (reset) {
        QVERIFY(m_app->store.state().pages.empty());
        QVERIFY(m_app->store.state().outbox.empty());
        QVERIFY(m_service->requestsTo(PagesPath).isEmpty());
        QCOMPARE(m_service->requestsTo(SyncPath).constFirst().body, QByteArray(R"({"since_ts":0})"));
    } else {
        QVERIFY(m_app->store.page(page.localID) != nullptr);
        QCOMPARE(m_service->requestsTo(PagesPath).size(), 1);
    }
    QCOMPARE(m_app->settings.integer(OwnerKey), std::optional<qint64>(ann.userId));
}

QTEST_MAIN(TestRootView)
#include "tst_root_view.moc"
