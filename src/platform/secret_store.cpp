#include "platform/secret_store.h"

#include "platform/diag.h"
#include "platform/utf8.h"

#include <QCoroSignal>
#include <QEventLoop>

namespace {

QCoro::Task<> loadThenQuit(SecretStore *store, QStringList accounts, std::shared_ptr<QEventLoop> loop,
                           std::shared_ptr<bool> done)
{
    co_await store->load(std::move(accounts));
    *done = true;
    loop->quit();
}

} // namespace

SecretStore::SecretStore(std::shared_ptr<SecretBackend> backend, QObject *parent)
    : QObject(parent)
    , m_backend(std::move(backend))
{
}

SecretStore::~SecretStore()
{
    // A write still queued would otherwise resume into a destroyed store, and be lost.
    while (!isIdle()) {
        QEventLoop loop;
        connect(this, &SecretStore::idle, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

QCoro::Task<> SecretStore::waitTurn()
{
    const quint64 ticket = m_issued++;
    while (m_served != ticket)
        co_await qCoro(this, &SecretStore::turnEnded);
}

void SecretStore::endTurn()
{
    ++m_served;
    Q_EMIT turnEnded();
    if (isIdle())
        Q_EMIT idle();
}

QCoro::Task<> SecretStore::load(QStringList accounts)
{
    co_await waitTurn();
    for (const QString &account : accounts) {
        const std::optional<QByteArray> bytes = co_await m_backend->read(account);
        if (m_changed.contains(account))
            continue;
        const std::optional<QString> text = bytes ? decodeUtf8Strict(*bytes) : std::nullopt;
        if (text)
            m_values.insert(account, *text);
        else
            m_values.remove(account);
    }
    endTurn();
}

void SecretStore::loadBlocking(const QStringList &accounts)
{
    auto loop = std::make_shared<QEventLoop>();
    auto done = std::make_shared<bool>(false);
    loadThenQuit(this, accounts, loop, done);
    if (!*done)
        loop->exec();
}

std::optional<QString> SecretStore::keychainRead(const QString &account) const
{
    const auto it = m_values.constFind(account);
    return it == m_values.constEnd() ? std::nullopt : std::optional(*it);
}

QCoro::Task<bool> SecretStore::keychainWrite(QString account, QString value)
{
    m_values.insert(account, value);
    m_changed.insert(account);
    co_await waitTurn();
    // Delete first: a refused add then leaves no stale value behind for the next launch.
    co_await m_backend->remove(account);
    const int status = co_await m_backend->write(account, value.toUtf8());
    endTurn();
    if (status != 0) {
        diag(QStringLiteral("Keychain write failed for ") + account + QStringLiteral(": OSStatus ") +
             QString::number(status));
        co_return false;
    }
    co_return true;
}

QCoro::Task<> SecretStore::keychainDelete(QString account)
{
    m_values.remove(account);
    m_changed.insert(account);
    co_await waitTurn();
    co_await m_backend->remove(account);
    endTurn();
}
