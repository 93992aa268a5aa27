#include "api/api_error.h"
#include "api/session_store.h"
#include "platform/diag.h"
#include "platform/memory_secret_backend.h"
#include "platform/secret_store.h"
#include "platform/settings.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QString TokenAccount = QString::fromLatin1(SessionStore::keychainKey);
const QString IDKey = QString::fromLatin1(SessionStore::userIDKey);
const QString NameKey = QString::fromLatin1(SessionStore::userNameKey);
const QString EmailKey = QString::fromLatin1(SessionStore::userEmailKey);
const QString TokenNotSaved = QString::fromUtf8(SessionStore::kTokenNotSavedLine);

// One launch of the program over persistent secrets and settings.
struct Launch {
    explicit Launch(std::shared_ptr<MemorySecretBackend> backend, Settings &settings)
        : secrets(std::move(backend))
        , session(secrets, settings)
    {
        secrets.loadBlocking(SessionStore::keychainAccounts());
    }

    SecretStore secrets;
    SessionStore session;
};

} // namespace

class TestSessionStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();

    void constantsAsQuoted();
    void firstLaunchIsSignedOutAndDeletesNothing();
    void signInSurvivesRelaunch();
    void signInStoresDecimalIDAndSettings_data();
    void signInStoresDecimalIDAndSettings();
    void restoreUserID_data();
    void restoreUserID();
    void keychainIDWinsOverSettings();
    void tokenWithoutIDSignsOutAndClearsEverything();
    void nameAndEmailWithoutToken();
    void refusedTokenWriteWarnsAndStaysSignedIn();
    void refusedIDWriteFallsBackToSettings();
    void signInReplacesEarlierSession();
    void signOutWhileSignedOutIsHarmless();
    void changesAreSignalled();
    void tokenWithLineBreakIsNeverStored_data();
    void tokenWithLineBreakIsNeverStored();
    void storedTokenWithLineBreakSignsOut();

private:
    std::shared_ptr<MemorySecretBackend> m_backend;
    std::unique_ptr<Settings> m_settings;
};

void TestSessionStore::init()
{
    m_backend = std::make_shared<MemorySecretBackend>();
    m_settings = Settings::temporary();
}

void TestSessionStore::constantsAsQuoted()
{
    QCOMPARE(TokenAccount, QStringLiteral("penroost.notes.token"));
    QCOMPARE(IDKey, QStringLiteral("penroost.notes.userID"));
    QCOMPARE(NameKey, QStringLiteral("penroost.notes.userName"));
    QCOMPARE(EmailKey, QStringLiteral("penroost.notes.userEmail"));
    QCOMPARE(SessionStore::keychainAccounts(), QStringList({TokenAccount, IDKey}));
}

void TestSessionStore::firstLaunchIsSignedOutAndDeletesNothing()
{
    Launch launch(m_backend, *m_settings);
    QVERIFY(!launch.session.token());
    launch.session.restoreSession();
    QVERIFY(!launch.session.token());
    QVERIFY(!launch.session.userID());
    QVERIFY(!launch.session.userName());
    QVERIFY(!launch.session.userEmail());
    for (const QString &call : m_backend->calls())
        QVERIFY2(call.startsWith(QLatin1String("read ")), qPrintable(call));
}

void TestSessionStore::signInSurvivesRelaunch()
{
    {
        Launch first(m_backend, *m_settings);
        first.session.restoreSession();
        first.session.signIn(QStringLiteral("tok-abc"),
                             AuthUser{42, QStringLiteral("Ada"), QStringLiteral("ada@x.io")});
        QCOMPARE(first.session.token(), std::optional(QStringLiteral("tok-abc")));
        // Callers of the service read the token item themselves.
        QCOMPARE(first.secrets.keychainRead(TokenAccount), std::optional(QStringLiteral("tok-abc")));
    }
    Launch second(m_backend, *m_settings);
    second.session.restoreSession();
    QCOMPARE(second.session.token(), std::optional(QStringLiteral("tok-abc")));
    QCOMPARE(second.session.userID(), std::optional(qint64(42)));
    QCOMPARE(second.session.userName(), std::optional(QStringLiteral("Ada")));
    QCOMPARE(second.session.userEmail(), std::optional(QStringLiteral("ada@x.io")));
}

void TestSessionStore::signInStoresDecimalIDAndSettings_data()
{
    QTest::addColumn<qint64>("id");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("42") << qint64(42) << QByteArray("42");
    QTest::newRow("negative") << qint64(-7) << QByteArray("-7");
    QTest::newRow("zero") << qint64(0) << QByteArray("0");
    QTest::newRow("int64 max") << std::numeric_limits<qint64>::max() << QByteArray("9223372036854775807");
}

