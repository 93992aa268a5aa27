#include "api/api_client.h"
#include "app/auth_view.h"
#include "fake-service/fake_service.h"
#include "support/app_harness.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using Mode = AuthView::Mode;

namespace {

const QString LoginPath = QStringLiteral("/api/auth/login.php");
const QString SignupPath = QStringLiteral("/api/auth/signup.php");

} // namespace

class TestAuthView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void newScreenShowsLogin();
    void signUpModeKeepsTypedValues();
    void submitEnabling_data();
    void submitEnabling();
    void logInStoresSessionAndStartsEngine();
    void signUpSendsWhatWasTyped();
    void refusalMessages_data();
    void refusalMessages();
    void busyWhileInFlight();
    void forgotPasswordAndHost();

private:
    void type(QLineEdit *field, const QString &text);
    void click(QPushButton *button);
    void waitDone();

    FakeService m_fake;
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<AuthView> m_view;
};

void TestAuthView::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestAuthView::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
    m_device = std::make_unique<AppDevice>(m_fake.origin());
    m_app = std::make_unique<AppHarness>(*m_device);
    m_view = std::make_unique<AuthView>(m_app->context());
    m_view->resize(600, 700);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void TestAuthView::cleanup()
{
    m_view.reset();
    m_app->engine.stopLoop();
    m_app.reset();
    m_device.reset();
}

void TestAuthView::type(QLineEdit *field, const QString &text)
{
    QVERIFY(field->isVisible());
    QTest::keyClicks(field, text);
}

