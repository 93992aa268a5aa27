#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGHUP and SIGINT (a desktop logout, a closed terminal, Ctrl+C) as a signal on the GUI
// thread, so the app quits as its Quit command does and writes what is pending. One per process.
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignals(QObject *parent = nullptr);
    // The signals' default action comes back.
    ~QuitSignals() override;

Q_SIGNALS:
    // The signal's number; a second one while the first is handled arrives again.
    void received(int signal);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
