#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QLocalServer;
class QLockFile;

// At most one running app per data folder. The first launch holds a lock file in the folder and
// listens on a local socket named after it; a later launch asks that one to bring its window
// forward instead of running beside it. A lock left by a process that is gone does not count.
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
    // Removes a lock file left empty by a launch that ended before writing it; true when it did.
    bool takeUnwrittenLock();
    void listen();
    void readRequest();
    bool askToRaise(std::chrono::milliseconds wait);

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
