#include "platform/diag.h"
#include "platform/keyring_secret_backend.h"
#include "platform/memory_secret_backend.h"
#include "platform/secret_store.h"
#include "support/task_outcome.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QUuid>

#include <qt6keychain/keychain.h>

namespace {

const QString Token = QStringLiteral("penroost.notes.token");
const QString UserID = QStringLiteral("penroost.notes.userID");

QStringList bothAccounts()
{
    return {Token, UserID};
}

} // namespace

class TestSecretStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void loadServesFromMemory();
    void unreadableItemsReadAsNothing_data();
    void unreadableItemsReadAsNothing();
    void writeReplacesTheItem();
    void refusedWriteIsReported();
    void refusedWriteStillServesThisRun();
    void deleteOfAbsentItemIsSilent();
    void operationsReachTheBackendInOrder();
    void slowLoadDoesNotUndoAWrite();
    void destructionFinishesPendingWrites();

    // Against the Secret Service of the session bus (an unlocked gnome-keyring under test.sh).
    void keyringRoundTrip();
    void keyringItemOfAnotherTool_data();
    void keyringItemOfAnotherTool();

private:
    bool keyringReachable();
};

void TestSecretStore::loadServesFromMemory()
{
    auto backend = std::make_shared<MemorySecretBackend>();
    backend->putItem(Token, "tok-1");
    SecretStore store(backend);
    QVERIFY(!store.keychainRead(Token));
    store.loadBlocking(bothAccounts());
    QCOMPARE(store.keychainRead(Token), std::optional(QStringLiteral("tok-1")));
    QVERIFY(!store.keychainRead(UserID));

    // Changed behind the store's back: memory keeps what was loaded, and nothing is read again.
    backend->putItem(Token, "tok-2");
    const qsizetype calls = backend->calls().size();
    QCOMPARE(store.keychainRead(Token), std::optional(QStringLiteral("tok-1")));
    QCOMPARE(backend->calls().size(), calls);
}

void TestSecretStore::unreadableItemsReadAsNothing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<std::optional<QString>>("expected");

    QTest::newRow("invalid UTF-8") << QByteArray("\xff\xfe") << std::optional<QString>();
    QTest::newRow("truncated sequence") << QByteArray("tok\xc3") << std::optional<QString>();
    QTest::newRow("empty item") << QByteArray("") << std::optional<QString>(QString());
    QTest::newRow("non-ASCII text") << QByteArray("t\xc3\xb6k")
                                    << std::optional<QString>(QStringLiteral("tök"));
}

void TestSecretStore::unreadableItemsReadAsNothing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(std::optional<QString>, expected);
    auto backend = std::make_shared<MemorySecretBackend>();
    backend->putItem(Token, bytes);
    SecretStore store(backend);
    DiagCapture diag;
    store.loadBlocking({Token});
    QCOMPARE(store.keychainRead(Token), expected);
    QVERIFY(diag.lines().isEmpty());
}

void TestSecretStore::writeReplacesTheItem()
{
    auto backend = std::make_shared<MemorySecretBackend>();
    {
        SecretStore store(backend);
        store.loadBlocking(bothAccounts());
        QVERIFY(runTask(store.keychainWrite(Token, QStringLiteral("first"))).value.value_or(false));
        QVERIFY(runTask(store.keychainWrite(Token, QStringLiteral("second"))).value.value_or(false));
        QCOMPARE(store.keychainRead(Token), std::optional(QStringLiteral("second")));
    }
    QCOMPARE(backend->itemCount(), 1);
    SecretStore relaunched(backend);
    relaunched.loadBlocking(bothAccounts());
    QCOMPARE(relaunched.keychainRead(Token), std::optional(QStringLiteral("second")));
    // A write is a delete, then an add.
    QCOMPARE(backend->calls().mid(2, 2), QStringList({"delete " + Token, "write " + Token}));
}

