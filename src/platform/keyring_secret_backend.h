#pragma once

#include "platform/secret_backend.h"

// Items of the freedesktop Secret Service (through qtkeychain), all under one service name with the
// account as the key. There is no plain-text fallback: without a keyring every write fails.
class KeyringSecretBackend : public SecretBackend
{
public:
    static constexpr const char *kServiceName = "penroost-derud";

    explicit KeyringSecretBackend(QString service = QString::fromLatin1(kServiceName));

    QCoro::Task<std::optional<QByteArray>> read(QString account) override;
    QCoro::Task<int> write(QString account, QByteArray value) override;
    QCoro::Task<> remove(QString account) override;

private:
    QString m_service;
};
