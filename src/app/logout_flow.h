#pragma once

#include "platform/confirmer.h"
#include "ui/app_context.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <chrono>

// The user's logout once confirmed: a last chance for queued changes to reach the service, then
// the session ends, the local data set is emptied (favourites and templates stay) and the service
// is told the token is no longer used. The flow owns itself and goes when it is done, since the
// screen that started it goes at the sign-out.
class LogoutFlow : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kLastSyncWait{4000};
    // How long a cancelled cycle may take to give way; an abort normally ends it at once.
    static constexpr std::chrono::milliseconds kCancelGrace{1000};

    static constexpr const char *kTitle = "Log out of Penroost Derud?";
    static constexpr const char *kConfirmLabel = "Log out";
    static constexpr const char *kCancelLabel = "Cancel";

    // The confirmation's message for `unsynced` queued changes.
    static QString logoutMessage(qsizetype unsynced);
    static Confirmer::Question question(qsizetype unsynced);

    explicit LogoutFlow(const AppContext &context, std::chrono::milliseconds lastSyncWait = kLastSyncWait);

    // Reads the token now, then runs the rest; call once.
    void start();
    bool isRunning() const { return m_running; }

Q_SIGNALS:
    // Right before the sign-out: whatever still writes into the data set (an open editor) must
    // write now or never, so nothing of this session lands in the emptied store.
    void endingSession();
    // Signed out and the local data reset; the logout request may still be on its way.
    void signedOut();
    // Everything done, the logout request answered or failed.
    void finished();

private:
    QCoro::Task<> run(std::optional<QString> token);
    QCoro::Task<> lastSync();
    QCoro::Task<> settleCycle();

    AppContext m_context;
    std::chrono::milliseconds m_lastSyncWait;
    bool m_running = false;
};
