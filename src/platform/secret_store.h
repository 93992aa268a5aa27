#pragma once

#include "platform/secret_backend.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <memory>
#include <optional>

// The device's secrets, named by account. The items are loaded once at start-up and then served from
// memory; writes and deletes go through to the backend one at a time, in the order they were made.
// A value written during a run is served for the rest of the run even when the backend refused it,
// so a session whose token could not be stored still works until the program quits.
class SecretStore : public QObject
{
    Q_OBJECT
public:
    explicit SecretStore(std::shared_ptr<SecretBackend> backend, QObject *parent = nullptr);
    // Waits for the writes and deletes still in progress.
    ~SecretStore() override;

    // Reads the accounts from the backend into memory. Accounts that were never loaded or written
    // read as nothing.
    QCoro::Task<> load(QStringList accounts);
    // The same, blocking in a local event loop (start-up, before the first window shows).
    void loadBlocking(const QStringList &accounts);

    // The value of the account; nothing when absent or unreadable (not UTF-8, no keyring).
    std::optional<QString> keychainRead(const QString &account) const;
    // Replaces the item (delete, then add). True when the backend accepted it; a refusal prints
    // "Keychain write failed for <account>: OSStatus <code>". Memory is updated at once either way.
    QCoro::Task<bool> keychainWrite(QString account, QString value);
    // Removes the item; silent, whatever the backend says.
    QCoro::Task<> keychainDelete(QString account);

    // True while no write or delete waits for the backend.
    bool isIdle() const { return m_served == m_issued; }

Q_SIGNALS:
    // The last pending write or delete finished.
    void idle();
    void turnEnded(); // internal: the operation in progress finished

private:
    QCoro::Task<> waitTurn();
    void endTurn();

    std::shared_ptr<SecretBackend> m_backend;
    QHash<QString, QString> m_values;
    QSet<QString> m_changed; // written or deleted this run: a slower load must not undo it
    quint64 m_issued = 0;
    quint64 m_served = 0;
};
