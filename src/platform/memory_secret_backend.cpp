#include "platform/memory_secret_backend.h"

#include <QCoroTimer>

QCoro::Task<> MemorySecretBackend::begin(const QString &call)
{
    m_calls.append(call);
    m_maxInFlight = std::max(m_maxInFlight, ++m_inFlight);
    if (m_deferred)
        co_await QCoro::sleepFor(std::chrono::milliseconds(0));
}

QCoro::Task<std::optional<QByteArray>> MemorySecretBackend::read(QString account)
{
    co_await begin(QStringLiteral("read ") + account);
    --m_inFlight;
    co_return item(account);
}

QCoro::Task<int> MemorySecretBackend::write(QString account, QByteArray value)
{
    co_await begin(QStringLiteral("write ") + account);
    --m_inFlight;
    if (m_refusal && (m_refusedAccount.isEmpty() || m_refusedAccount == account))
        co_return *m_refusal;
    m_items.insert(account, value);
    co_return 0;
}

QCoro::Task<> MemorySecretBackend::remove(QString account)
{
    co_await begin(QStringLiteral("delete ") + account);
    --m_inFlight;
    m_items.remove(account);
}

void MemorySecretBackend::refuseWrites(int code, const QString &account)
{
    m_refusal = code;
    m_refusedAccount = account;
}

void MemorySecretBackend::acceptWrites()
{
    m_refusal.reset();
    m_refusedAccount.clear();
}

std::optional<QByteArray> MemorySecretBackend::item(const QString &account) const
{
    const auto it = m_items.constFind(account);
    return it == m_items.constEnd() ? std::nullopt : std::optional(*it);
}