void TestSecretStore::refusedWriteIsReported()
{
    auto backend = std::make_shared<MemorySecretBackend>();
    SecretStore store(backend);
    backend->refuseWrites(-25308, Token);
    DiagCapture diag;
    const auto outcome = runTask(store.keychainWrite(Token, QStringLiteral("secret-token-value")));
    QVERIFY(outcome.ok());
    QCOMPARE(*outcome.value, false);
    QCOMPARE(diag.lines(), QStringList{"Keychain write failed for penroost.notes.token: OSStatus -25308"});
    QVERIFY(!diag.contains(QStringLiteral("secret-token-value")));

    // Other accounts are unaffected.
    QVERIFY(runTask(store.keychainWrite(UserID, QStringLiteral("42"))).value.value_or(false));
    QCOMPARE(diag.lines().size(), 1);
}

// The refusal costs the next launch, not this run; and the earlier item is gone, so a later launch
// cannot pair an old token with a new user.
void TestSecretStore::refusedWriteStillServesThisRun()
{
    auto backend = std::make_shared<MemorySecretBackend>();
    backend->putItem(Token, "old-token");
    SecretStore store(backend);
    store.loadBlocking(bothAccounts());
    backend->refuseWrites(QKeychain::AccessDenied);
    DiagCapture diag;
    QVERIFY(runTask(store.keychainWrite(Token, QStringLiteral("new-token"))).ok());
    QCOMPARE(store.keychainRead(Token), std::optional(QStringLiteral("new-token")));
    QVERIFY(!backend->item(Token));
    QCOMPARE(diag.lines(), QStringList{"Keychain write failed for penroost.notes.token: OSStatus 4"});
}

void TestSecretStore::deleteOfAbsentItemIsSilent()
{
    auto backend = std::make_shared<MemorySecretBackend>();
    SecretStore store(backend);
    DiagCapture diag;
    QVERIFY(runTask(store.keychainDelete(Token)).ok());
    QVERIFY(!store.keychainRead(Token));
    QVERIFY(diag.lines().isEmpty());
}

// Calls made back to back without awaiting reach the backend one at a time, in order.
void TestSecretStore::operationsReachTheBackendInOrder()
{
    auto backend = std::make_shared<MemorySecretBackend>();
    backend->setDeferred(true);
    SecretStore store(backend);
    QSignalSpy idle(&store, &SecretStore::idle);
    store.keychainWrite(Token, QStringLiteral("a"));
    store.keychainDelete(Token);
    store.keychainWrite(Token, QStringLiteral("b"));
    store.keychainWrite(UserID, QStringLiteral("7"));
    store.keychainDelete(UserID);
    QVERIFY(!store.isIdle());
    QCOMPARE(store.keychainRead(Token), std::optional(QStringLiteral("b")));
    QVERIFY(!store.keychainRead(UserID));
    QVERIFY(idle.wait());
    QVERIFY(store.isIdle());
    QCOMPARE(backend->maxInFlight(), 1);
    QCOMPARE(backend->calls(),
             QStringList({"delete " + Token, "write " + Token, "delete " + Token, "delete " + Token,
                          "write " + Token, "delete " + UserID, "write " + UserID, "delete " + UserID}));
    QCOMPARE(backend->item(Token), std::optional(QByteArray("b")));
    QVERIFY(!backend->item(UserID));
}

void TestSecretStore::slowLoadDoesNotUndoAWrite()
{
    auto backend = std::make_shared<MemorySecretBackend>();
    backend->putItem(Token, "stored");
    backend->setDeferred(true);
    SecretStore store(backend);
    QSignalSpy idle(&store, &SecretStore::idle);
    store.load(bothAccounts());
    store.keychainWrite(Token, QStringLiteral("fresh"));
    QVERIFY(idle.wait());
    QCOMPARE(store.keychainRead(Token), std::optional(QStringLiteral("fresh")));
    QCOMPARE(backend->item(Token), std::optional(QByteArray("fresh")));
}

void TestSecretStore::destructionFinishesPendingWrites()
{
    auto backend = std::make_shared<MemorySecretBackend>();
    backend->setDeferred(true);
    {
        SecretStore store(backend);
        store.keychainWrite(Token, QStringLiteral("kept"));
        store.keychainWrite(UserID, QStringLiteral("42"));
    }
    QCOMPARE(backend->item(Token), std::optional(QByteArray("kept")));
    QCOMPARE(backend->item(UserID), std::optional(QByteArray("42")));
}

