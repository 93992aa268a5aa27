#pragma once

#include <QObject>
#include <QString>

#include <chrono>

class QLocalServer;

// At most one running app per data folder. The first launch holds a lock on a file in the folder
// and listens on a local socket named after it; a later launch asks that one to bring its window
// forward instead of running beside it. The lock ends with its process, so a file left behind by
// one that is gone, written or not, does not count.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kAnswerWait{3000};

    explicit SingleInstance(const QString &folder, QObject *parent = nullptr);
    // Lets the folder go.
    ~SingleInstance() override;

    // True when this process may run on the folder: it holds the lock (or the folder cannot hold
    // one at all) and answers later launches. False when a running process holds it; that one has
    // been asked to raise its window, or did not answer within `answerWait`.
    bool claim(std::chrono::milliseconds answerWait = kAnswerWait);

    // The socket a launch on `folder` listens on.
    static QString serverName(const QString &folder);

Q_SIGNALS:
    // A later launch asked for this one's window.
    void raiseRequested();

private:
    enum class Lock { Taken, Held, Unavailable };
    Lock tryLock();
    void release();
    void listen();
    void readRequest();
    bool askToRaise(std::chrono::milliseconds wait);

    QString m_folder;
    int m_lockFd = -1;
    QLocalServer *m_server = nullptr;
};