void TestSessionStore::signInStoresDecimalIDAndSettings()
{
    QFETCH(qint64, id);
    QFETCH(QByteArray, text);
    {
        Launch launch(m_backend, *m_settings);
        launch.session.signIn(QStringLiteral("t"), AuthUser{id, QStringLiteral("N"), QStringLiteral("e@x")});
    }
    QCOMPARE(m_backend->item(IDKey), std::optional(text));
    QCOMPARE(m_settings->integer(IDKey), std::optional(id));
    QCOMPARE(m_settings->string(NameKey), std::optional(QStringLiteral("N")));
    QCOMPARE(m_settings->string(EmailKey), std::optional(QStringLiteral("e@x")));
    QVERIFY(!m_settings->contains(TokenAccount));
}

// The id item is used when its whole text is an optionally signed decimal that fits in 64 bits;
// otherwise the settings integer is. With a token and no id, restore signs out.
void TestSessionStore::restoreUserID_data()
{
    QTest::addColumn<std::optional<QByteArray>>("item");
    QTest::addColumn<std::optional<QByteArray>>("setting"); // JSON text as stored
    QTest::addColumn<std::optional<qint64>>("expected");

    using Item = std::optional<QByteArray>;
    using ID = std::optional<qint64>;
    const Item none;
    const Item fallback("99");

    QTest::newRow("plain") << Item("42") << none << ID(42);
    QTest::newRow("plus sign") << Item("+42") << none << ID(42);
    QTest::newRow("minus sign") << Item("-7") << none << ID(-7);
    QTest::newRow("leading zeros") << Item("007") << none << ID(7);
    QTest::newRow("int64 max") << Item("9223372036854775807") << none
                               << ID(std::numeric_limits<qint64>::max());
    QTest::newRow("int64 min") << Item("-9223372036854775808") << none
                               << ID(std::numeric_limits<qint64>::min());
    QTest::newRow("leading space") << Item(" 42") << fallback << ID(99);
    QTest::newRow("trailing space") << Item("42 ") << fallback << ID(99);
    QTest::newRow("trailing newline") << Item("42\n") << fallback << ID(99);
    QTest::newRow("letter among digits") << Item("4a2") << fallback << ID(99);
    QTest::newRow("sign alone") << Item("-") << fallback << ID(99);
    QTest::newRow("two signs") << Item("+-4") << fallback << ID(99);
    QTest::newRow("empty") << Item("") << fallback << ID(99);
    QTest::newRow("past 64 bits") << Item("9223372036854775808") << fallback << ID(99);
    QTest::newRow("below 64 bits") << Item("-9223372036854775809") << fallback << ID(99);
    QTest::newRow("far past 64 bits") << Item("123456789012345678901234567890") << fallback << ID(99);
    QTest::newRow("fraction") << Item("4.0") << fallback << ID(99);
    QTest::newRow("non-ASCII digits") << Item("\xd9\xa4\xd9\xa2") << fallback << ID(99);
    QTest::newRow("fullwidth digits") << Item("\xef\xbc\x94\xef\xbc\x92") << fallback << ID(99);
    QTest::newRow("not UTF-8") << Item("4\xff") << fallback << ID(99);
    QTest::newRow("no item") << none << fallback << ID(99);
    QTest::newRow("setting negative") << none << Item("-3") << ID(-3);
    QTest::newRow("setting as text") << none << Item("\"42\"") << ID();
    QTest::newRow("setting with fraction") << none << Item("42.5") << ID();
    QTest::newRow("setting bool") << none << Item("true") << ID();
    QTest::newRow("bad item, text setting") << Item("4a2") << Item("\"42\"") << ID();
    QTest::newRow("nothing anywhere") << none << none << ID();
}

void TestSessionStore::restoreUserID()
{
    QFETCH(std::optional<QByteArray>, item);
    QFETCH(std::optional<QByteArray>, setting);
    QFETCH(std::optional<qint64>, expected);
    m_backend->putItem(TokenAccount, "tok");
    if (item)
        m_backend->putItem(IDKey, *item);
    if (setting)
        m_settings->setJSONText(IDKey, *setting);
    m_settings->setString(NameKey, QStringLiteral("Ada"));

    Launch launch(m_backend, *m_settings);
    launch.session.restoreSession();
    QCOMPARE(launch.session.userID(), expected);
    QCOMPARE(launch.session.token().has_value(), expected.has_value());
    QCOMPARE(launch.session.userName().has_value(), expected.has_value());
}

