#include "app/app_window.h"
#include "app/main_view.h"
#include "support/app_harness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <csignal>

#include <sys/resource.h>

namespace {

constexpr int kWait = 15000;

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

StoreState someNotes()
{
    StoreState s;
    FNPage page;
    page.localID = QStringLiteral("P");
    page.serverID = 42;
    page.title = QStringLiteral("Kept whole");
    page.createdAt = page.updatedAt = QDateTime(QDate(2026, 1, 4), QTime(0, 0), Qt::UTC);
    s.pages = {page};
    FNBlock block;
    block.localID = QStringLiteral("B");
    block.pageLocalID = page.localID;
    block.type = QStringLiteral("text");
    block.contentJSON = QStringLiteral(R"({"text":"hello"})");
    block.createdAt = block.updatedAt = page.createdAt;
    s.blocks = {block};
    return s;
}

// A throwaway home for the app binary, its data folder holding a valid state.json.
struct Home {
    QTemporaryDir dir;

    QString dataFolder() const { return dir.filePath(QStringLiteral("data/Folionest")); }
    QString statePath() const { return dataFolder() + QStringLiteral("/state.json"); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

    void launch(QProcess &app) const
    {
        app.setProcessEnvironment(environment());
        app.setProcessChannelMode(QProcess::SeparateChannels);
        app.start(QStringLiteral(PENROOST_APP_BINARY), {});
    }
};

} // namespace

class TestLaunch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void secondLaunchRaisesTheFirstAndExits();
    void crashedLaunchDoesNotBlockTheNext();
    void quitBySignalEndsTheAppAsQuitDoes_data();
    void quitBySignalEndsTheAppAsQuitDoes();
    void blockedSavesAreToldInTheWindow_data();
    void blockedSavesAreToldInTheWindow();
};

void TestLaunch::secondLaunchRaisesTheFirstAndExits()
{
    Home home;
    QVERIFY(QDir().mkpath(home.dir.filePath(QStringLiteral("run"))));
    const QByteArray notes = sharedJSONEncode(someNotes());
    QVERIFY(writeFile(home.statePath(), notes));

    QProcess first;
    home.launch(first);
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(home.dataFolder() + QStringLiteral("/penroost-derud.lock")),
                             kWait);

    QProcess second;
    QElapsedTimer clock;
    clock.start();
    home.launch(second);
    QVERIFY(second.waitForFinished(kWait));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));

    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += first.readAllStandardOutput()).contains("asked for the window"), kWait);
    QCOMPARE(first.state(), QProcess::Running);
    QCOMPARE(readFile(home.statePath()), notes);

    first.terminate();
    QVERIFY(first.waitForFinished(kWait));
    QCOMPARE(readFile(home.statePath()), notes);
}

// A killed app leaves its lock and socket behind; the next launch runs, and answers the one after.
void TestLaunch::crashedLaunchDoesNotBlockTheNext()
{
    Home home;
    QVERIFY(QDir().mkpath(home.dir.filePath(QStringLiteral("run"))));
    QVERIFY(writeFile(home.statePath(), sharedJSONEncode(someNotes())));
    const QString lock = home.dataFolder() + QStringLiteral("/penroost-derud.lock");

    QProcess crashed;
    home.launch(crashed);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lock), kWait);
    crashed.kill();
    QVERIFY(crashed.waitForFinished(kWait));
    QVERIFY(QFile::exists(lock));

    QProcess next;
    home.launch(next);
    QVERIFY(next.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(readFile(lock).startsWith(QByteArray::number(next.processId()) + '\n'), kWait);
    QVERIFY(!next.waitForFinished(1000));

    QProcess later;
    home.launch(later);
    QVERIFY(later.waitForFinished(kWait));
    QCOMPARE(later.exitCode(), 0);
    QCOMPARE(next.state(), QProcess::Running);
    next.terminate();
    QVERIFY(next.waitForFinished(kWait));
}

void TestLaunch::quitBySignalEndsTheAppAsQuitDoes_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("desktop logout") << int(SIGTERM);
    QTest::newRow("terminal closed") << int(SIGHUP);
    QTest::newRow("Ctrl+C") << int(SIGINT);
}

// The app leaves through its own quit, with its writes done, rather than being cut off mid-way.
void TestLaunch::quitBySignalEndsTheAppAsQuitDoes()
{
    QFETCH(int, signal);
    Home home;
    QVERIFY(QDir().mkpath(home.dir.filePath(QStringLiteral("run"))));
    const QByteArray notes = sharedJSONEncode(someNotes());
    QVERIFY(writeFile(home.statePath(), notes));
    const QString lock = home.dataFolder() + QStringLiteral("/penroost-derud.lock");

    QProcess app;
    home.launch(app);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lock), kWait);
    ::kill(pid_t(app.processId()), signal);
    QVERIFY(app.waitForFinished(kWait));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    QCOMPARE(readFile(home.statePath()), notes);
    QVERIFY(QDir(home.dataFolder()).entryList({QStringLiteral("state.json.tmp-*")}, QDir::Files).isEmpty());
}

void TestLaunch::blockedSavesAreToldInTheWindow_data()
{
    QTest::addColumn<bool>("blocked");
    QTest::newRow("saves blocked") << true;
    QTest::newRow("saves as usual") << false;
}

// The store cannot show anything itself: the window tells the user, over whatever screen shows.
void TestLaunch::blockedSavesAreToldInTheWindow()
{
    QFETCH(bool, blocked);
    AppDevice device;
    QByteArray bytes = sharedJSONEncode(someNotes());
    bytes.replace(R"("cursorServerTs":0)", R"("cursorServerTs":"0")");
    QVERIFY(writeFile(device.storeFolder() + QStringLiteral("/state.json"), bytes));

    // Beyond the size limit writes fail (the signal that would end the process is ignored), so the
    // copy of the partly read file cannot be made.
    rlimit before;
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &before) == 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = rlim_t(bytes.size() / 2);
    if (blocked)
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    auto app = std::make_unique<AppHarness>(device);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &before) == 0);
    std::signal(SIGXFSZ, oldHandler);
    QCOMPARE(app->store.isSaveBlocked(), blocked);
    QCOMPARE(app->store.state().pages, someNotes().pages);

    AppWindow window(app->context(), [](const AppContext &c) { return new MainView(c); });
    window.show();
    if (blocked) {
        QVERIFY(app->toasts.current());
        QCOMPARE(app->toasts.current()->message, QString::fromUtf8(AppWindow::kSaveBlocked));
        QVERIFY(app->toasts.remaining() > ToastCenter::kDuration);
    } else {
        QVERIFY(!app->toasts.current());
    }
}

QTEST_MAIN(TestLaunch)
#include "tst_launch.moc"
