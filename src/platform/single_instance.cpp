#include "platform/single_instance.h"

#include "platform/diag.h"
#include "platform/private_files.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include <sys/stat.h>

namespace {

constexpr auto kLockName = "penroost-derud.lock";
constexpr auto kServerPrefix = "penroost-derud-";
constexpr char kRaise[] = "raise\n";
constexpr auto kRaiseHeard = "SingleInstance: another launch on this data folder asked for the window";
constexpr std::chrono::milliseconds kRetryPause{50};
// A launch writes its lock's contents right after creating the file; one killed in between leaves
// the file empty, which the lock itself never counts as stale.
constexpr qint64 kUnwrittenLockGraceMs = 1000;

} // namespace

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_folder(QFileInfo(folder).absoluteFilePath())
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName(const QString &folder)
{
    const QByteArray path = QFile::encodeName(QFileInfo(folder).absoluteFilePath());
    const QString name =
        QString::fromLatin1(kServerPrefix) +
        QString::fromLatin1(QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(32));
    // The user's runtime folder is theirs alone; a bare name lands in the shared temporary folder.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return QDir(runtime).filePath(name);
    return name;
}

bool SingleInstance::claim(std::chrono::milliseconds answerWait)
{
    makePrivateFolder(m_folder);
    m_lock = std::make_unique<QLockFile>(QDir(m_folder).filePath(QString::fromLatin1(kLockName)));
    // Staleness by age alone would let a second launch take the lock of a long-running first one;
    // a lock whose process is gone is still taken over.
    m_lock->setStaleLockTime(0);

    const QDeadlineTimer deadline(answerWait);
    for (;;) {
        if (m_lock->tryLock(0)) {
            // QLockFile creates it as any new file (0644 under the usual umask). A chmod, not an
            // open: closing another descriptor of the file would drop the lock's fcntl part.
            ::chmod(QFile::encodeName(m_lock->fileName()).constData(), S_IRUSR | S_IWUSR);
            listen();
            return true;
        }
        if (m_lock->error() != QLockFile::LockFailedError) {
            // The folder cannot hold a lock (read-only, say): run, as before there was one.
            diag(QStringLiteral("SingleInstance: no lock in %1, running without one").arg(m_folder));
            return true;
        }
        // The holder may be between taking the lock and listening, or may have just quit.
        if (askToRaise(std::chrono::milliseconds(deadline.remainingTime())))
            return false;
        if (takeUnwrittenLock())
            continue;
        if (deadline.hasExpired()) {
            diag(QStringLiteral("SingleInstance: another launch holds %1 but did not answer").arg(m_folder));
            return false;
        }
        QThread::msleep(kRetryPause.count());
    }
}

bool SingleInstance::takeUnwrittenLock()
{
    qint64 pid = 0;
    QString host;
    QString app;
    if (m_lock->getLockInfo(&pid, &host, &app))
        return false;
    const QFileInfo file(m_lock->fileName());
    if (!file.exists() ||
        file.lastModified().msecsTo(QDateTime::currentDateTimeUtc()) < kUnwrittenLockGraceMs)
        return false;
    // Fails while a live process holds the file's native lock.
    return m_lock->removeStaleLockFile();
}

void SingleInstance::listen()
{
    const QString name = serverName(m_folder);
    // Only a process that crashed while holding the lock we now hold can have left it.
    QLocalServer::removeServer(name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::readRequest);
    if (!m_server->listen(name))
        diag(QStringLiteral("SingleInstance: later launches cannot reach this one: ") +
             m_server->errorString());
}

void SingleInstance::readRequest()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto read = [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine(64) == kRaise) {
                diag(QString::fromLatin1(kRaiseHeard));
                Q_EMIT raiseRequested();
            }
            socket->disconnectFromServer();
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        read();
    }
}

bool SingleInstance::askToRaise(std::chrono::milliseconds wait)
{
    QLocalSocket socket;
    socket.connectToServer(serverName(m_folder));
    const int ms = int(std::max<qint64>(wait.count(), 1));
    if (!socket.waitForConnected(ms))
        return false;
    socket.write(kRaise);
    const bool sent = socket.waitForBytesWritten(ms) || socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    return sent;
}