void TestSessionStore::keychainIDWinsOverSettings()
{
    m_backend->putItem(TokenAccount, "tok");
    m_backend->putItem(IDKey, "+42");
    m_settings->setInteger(IDKey, 7);
    Launch launch(m_backend, *m_settings);
    launch.session.restoreSession();
    QCOMPARE(launch.session.userID(), std::optional(qint64(42)));
}

void TestSessionStore::tokenWithoutIDSignsOutAndClearsEverything()
{
    m_backend->putItem(TokenAccount, "tok");
    m_backend->putItem(IDKey, "not-a-number");
    m_settings->setString(IDKey, QStringLiteral("42"));
    m_settings->setString(NameKey, QStringLiteral("Ada"));
    m_settings->setString(EmailKey, QStringLiteral("ada@x.io"));
    m_settings->setBool(QStringLiteral("pn.didSeeWelcome"), true);
    {
        Launch launch(m_backend, *m_settings);
        DiagCapture diag;
        launch.session.restoreSession();
        QVERIFY(!launch.session.token());
        QVERIFY(!launch.session.userID());
        QVERIFY(!launch.session.userName());
        QVERIFY(!launch.session.userEmail());
        QVERIFY(!launch.secrets.keychainRead(TokenAccount));
        QVERIFY(diag.lines().isEmpty());
    }
    QCOMPARE(m_backend->itemCount(), 0);
    QVERIFY(!m_settings->contains(IDKey));
    QVERIFY(!m_settings->contains(NameKey));
    QVERIFY(!m_settings->contains(EmailKey));
    QCOMPARE(m_settings->boolean(QStringLiteral("pn.didSeeWelcome")), std::optional(true));
}

void TestSessionStore::nameAndEmailWithoutToken()
{
    m_settings->setInteger(IDKey, 5);
    m_settings->setString(NameKey, QStringLiteral("Ada"));
    m_settings->setString(EmailKey, QStringLiteral("ada@x.io"));
    Launch launch(m_backend, *m_settings);
    launch.session.restoreSession();
    QVERIFY(!launch.session.token());
    QCOMPARE(launch.session.userID(), std::optional(qint64(5)));
    QCOMPARE(launch.session.userName(), std::optional(QStringLiteral("Ada")));
    QCOMPARE(launch.session.userEmail(), std::optional(QStringLiteral("ada@x.io")));
    QVERIFY(m_settings->contains(NameKey));
}

void TestSessionStore::refusedTokenWriteWarnsAndStaysSignedIn()
{
    m_backend->setDeferred(true);
    m_backend->refuseWrites(-25308, TokenAccount);
    {
        Launch launch(m_backend, *m_settings);
        DiagCapture diag;
        launch.session.signIn(QStringLiteral("tok-secret"),
                              AuthUser{42, QStringLiteral("Ada"), QStringLiteral("a@x")});
        QTRY_VERIFY(launch.secrets.isIdle() && diag.lines().size() == 2);
        QCOMPARE(diag.lines(), QStringList({"Keychain write failed for penroost.notes.token: OSStatus -25308",
                                            TokenNotSaved}));
        QCOMPARE(launch.session.token(), std::optional(QStringLiteral("tok-secret")));
        QCOMPARE(launch.secrets.keychainRead(TokenAccount), std::optional(QStringLiteral("tok-secret")));
        QCOMPARE(launch.session.userID(), std::optional(qint64(42)));
    }
    m_backend->acceptWrites();
    Launch relaunch(m_backend, *m_settings);
    relaunch.session.restoreSession();
    QVERIFY(!relaunch.session.token());
}

void TestSessionStore::refusedIDWriteFallsBackToSettings()
{
    m_backend->refuseWrites(-25308, IDKey);
    {
        Launch launch(m_backend, *m_settings);
        DiagCapture diag;
        launch.session.signIn(QStringLiteral("tok"),
                              AuthUser{42, QStringLiteral("Ada"), QStringLiteral("a@x")});
        QVERIFY(!diag.contains(TokenNotSaved));
        QVERIFY(diag.contains(
            QStringLiteral("Keychain write failed for penroost.notes.userID: OSStatus -25308")));
    }
    Launch relaunch(m_backend, *m_settings);
    relaunch.session.restoreSession();
    QCOMPARE(relaunch.session.token(), std::optional(QStringLiteral("tok")));
    QCOMPARE(relaunch.session.userID(), std::optional(qint64(42)));
}

