#include "platform/diag.h"
#include "platform/single_instance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <sys/file.h>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

QString lockPath(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("penroost-derud.lock"));
}

constexpr auto kLaunchArg = "--launch";
constexpr auto kRunningMark = "running";
constexpr char kRan[] = "ran\n";
constexpr char kStoodAside[] = "stood aside\n";

QString roundFolder(const QString &base, int round)
{
    return QDir(base).filePath(QString::number(round));
}

// One launch on the folder as the app's start makes it, then its end. One that runs marks the folder
// while it does; finding the mark there already, it ran beside another.
QByteArray launchOnce(const QString &folder)
{
    SingleInstance instance(folder);
    if (!instance.claim(5000ms))
        return kStoodAside;
    const QByteArray mark = QFile::encodeName(QDir(folder).filePath(QString::fromLatin1(kRunningMark)));
    const int fd = ::open(mark.constData(), O_CREAT | O_EXCL | O_WRONLY, 0600);
    if (fd < 0)
        return errno == EEXIST ? "ran beside another\n" : "no mark\n";
    ::close(fd);
    // Runs a moment, answering later launches.
    QEventLoop loop;
    QTimer::singleShot(60ms, &loop, &QEventLoop::quit);
    loop.exec();
    ::unlink(mark.constData());
    return kRan;
}

// A process making one launch per round, each on that round's folder when the test says go, so that
// every round's launches start together; it tells how each ended.
int launches(const QString &base, int rounds)
{
    const DiagCapture quiet; // stdout carries the answers alone
    QFile in;
    QFile out;
    if (!in.open(stdin, QIODevice::ReadOnly) || !out.open(stdout, QIODevice::WriteOnly))
        return 1;
    for (int round = 0; round < rounds; ++round) {
        if (in.readLine().isEmpty())
            return 1;
        out.write(launchOnce(roundFolder(base, round)));
        out.flush();
    }
    return 0;
}

// The pid of a process that has ended.
qint64 deadPid()
{
    QProcess p;
    p.start(QStringLiteral("true"), {});
    if (!p.waitForStarted())
        return 0;
    const qint64 pid = p.processId();
    p.waitForFinished();
    return pid;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void laterLaunchAsksTheFirstToRaise();
    void foldersAreIndependent();
    void freedFolderCanBeClaimed();
    void lockOfAnEndedProcessDoesNotBlock();
    void lockLeftUnwrittenDoesNotBlock_data();
    void lockLeftUnwrittenDoesNotBlock();
    void holderThatNeverAnswersIsGivenUpOn();
    void lockFileIsPrivate();
    void launchesAtOnceRunOneAtATime_data();
    void launchesAtOnceRunOneAtATime();
};

void TestSingleInstance::laterLaunchAsksTheFirstToRaise()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("Folionest"));
    DiagCapture diag;
    SingleInstance first(folder);
    QVERIFY(first.claim());
    QVERIFY(QFile::exists(lockPath(folder)));
    QSignalSpy raised(&first, &SingleInstance::raiseRequested);

    SingleInstance second(folder);
    QVERIFY(!second.claim());
    QVERIFY(raised.wait(5000));
    SingleInstance third(folder);
    QVERIFY(!third.claim());
    QTRY_COMPARE(raised.count(), 2);
    QVERIFY(diag.contains(QStringLiteral("asked for the window")));
}

void TestSingleInstance::foldersAreIndependent()
{
    QTemporaryDir dir;
    SingleInstance one(dir.filePath(QStringLiteral("one")));
    SingleInstance two(dir.filePath(QStringLiteral("two")));
    QVERIFY(one.claim());
    QVERIFY(two.claim());
    QVERIFY(SingleInstance::serverName(dir.filePath(QStringLiteral("one"))) !=
            SingleInstance::serverName(dir.filePath(QStringLiteral("two"))));
}

void TestSingleInstance::freedFolderCanBeClaimed()
{
    QTemporaryDir dir;
    auto first = std::make_unique<SingleInstance>(dir.path());
    QVERIFY(first->claim());
    first.reset();
    SingleInstance next(dir.path());
    QVERIFY(next.claim());
    // And it answers in turn.
    QSignalSpy raised(&next, &SingleInstance::raiseRequested);
    SingleInstance later(dir.path());
    QVERIFY(!later.claim());
    QVERIFY(raised.wait(5000));
}

// A crash leaves the lock file behind: its process is gone, so the next launch runs.
void TestSingleInstance::lockOfAnEndedProcessDoesNotBlock()
{
    QTemporaryDir dir;
    QByteArray content;
    {
        QLockFile lock(lockPath(dir.path()));
        QVERIFY(lock.tryLock(0));
        QFile f(lockPath(dir.path()));
        QVERIFY(f.open(QIODevice::ReadOnly));
        content = f.readAll();
        lock.unlock();
    }
    const qint64 pid = deadPid();
    QVERIFY(pid > 0);
    content.replace(0, content.indexOf('\n'), QByteArray::number(pid));
    QFile f(lockPath(dir.path()));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();

    QElapsedTimer clock;
    clock.start();
    SingleInstance next(dir.path());
    QVERIFY(next.claim());
    QVERIFY(clock.elapsed() < 2000);
}

