#pragma once

#include "platform/secret_backend.h"

#include <QHash>
#include <QStringList>

// Items kept in memory, for tests: outlives the stores built on it, so a fresh SecretStore can load
// what an earlier one wrote. It can refuse writes and finish each call on a later event-loop turn.
class MemorySecretBackend : public SecretBackend
{
public:
    QCoro::Task<std::optional<QByteArray>> read(QString account) override;
    QCoro::Task<int> write(QString account, QByteArray value) override;
    QCoro::Task<> remove(QString account) override;

    // Writes to the account (every account when empty) fail with the code until acceptWrites().
    void refuseWrites(int code, const QString &account = QString());
    void acceptWrites();
    // Each call completes asynchronously instead of at once.
    void setDeferred(bool deferred) { m_deferred = deferred; }

    // Direct access, as another tool would have it.
    std::optional<QByteArray> item(const QString &account) const;
    void putItem(const QString &account, const QByteArray &bytes) { m_items.insert(account, bytes); }
    qsizetype itemCount() const { return m_items.size(); }

    // "read a", "write a", "delete a" in the order the calls began.
    const QStringList &calls() const { return m_calls; }
    // The most calls that were ever in progress at the same time.
    int maxInFlight() const { return m_maxInFlight; }

private:
    QCoro::Task<> begin(const QString &call);

    QHash<QString, QByteArray> m_items;
    std::optional<int> m_refusal;
    QString m_refusedAccount;
    bool m_deferred = false;
    QStringList m_calls;
    int m_inFlight = 0;
    int m_maxInFlight = 0;
};