void TestAuthView::click(QPushButton *button)
{
    QVERIFY(button->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
}

void TestAuthView::waitDone()
{
    QTRY_VERIFY_WITH_TIMEOUT(!m_view->form().loading(), 10000);
}

void TestAuthView::newScreenShowsLogin()
{
    QCOMPARE(m_view->subtitleLabel()->text(), QStringLiteral("Welcome back"));
    QVERIFY(m_view->segment(Mode::login)->isChecked());
    QCOMPARE(m_view->segment(Mode::login)->text(), QStringLiteral("Log in"));
    QCOMPARE(m_view->segment(Mode::signup)->text(), QStringLiteral("Sign up"));
    QVERIFY(!m_view->nameField()->isVisible());
    QCOMPARE(m_view->emailField()->placeholderText(), QStringLiteral("Email"));
    QCOMPARE(m_view->passwordField()->placeholderText(), QStringLiteral("Password"));
    QCOMPARE(m_view->passwordField()->echoMode(), QLineEdit::Password);
    QCOMPARE(m_view->submitButton()->text(), QStringLiteral("Log in"));
    QVERIFY(!m_view->submitButton()->isEnabled());
    QVERIFY(m_view->forgotPasswordButton()->isVisible());
    QCOMPARE(m_view->forgotPasswordButton()->text(), QStringLiteral("Forgot password?"));
    QVERIFY(!m_view->errorLabel()->isVisible());
}

void TestAuthView::signUpModeKeepsTypedValues()
{
    type(m_view->emailField(), QStringLiteral("ann@example.com"));
    type(m_view->passwordField(), QStringLiteral("secret1"));
    click(m_view->segment(Mode::signup));

    QCOMPARE(m_view->subtitleLabel()->text(), QStringLiteral("Create your account"));
    QVERIFY(m_view->nameField()->isVisible());
    QCOMPARE(m_view->nameField()->placeholderText(), QStringLiteral("Your name"));
    QVERIFY(m_view->nameField()->y() < m_view->emailField()->y());
    QCOMPARE(m_view->submitButton()->text(), QStringLiteral("Create account"));
    QVERIFY(!m_view->forgotPasswordButton()->isVisible());
    QCOMPARE(m_view->emailField()->text(), QStringLiteral("ann@example.com"));
    QCOMPARE(m_view->form().password(), QStringLiteral("secret1"));
    QVERIFY(!m_view->submitButton()->isEnabled()); // the name is still missing

    click(m_view->segment(Mode::login));
    QVERIFY(m_view->submitButton()->isEnabled());
    QCOMPARE(m_view->subtitleLabel()->text(), QStringLiteral("Welcome back"));
}

void TestAuthView::submitEnabling_data()
{
    QTest::addColumn<bool>("signup");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("login, all empty") << false << ""
                                      << ""
                                      << "" << false;
    QTest::newRow("login, no password") << false << ""
                                        << "a@b.c"
                                        << "" << false;
    QTest::newRow("login, no email") << false << ""
                                     << ""
                                     << "pw" << false;
    QTest::newRow("login, both") << false << ""
                                 << "a@b.c"
                                 << "pw" << true;
    QTest::newRow("login ignores a typed name") << false << "Ann"
                                                << "a@b.c"
                                                << "pw" << true;
    QTest::newRow("login, spaces count") << false << ""
                                         << " "
                                         << " " << true;
    QTest::newRow("signup, no name") << true << ""
                                     << "a@b.c"
                                     << "pw" << false;
    QTest::newRow("signup, all three") << true << "Ann"
                                       << "a@b.c"
                                       << "pw" << true;
    QTest::newRow("signup, spaces count") << true << " "
                                          << " "
                                          << " " << true;
}

void TestAuthView::submitEnabling()
{
    QFETCH(bool, signup);
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(QString, password);
    QFETCH(bool, enabled);

    // The name is typed in sign-up mode, where its field shows, then the mode is chosen.
    click(m_view->segment(Mode::signup));
    type(m_view->nameField(), name);
    if (!signup)
        click(m_view->segment(Mode::login));
    type(m_view->emailField(), email);
    type(m_view->passwordField(), password);
    QCOMPARE(m_view->submitButton()->isEnabled(), enabled);
}

void TestAuthView::logInStoresSessionAndStartsEngine()
{
    const auto account = m_fake.createAccount(QStringLiteral("ann@example.com"), QStringLiteral("secret1"),
                                              QStringLiteral("Ann"));
    type(m_view->emailField(), QStringLiteral("ann@example.com"));
    type(m_view->passwordField(), QStringLiteral("secret1"));
    // Return in a field sends nothing.
    QTest::keyClick(m_view->passwordField(), Qt::Key_Return);
    QVERIFY(m_fake.requestsTo(LoginPath).isEmpty());

    click(m_view->submitButton());
    waitDone();

    QVERIFY(!m_view->form().error());
    QVERIFY(!m_view->errorLabel()->isVisible());
    QVERIFY(m_app->session.token().has_value());
    QCOMPARE(m_app->session.userID(), std::optional<qint64>(account.userId));
    QCOMPARE(m_app->session.userName(), std::optional<QString>(QStringLiteral("Ann")));
    QCOMPARE(m_app->secrets.keychainRead(QString::fromLatin1(SessionStore::keychainKey)),
             m_app->session.token());
    QVERIFY(m_app->engine.isRunning());
    // The engine's first cycle runs with the new token.
    QTRY_VERIFY(!m_fake.requestsTo(QStringLiteral("/api/sync.php")).isEmpty());

    const HttpRequest login = m_fake.requestsTo(LoginPath).constLast();
    QVERIFY(!login.header("Authorization"));
    QCOMPARE(login.body,
             QByteArray(R"({"email":"ann@example.com","password":"secret1","device_label":"Mac"})"));
}

void TestAuthView::signUpSendsWhatWasTyped()
{
    click(m_view->segment(Mode::signup));
    type(m_view->nameField(), QStringLiteral(" Bo "));
    type(m_view->emailField(), QStringLiteral(" Bo@Example.com"));
    type(m_view->passwordField(), QStringLiteral("hunter22 "));
    click(m_view->submitButton());
    waitDone();

    QCOMPARE(m_fake.requestsTo(SignupPath).size(), 1);
    QCOMPARE(m_fake.requestsTo(SignupPath).constFirst().body,
             QByteArray(
                 R"({"email":" Bo@Example.com","password":"hunter22 ","name":" Bo ","device_label":"Mac"})"));
    QVERIFY(!m_view->form().error());
    QCOMPARE(m_app->session.userName(), std::optional<QString>(QStringLiteral("Bo")));
    QVERIFY(m_app->engine.isRunning());
}

void TestAuthView::refusalMessages_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("html");
    QTest::addColumn<QString>("message");

    QTest::newRow("wrong password (401)") << LoginPath << 0 << QByteArray() << false << "Sign-in failed";
    QTest::newRow("400 with a JSON error")
        << LoginPath << 400 << QByteArray(R"({"error":"Email is not verified."})") << false
        << "Email is not verified.";
    QTest::newRow("403 with a JSON error")
        << SignupPath << 403 << QByteArray(R"({"error":"Sign-ups are closed."})") << false
        << "Sign-ups are closed.";
    QTest::newRow("empty error text") << LoginPath << 400 << QByteArray(R"({"error":""})") << false << "";
    QTest::newRow("error not a string")
        << LoginPath << 400 << QByteArray(R"({"error":42})") << false << "Sign-in failed";
    QTest::newRow("500 HTML page") << LoginPath << 500 << QByteArray() << true << "Sign-in failed";
    QTest::newRow("2xx that does not decode") << LoginPath << 200 << QByteArray(R"({"token":"t"})") << false
                                              << "Couldn't read the server's response.";
    QTest::newRow("token with a line break")
        << LoginPath << 200
        << QByteArray(
               R"({"token":"t\r\nX-Injected: 1","user":{"id":1,"name":"Ann","email":"ann@example.com"}})")
        << false << QString::fromUtf8(SessionStore::kUnusableTokenText);
}

