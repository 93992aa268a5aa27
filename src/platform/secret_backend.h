#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QString>

#include <optional>

// Where SecretStore keeps its items: account-named byte values that outlive the process.
class SecretBackend
{
public:
    virtual ~SecretBackend() = default;

    // The stored bytes; an absent item and every failure alike give nothing.
    virtual QCoro::Task<std::optional<QByteArray>> read(QString account) = 0;
    // Stores the value, replacing any earlier one. 0 when accepted, else the backend's error code.
    virtual QCoro::Task<int> write(QString account, QByteArray value) = 0;
    // Removes the item; an absent item or a failure is not reported.
    virtual QCoro::Task<> remove(QString account) = 0;
};
