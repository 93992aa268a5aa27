#include "platform/single_instance.h"

#include "platform/diag.h"
#include "platform/private_files.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSysInfo>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr auto kLockName = "penroost-derud.lock";
constexpr auto kServerPrefix = "penroost-derud-";
constexpr char kRaise[] = "raise\n";
constexpr auto kRaiseHeard = "SingleInstance: another launch on this data folder asked for the window";
constexpr std::chrono::milliseconds kRetryPause{50};
// Each turn means a holder removed the file between our open and our lock; a few in a row and the
// folder counts as held for this round.
constexpr int kReopenTurns = 8;

bool sameFile(int fd, const QByteArray &path)
{
    struct stat held;
    struct stat named;
    return ::fstat(fd, &held) == 0 && ::stat(path.constData(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

// Who holds it, as an older build's lock file says it (pid, program and host, a line each), for
// people and older builds reading it; the lock itself does not depend on it.
void writeHolder(int fd)
{
    const QByteArray text = QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
                            QFileInfo(QCoreApplication::applicationFilePath()).fileName().toUtf8() + '\n' +
                            QSysInfo::machineHostName().toUtf8() + '\n';
    if (::ftruncate(fd, 0) != 0)
        return;
    while (::pwrite(fd, text.constData(), size_t(text.size()), 0) < 0 && errno == EINTR) {
    }
}

} // namespace

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_folder(QFileInfo(folder).absoluteFilePath())
{
}

SingleInstance::~SingleInstance()
{
    // The socket first: a launch that takes the lock next listens under the same name.
    delete m_server;
    m_server = nullptr;
    release();
}

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
    const QDeadlineTimer deadline(answerWait);
    for (;;) {
        const Lock lock = tryLock();
        if (lock == Lock::Taken) {
            listen();
            return true;
        }
        if (lock == Lock::Unavailable) {
            // The folder cannot hold a lock (read-only, say): run, as before there was one.
            diag(QStringLiteral("SingleInstance: no lock in %1, running without one").arg(m_folder));
            return true;
        }
        // The holder may be between taking the lock and listening, or may have just quit.
        if (askToRaise(std::chrono::milliseconds(deadline.remainingTime())))
            return false;
        if (deadline.hasExpired()) {
            diag(QStringLiteral("SingleInstance: another launch holds %1 but did not answer").arg(m_folder));
            return false;
        }
        QThread::msleep(kRetryPause.count());
    }
}

namespace {

QByteArray lockPath(const QString &folder)
{
    return QFile::encodeName(QDir(folder).filePath(QString::fromLatin1(kLockName)));
}

} // namespace

SingleInstance::Lock SingleInstance::tryLock()
{
    // A lock on the open file, not the file's existence: the kernel ends it with its process, so
    // there is nothing stale to judge or remove, and no two launches can both hold it.
    const QByteArray path = lockPath(m_folder);
    for (int turn = 0; turn < kReopenTurns; ++turn) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd < 0)
            return Lock::Unavailable;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            return error == EWOULDBLOCK ? Lock::Held : Lock::Unavailable;
        }
        // A holder quitting removes the file under its lock; one opened before that is no longer
        // the one every later launch opens.
        if (sameFile(fd, path)) {
            // A file made by an older build may be readable by all.
            ::fchmod(fd, S_IRUSR | S_IWUSR);
            writeHolder(fd);
            m_lockFd = fd;
            return Lock::Taken;
        }
        ::close(fd);
    }
    return Lock::Held;
}

void SingleInstance::release()
{
    if (m_lockFd < 0)
        return;
    // Removed while still held, and only while the path names it, so the folder is left clean.
    const QByteArray path = lockPath(m_folder);
    if (sameFile(m_lockFd, path))
        ::unlink(path.constData());
    ::close(m_lockFd);
    m_lockFd = -1;
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
