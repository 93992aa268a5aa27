#pragma once

#include <QObject>

// The process-wide in-app notifications, delivered synchronously on the GUI thread.
class AppEvents : public QObject
{
    Q_OBJECT
public:
    static AppEvents &shared();

    // "fnAuthExpired": the service refused the stored token.
    void postAuthExpired() { Q_EMIT authExpired(); }

Q_SIGNALS:
    void authExpired();

private:
    AppEvents() = default;
};