void TestAuthView::refusalMessages()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, html);
    QFETCH(QString, message);

    m_fake.createAccount(QStringLiteral("ann@example.com"), QStringLiteral("secret1"), QStringLiteral("Ann"));
    if (html)
        m_fake.setFault(path, FakeService::Fault::htmlPage(status));
    else if (status)
        m_fake.setFault(path, FakeService::Fault::http(status, body));

    if (path == SignupPath) {
        click(m_view->segment(Mode::signup));
        type(m_view->nameField(), QStringLiteral("Ann"));
    }
    type(m_view->emailField(), QStringLiteral("ann@example.com"));
    type(m_view->passwordField(), status ? QStringLiteral("secret1") : QStringLiteral("wrong!"));
    click(m_view->submitButton());
    waitDone();

    QCOMPARE(m_view->form().error(), std::optional<QString>(message));
    QVERIFY(m_view->errorLabel()->isVisible());
    QCOMPARE(m_view->errorLabel()->text(), message);
    QVERIFY(m_view->errorLabel()->height() > 0);
    // A failure touches nothing but the message, and keeps what was typed.
    QVERIFY(!m_app->session.token());
    QVERIFY(!m_app->secrets.keychainRead(QString::fromLatin1(SessionStore::keychainKey)));
    QVERIFY(!m_app->engine.isRunning());
    QCOMPARE(m_view->emailField()->text(), QStringLiteral("ann@example.com"));
    QVERIFY(m_view->submitButton()->isEnabled());

    // The next submit clears the message while it runs.
    m_fake.setFault(path, FakeService::Fault::delay(50));
    click(m_view->submitButton());
    QVERIFY(!m_view->form().error());
    QVERIFY(!m_view->errorLabel()->isVisible());
    waitDone();
}

void TestAuthView::busyWhileInFlight()
{
    m_fake.createAccount(QStringLiteral("ann@example.com"), QStringLiteral("secret1"), QStringLiteral("Ann"));
    m_fake.setFault(LoginPath, FakeService::Fault::delay(200));
    type(m_view->emailField(), QStringLiteral("ann@example.com"));
    type(m_view->passwordField(), QStringLiteral("secret1"));
    QVERIFY(!m_view->isBusyIndicatorShown());
    QSignalSpy finished(&m_view->form(), &AuthForm::submitFinished);

    click(m_view->submitButton());
    QVERIFY(m_view->form().loading());
    QVERIFY(!m_view->submitButton()->isEnabled());
    QVERIFY(m_view->isBusyIndicatorShown());
    QCOMPARE(m_view->submitButton()->text(), QStringLiteral("Log in"));
    // The fields and the mode picker stay usable; a second press sends nothing.
    QVERIFY(m_view->emailField()->isEnabled());
    QVERIFY(m_view->segment(Mode::signup)->isEnabled());
    click(m_view->segment(Mode::signup));
    QCOMPARE(m_view->submitButton()->text(), QStringLiteral("Create account"));
    m_view->form().submit();

    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(m_fake.requestsTo(LoginPath).size(), 1);
    QVERIFY(m_fake.requestsTo(SignupPath).isEmpty()); // finished by the mode it started with
    QVERIFY(!m_view->form().loading());
    QVERIFY(!m_view->isBusyIndicatorShown());
    QVERIFY(m_app->session.token());
}

void TestAuthView::forgotPasswordAndHost()
{
    QCOMPARE(m_view->hostLabel()->text(), QStringLiteral("127.0.0.1"));
    click(m_view->forgotPasswordButton());
    QCOMPARE(m_app->opener.opened(), QList<QUrl>{QUrl(m_fake.origin() + QStringLiteral("/forgot.php"))});
    QVERIFY(m_fake.requests().isEmpty());
}

QTEST_MAIN(TestAuthView)
#include "tst_auth_view.moc"
