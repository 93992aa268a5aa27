#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGHUP and SIGINT (a desktop logout, a closed terminal, Ctrl+C) as a signal on the GUI
// thread, so the app quits as its Quit command does and writes what is pending. One per process.
// Made first thing, it holds what arrives until `start`: a signal during start-up waits for the
// window instead of killing the app half-made.
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignals(QObject *parent = nullptr);
    // The signals' default action comes back.
    ~QuitSignals() override;

    // From here on `received` is told, first of what came before.
    void start();

Q_SIGNALS:
    // The signal's number; a second one while the first is handled arrives again.
    void received(int signal);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