// Locally, without a session bus, the keyring tests skip; in CI (CI set) an unreachable keyring fails.
bool TestSecretStore::keyringReachable()
{
    const bool hasBus = !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS");
    int status = -1;
    if (hasBus) {
        KeyringSecretBackend probe;
        const QString account =
            QStringLiteral("penroost.probe.") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        status = runTask(probe.write(account, "probe")).value.value_or(-1);
        runTask(probe.remove(account));
    }
    if (status == 0)
        return true;
    const QString why = hasBus ? QStringLiteral("the Secret Service refused a write (error %1)").arg(status)
                               : QStringLiteral("no session bus");
    if (!qEnvironmentVariableIsEmpty("CI"))
        QTest::qFail(qPrintable("Keyring unreachable in CI: " + why), __FILE__, __LINE__);
    else
        QTest::qSkip(qPrintable("Keyring unreachable: " + why), __FILE__, __LINE__);
    return false;
}

void TestSecretStore::keyringRoundTrip()
{
    // A fresh account per run: parallel runs share one keyring.
    const QString account =
        QStringLiteral("penroost.test.") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!keyringReachable())
        return;
    auto backend = std::make_shared<KeyringSecretBackend>();
    {
        SecretStore store(backend);
        store.loadBlocking({account});
        DiagCapture diag;
        QVERIFY(runTask(store.keychainWrite(account, QStringLiteral("first"))).value.value_or(false));
        // Queued back to back; the keyring must end with the last one.
        store.keychainWrite(account, QStringLiteral("second"));
        QVERIFY(runTask(store.keychainWrite(account, QStringLiteral("tök-third"))).value.value_or(false));
        QVERIFY(diag.lines().isEmpty());
    }
    {
        SecretStore relaunched(std::make_shared<KeyringSecretBackend>());
        relaunched.loadBlocking({account});
        QCOMPARE(relaunched.keychainRead(account), std::optional(QStringLiteral("tök-third")));
        QVERIFY(runTask(relaunched.keychainDelete(account)).ok());
        QVERIFY(!relaunched.keychainRead(account));
    }
    SecretStore afterDelete(std::make_shared<KeyringSecretBackend>());
    DiagCapture diag;
    afterDelete.loadBlocking({account});
    QVERIFY(!afterDelete.keychainRead(account));
    QVERIFY(runTask(afterDelete.keychainDelete(account)).ok());
    QVERIFY(diag.lines().isEmpty());
}

void TestSecretStore::keyringItemOfAnotherTool_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<std::optional<QString>>("expected");

    QTest::newRow("text") << QByteArray("from-tool") << std::optional<QString>(QStringLiteral("from-tool"));
    QTest::newRow("not UTF-8") << QByteArray("\xff\xfe-bytes") << std::optional<QString>();
}

// An item stored by another program under the same attributes.
void TestSecretStore::keyringItemOfAnotherTool()
{
    QFETCH(QByteArray, bytes);
    QFETCH(std::optional<QString>, expected);
    if (!keyringReachable())
        return;
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("secret-tool"));
    if (tool.isEmpty())
        QSKIP("secret-tool is not installed");
    const QString account =
        QStringLiteral("penroost.test.") + QUuid::createUuid().toString(QUuid::WithoutBraces);

    QProcess store;
    store.start(tool,
                {QStringLiteral("store"), QStringLiteral("--label=other tool"), QStringLiteral("user"),
                 account, QStringLiteral("server"), QString::fromLatin1(KeyringSecretBackend::kServiceName),
                 QStringLiteral("type"), QStringLiteral("plaintext")});
    QVERIFY(store.waitForStarted());
    store.write(bytes);
    store.closeWriteChannel();
    QVERIFY(store.waitForFinished());
    QCOMPARE(store.exitCode(), 0);

    SecretStore secrets(std::make_shared<KeyringSecretBackend>());
    secrets.loadBlocking({account});
    QCOMPARE(secrets.keychainRead(account), expected);
    QVERIFY(runTask(secrets.keychainDelete(account)).ok());
}

QTEST_GUILESS_MAIN(TestSecretStore)
#include "tst_secret_store.moc"
