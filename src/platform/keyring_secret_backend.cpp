#include "platform/keyring_secret_backend.h"

#include <QCoroSignal>

#include <qt6keychain/keychain.h>

#include <memory>

namespace {

struct DeleteLater {
    void operator()(QObject *o) const { o->deleteLater(); }
};

template <typename Job>
using JobPtr = std::unique_ptr<Job, DeleteLater>;

template <typename Job>
JobPtr<Job> makeJob(const QString &service, const QString &account)
{
    JobPtr<Job> job(new Job(service));
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    job->setKey(account);
    return job;
}

// Some failures finish the job inside start(), before anyone could await the signal.
QCoro::Task<> run(QKeychain::Job *job)
{
    auto finished = std::make_shared<bool>(false);
    QObject::connect(job, &QKeychain::Job::finished, job, [finished] { *finished = true; });
    job->start();
    if (!*finished)
        co_await qCoro(job, &QKeychain::Job::finished);
}

} // namespace

KeyringSecretBackend::KeyringSecretBackend(QString service)
    : m_service(std::move(service))
{
}

QCoro::Task<std::optional<QByteArray>> KeyringSecretBackend::read(QString account)
{
    const auto job = makeJob<QKeychain::ReadPasswordJob>(m_service, account);
    co_await run(job.get());
    if (job->error() != QKeychain::NoError)
        co_return std::nullopt;
    co_return job->binaryData();
}

QCoro::Task<int> KeyringSecretBackend::write(QString account, QByteArray value)
{
    const auto job = makeJob<QKeychain::WritePasswordJob>(m_service, account);
    // Stored as text so other Secret Service tools show the value as it is.
    job->setTextData(QString::fromUtf8(value));
    co_await run(job.get());
    co_return int(job->error());
}

QCoro::Task<> KeyringSecretBackend::remove(QString account)
{
    const auto job = makeJob<QKeychain::DeletePasswordJob>(m_service, account);
    co_await run(job.get());
}