// A launch killed between creating its lock file and writing it.
void TestSingleInstance::lockLeftUnwrittenDoesNotBlock_data()
{
    QTest::addColumn<int>("ageSeconds");
    QTest::addColumn<bool>("heldByALiveLaunch"); // one that has locked it and not yet written it
    QTest::newRow("left long ago") << 60 << false;
    QTest::newRow("left just now") << 0 << false;
    QTest::newRow("being written") << 60 << true;
}

void TestSingleInstance::lockLeftUnwrittenDoesNotBlock()
{
    QFETCH(int, ageSeconds);
    QFETCH(bool, heldByALiveLaunch);
    QTemporaryDir dir;
    QFile f(lockPath(dir.path()));
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-ageSeconds),
                          QFileDevice::FileModificationTime));
    if (heldByALiveLaunch)
        QCOMPARE(::flock(f.handle(), LOCK_EX | LOCK_NB), 0);
    else
        f.close();

    SingleInstance next(dir.path());
    if (heldByALiveLaunch) {
        QVERIFY(!next.claim(1500ms));
        QVERIFY(f.exists());
        return;
    }
    QVERIFY(next.claim());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll().startsWith(QByteArray::number(QCoreApplication::applicationPid()) + '\n'));
}

void TestSingleInstance::holderThatNeverAnswersIsGivenUpOn()
{
    QTemporaryDir dir;
    QLockFile holder(lockPath(dir.path()));
    QVERIFY(holder.tryLock(0));
    DiagCapture diag;
    QElapsedTimer clock;
    clock.start();
    SingleInstance later(dir.path());
    QVERIFY(!later.claim(300ms));
    QVERIFY(clock.elapsed() < 3000);
    QCOMPARE(diag.lines().size(), 1);
    QVERIFY2(diag.lines().first().contains(QLatin1String("did not answer")),
             qPrintable(diag.lines().first()));
}

// Like every other file of the app's; the usual umask would leave it readable by all.
void TestSingleInstance::lockFileIsPrivate()
{
    const mode_t previous = ::umask(022);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("Folionest"));
    SingleInstance instance(folder);
    const bool claimed = instance.claim();
    ::umask(previous);
    QVERIFY(claimed);
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(lockPath(folder)).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0600));
}

void TestSingleInstance::launchesAtOnceRunOneAtATime_data()
{
    QTest::addColumn<bool>("leftUnwritten");
    QTest::addColumn<int>("rounds");
    QTest::newRow("after a launch killed before writing its lock") << true << 200;
    QTest::newRow("on a fresh folder") << false << 40;
}

// Real processes, their launches started together round after round; a round's winners may follow one
// another, never overlap.
void TestSingleInstance::launchesAtOnceRunOneAtATime()
{
    QFETCH(bool, leftUnwritten);
    QFETCH(int, rounds);
    constexpr int kProcesses = 8;
    QTemporaryDir base;
    for (int round = 0; round < rounds && leftUnwritten; ++round) {
        QVERIFY(QDir().mkpath(roundFolder(base.path(), round)));
        QFile f(lockPath(roundFolder(base.path(), round)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(
            f.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-60), QFileDevice::FileModificationTime));
    }
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int i = 0; i < kProcesses; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QCoreApplication::applicationFilePath(),
                 {QString::fromLatin1(kLaunchArg), base.path(), QString::number(rounds)});
        processes.push_back(std::move(p));
    }
    for (auto &p : processes)
        QVERIFY(p->waitForStarted(30000));
    for (int round = 0; round < rounds; ++round) {
        // Written out at once, not when the loop next turns.
        for (auto &p : processes) {
            p->write("go\n");
            QVERIFY(p->waitForBytesWritten(30000));
        }
        int ran = 0;
        for (auto &p : processes) {
            while (!p->canReadLine())
                QVERIFY2(p->waitForReadyRead(30000), qPrintable(QStringLiteral("round %1").arg(round)));
            const QByteArray end = p->readLine();
            QVERIFY2(end == kRan || end == kStoodAside,
                     qPrintable(QStringLiteral("round %1: %2").arg(round).arg(QString::fromUtf8(end))));
            ran += end == kRan ? 1 : 0;
        }
        QVERIFY(ran >= 1);
    }
    for (auto &p : processes) {
        QVERIFY(p->waitForFinished(30000));
        QCOMPARE(p->exitCode(), 0);
    }
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], kLaunchArg) == 0)
        return launches(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    TestSingleInstance test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_single_instance.moc"