void TestSessionStore::signInReplacesEarlierSession()
{
    {
        Launch launch(m_backend, *m_settings);
        launch.session.signIn(QStringLiteral("old"),
                              AuthUser{1, QStringLiteral("Old"), QStringLiteral("old@x")});
        launch.session.signIn(QStringLiteral("new"),
                              AuthUser{2, QStringLiteral("New"), QStringLiteral("new@x")});
    }
    QCOMPARE(m_backend->itemCount(), 2);
    QCOMPARE(m_backend->item(TokenAccount), std::optional(QByteArray("new")));
    QCOMPARE(m_backend->item(IDKey), std::optional(QByteArray("2")));
    Launch relaunch(m_backend, *m_settings);
    relaunch.session.restoreSession();
    QCOMPARE(relaunch.session.userID(), std::optional(qint64(2)));
    QCOMPARE(relaunch.session.userName(), std::optional(QStringLiteral("New")));
    QCOMPARE(relaunch.session.userEmail(), std::optional(QStringLiteral("new@x")));
}

void TestSessionStore::signOutWhileSignedOutIsHarmless()
{
    Launch launch(m_backend, *m_settings);
    DiagCapture diag;
    launch.session.signOut();
    launch.session.signOut();
    QVERIFY(!launch.session.token());
    QVERIFY(diag.lines().isEmpty());
    QCOMPARE(m_backend->itemCount(), 0);
}

void TestSessionStore::changesAreSignalled()
{
    Launch launch(m_backend, *m_settings);
    QSignalSpy token(&launch.session, &SessionStore::tokenChanged);
    QSignalSpy id(&launch.session, &SessionStore::userIDChanged);
    QSignalSpy name(&launch.session, &SessionStore::userNameChanged);
    QSignalSpy email(&launch.session, &SessionStore::userEmailChanged);
    launch.session.signIn(QStringLiteral("t"), AuthUser{3, QStringLiteral("C"), QStringLiteral("c@x")});
    QCOMPARE(token.count(), 1);
    QCOMPARE(id.count(), 1);
    QCOMPARE(name.count(), 1);
    QCOMPARE(email.count(), 1);
    launch.session.signOut();
    QCOMPARE(token.count(), 2);
    QVERIFY(!launch.session.token());
    QCOMPARE(email.count(), 2);
}

void TestSessionStore::tokenWithLineBreakIsNeverStored_data()
{
    QTest::addColumn<QString>("token");
    QTest::newRow("CR LF") << QStringLiteral("tok\r\nX-Injected: 1");
    QTest::newRow("LF") << QStringLiteral("tok\n");
    QTest::newRow("CR") << QStringLiteral("\rtok");
}

void TestSessionStore::tokenWithLineBreakIsNeverStored()
{
    QFETCH(QString, token);
    Launch launch(m_backend, *m_settings);
    launch.session.restoreSession();
    QSignalSpy changed(&launch.session, &SessionStore::tokenChanged);
    try {
        launch.session.signIn(token, AuthUser{42, QStringLiteral("Ada"), QStringLiteral("a@x")});
        QFAIL("an unusable token was accepted");
    } catch (const APIError &e) {
        QCOMPARE(e.errorDescription(), QString::fromUtf8(SessionStore::kUnusableTokenText));
    }
    QVERIFY(!launch.session.token());
    QVERIFY(!launch.session.userID());
    QCOMPARE(changed.count(), 0);
    QTRY_VERIFY(launch.secrets.isIdle());
    QCOMPARE(m_backend->itemCount(), 0);
    QVERIFY(!m_settings->contains(IDKey));
}

void TestSessionStore::storedTokenWithLineBreakSignsOut()
{
    m_backend->putItem(TokenAccount, "tok\r\nX-Injected: 1");
    m_backend->putItem(IDKey, "42");
    m_settings->setString(NameKey, QStringLiteral("Ada"));
    Launch launch(m_backend, *m_settings);
    DiagCapture diag;
    launch.session.restoreSession();
    QVERIFY(!launch.session.token());
    QVERIFY(!launch.session.userID());
    QCOMPARE(diag.lines(), QStringList{QString::fromUtf8(SessionStore::kUnusableStoredTokenLine)});
    QTRY_VERIFY(launch.secrets.isIdle());
    QCOMPARE(m_backend->itemCount(), 0);
}

QTEST_GUILESS_MAIN(TestSessionStore)
#include "tst_session_store.moc"
