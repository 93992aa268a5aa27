// Load and start with the large state, against a bare RapidJSON parse of the same bytes timed in the
// same run: the store's load (also on one core), and the real app's start: the `penroost` binary with a
// keyring, a service origin (the fake service), its instance lock and icon theme, from its launch until
// the window has painted, the first save after the load is written and the event loop has been quiet
// for half a second; with the longest turn of the loop inside it and the peak memory it reached.
// Needs a keyring and a display:
//   dbus-run-session -- bash scripts/with-keyring.sh xvfb-run -a build/bench/bench_load_start [runs]
// BENCH_START_WRAPPER="perf record -g -o start.data" runs each start under that command.
#include "api/session_store.h"
#include "app/start_report.h"
#include "bench_service_thread.h"
#include "bench_state.h"
#include "bench_stats.h"
#include "platform/keyring_secret_backend.h"
#include "platform/secret_store.h"
#include "platform/settings.h"
#include "store/local_store.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <rapidjson/document.h>

#include <sched.h>

#include <algorithm>
#include <cstdio>

namespace {

double elapsedMs(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

qint64 procStatusKb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(strlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// The rest of this process, threads made later included, runs on the core it is on now.
void keepToOneCore()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(sched_getcpu(), &set);
    sched_setaffinity(0, sizeof(set), &set);
}

QByteArray readState(const QString &folder)
{
    QFile f(QDir(folder).filePath(QStringLiteral("state.json")));
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// A fresh process: the store alone, its peak after the load and after a first save.
int childRss(const QString &folder)
{
    LocalStore store(folder, std::chrono::hours(1));
    const qint64 loaded = procStatusKb("VmHWM:");
    store.change([](StoreState &s) { s.cursorServerTs += 1; });
    store.save();
    std::printf("%zu %lld %lld\n", store.state().blocks.size(), loaded, procStatusKb("VmHWM:"));
    return 0;
}

// Signs the app's settings and keyring in, as a sign-in would, in the environment the app will see.
int childSeedSession(const QString &token, qint64 userID)
{
    Settings settings;
    SecretStore secrets(std::make_shared<KeyringSecretBackend>());
    secrets.loadBlocking(SessionStore::keychainAccounts());
    SessionStore session(secrets, settings);
    session.signIn(token, AuthUser{.id = userID,
                                   .name = QStringLiteral("Bench"),
                                   .email = QStringLiteral("bench@example.com")});
    if (!QTest::qWaitFor([&] { return secrets.isIdle(); }, 30000))
        qFatal("the keyring did not answer");
    secrets.loadBlocking(SessionStore::keychainAccounts());
    std::printf("ok\n");
    return 0;
}

QList<QByteArray> runChild(const QStringList &args, const QProcessEnvironment &env = {})
{
    QProcess child;
    if (!env.isEmpty())
        child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), args);
    child.waitForFinished(-1);
    const QByteArray out = child.readAllStandardOutput().trimmed();
    if (child.exitCode() != 0 || out.isEmpty())
        qFatal("child %s failed: %s", qPrintable(args.join(' ')), child.readAllStandardError().constData());
    return out.split('\n').last().split(' ');
}

struct AppRun {
    double startMs = 0;
    double paintedMs = 0;
    double longestTurnMs = 0;
    double peakKbPainted = 0;
    double peakKbSaved = 0;
    bool saved = false;
    double savedMs = 0;
    // The steps the app marked, in order, each with when it ended after the launch.
    std::vector<std::pair<QByteArray, double>> steps;
    // The app's longest turns with what ran in each ("ms:name,..."), empty when none was long.
    QByteArray turns;
};

QByteArray reportField(const QByteArray &line, const QByteArray &key)
{
    for (const QByteArray &part : line.trimmed().split(' ')) {
        if (part.startsWith(key + '='))
            return part.mid(key.size() + 1);
    }
    qFatal("no %s in the app's report", key.constData());
}

// One start of the real binary on a copy of the state, in a home of its own.
AppRun runApp(const QString &penroost, const QString &stateFolder, const QString &home,
              const QProcessEnvironment &env)
{
    QDir(home).removeRecursively();
    const QString data = QDir(home).filePath(QStringLiteral("data/Folionest"));
    QDir().mkpath(data);
    QFile::copy(QDir(stateFolder).filePath(QStringLiteral("state.json")),
                QDir(data).filePath(QStringLiteral("state.json")));
    QProcessEnvironment appEnv = env;
    appEnv.insert(QStringLiteral("XDG_DATA_HOME"), QDir(home).filePath(QStringLiteral("data")));
    appEnv.insert(QString::fromLatin1(StartReport::kEnvironment), QStringLiteral("1"));

    QProcess app;
    app.setProcessEnvironment(appEnv);
    app.setProcessChannelMode(QProcess::SeparateChannels);
    app.setReadChannel(QProcess::StandardError);
    QElapsedTimer clock;
    clock.start();
    const qint64 launchedAt = clock.msecsSinceReference();
    // A profiler to run the app under, for finding where its start goes (its figures are then no measure).
    QStringList command =
        QString::fromLocal8Bit(qgetenv("BENCH_START_WRAPPER")).split(u' ', Qt::SkipEmptyParts);
    command << penroost;
    app.start(command.takeFirst(), command);
    QByteArray err, report;
    while (report.isEmpty()) {
        if (!app.waitForReadyRead(180000) && app.state() != QProcess::Running)
            qFatal("penroost ended before its report: %s", err.constData());
        err += app.readAllStandardError();
        const qsizetype at = err.indexOf("start-report ");
        if (at >= 0 && err.indexOf('\n', at) > at)
            report = err.mid(at, err.indexOf('\n', at) - at);
    }
    // How it ends is no part of the start.
    app.kill();
    app.waitForFinished();
    AppRun run;
    run.startMs = double(reportField(report, "ready_at").toLongLong() - launchedAt);
    run.paintedMs = double(reportField(report, "painted_at").toLongLong() - launchedAt);
    run.saved = reportField(report, "saved_at").toLongLong() != 0;
    run.savedMs = run.saved ? double(reportField(report, "saved_at").toLongLong() - launchedAt) : 0;
    for (const QByteArray &part : report.split(' ')) {
        if (part.startsWith("step_") && part.contains('='))
            run.steps.emplace_back(part.mid(5, part.indexOf('=') - 5),
                                   double(part.mid(part.indexOf('=') + 1).toLongLong() - launchedAt));
    }
    run.longestTurnMs = reportField(report, "longest_turn_ms").toDouble();
    for (const QByteArray &part : report.split(' ')) {
        if (part.startsWith("turns="))
            run.turns = part.mid(6);
    }
    run.peakKbPainted = reportField(report, "peak_kb_painted").toDouble();
    run.peakKbSaved = reportField(report, "peak_kb_saved").toDouble();
    return run;
}

double timeOnce(const std::function<void()> &f)
{
    QElapsedTimer t;
    t.start();
    f();
    return elapsedMs(t);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    if (args.removeAll(QStringLiteral("--one-core")) > 0)
        keepToOneCore();
    if (args.size() == 3 && args[1] == QLatin1String("--rss"))
        return childRss(args[2]);
    if (args.size() == 4 && args[1] == QLatin1String("--seed-session"))
        return childSeedSession(args[2], args[3].toLongLong());
    if (args.size() == 3 && args[1] == QLatin1String("--parse-once")) {
        const QByteArray bytes = readState(args[2]);
        rapidjson::Document doc;
        std::printf("%.3f\n", timeOnce([&] { doc.Parse(bytes.constData(), size_t(bytes.size())); }));
        return doc.HasParseError() ? 1 : 0;
    }
    if (args.size() == 3 && args[1] == QLatin1String("--load-once")) {
        // The load alone: freeing the records after is no part of it.
        std::unique_ptr<LocalStore> store;
        std::printf("%.3f\n",
                    timeOnce([&] { store = std::make_unique<LocalStore>(args[2], std::chrono::hours(1)); }));
        return 0;
    }
    // For a profiler: loads the state in `folder` again and again.
    if (args.size() == 4 && args[1] == QLatin1String("--load")) {
        for (int i = 0; i < args[3].toInt(); ++i)
            LocalStore s(args[2], std::chrono::hours(1));
        return 0;
    }
    const auto generate = [](const QString &folder) {
        std::printf("generating %d pages, %d blocks...\n", BenchState::kPages, BenchState::kBlocks);
        LocalStore seed(folder);
        seed.change([](StoreState &s) { s = BenchState::generate(); });
        seed.save();
    };
    if (args.size() == 3 && args[1] == QLatin1String("--generate")) {
        generate(args[2]);
        return 0;
    }
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        qFatal("run under dbus-run-session and scripts/with-keyring.sh: the app's start reads the keyring");
    // --start-only: the starts and their anchor alone, for comparing two builds of the app quickly.
    const bool startOnly = args.removeAll(QStringLiteral("--start-only")) > 0;
    const int runs = std::max(3, args.size() > 1 ? args[1].toInt() : 3);
    const QString penroost =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../src/penroost"));
    if (!QFile::exists(penroost))
        qFatal("no %s: build the penroost target", qPrintable(penroost));

    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-start-XXXXXX")));
    const QString folder = dir.filePath(QStringLiteral("Folionest"));
    generate(folder);
    const qint64 fileSize = QFileInfo(QDir(folder).filePath(QStringLiteral("state.json"))).size();
    const double fileKb = double(fileSize) / 1024;
    std::printf("state.json: %.1f MB; medians of %d runs\n\n", double(fileSize) / 1e6, runs);

    // The service knows the state's workspaces, folders and pages as the device last saw them, but for
    // one page renamed on another device: the start's refresh brings that one change (and so the first
    // save after the load), as a device that was away for a while finds. A service knowing less would
    // have the start delete the records it does not list.
    BenchServiceThread service;
    if (!service.started())
        qFatal("the fake service did not start");
    const FakeService::Account account = service.createAccount(
        QStringLiteral("bench@example.com"), QStringLiteral("penroost-bench"), QStringLiteral("Bench"));
    const StoreState seeded = BenchState::generate();
    service.withService([&](FakeService &fake) {
        for (const FNWorkspace &w : seeded.workspaces) {
            fake.state().workspaces[w.serverID] = {
                .id = w.serverID, .name = w.name, .ownerUserId = account.userId, .createdAt = w.createdAt};
            fake.state().memberships.push_back({.workspaceId = w.serverID,
                                                .userId = account.userId,
                                                .role = QStringLiteral("owner"),
                                                .joinedAt = w.createdAt});
        }
        for (const FNFolder &f : seeded.folders)
            fake.state().folders[f.serverID] = {.id = f.serverID,
                                                .workspaceId = f.workspaceServerID,
                                                .parentFolderId = f.parentFolderServerID,
                                                .name = f.name,
                                                .icon = f.icon,
                                                .position = f.position,
                                                .createdAt = f.createdAt,
                                                .updatedAt = f.updatedAt};
        for (const FNPage &p : seeded.pages)
            fake.state().pages[p.serverID] = {.id = p.serverID,
                                              .workspaceId = p.workspaceServerID,
                                              .parentPageId = p.parentPageServerID,
                                              .folderId = p.folderServerID,
                                              .title = p.title,
                                              .icon = p.icon,
                                              .position = p.position,
                                              .coverUrl = p.coverURL,
                                              .createdByUserId = account.userId,
                                              .createdAt = p.createdAt,
                                              .updatedAt = p.updatedAt,
                                              .deletedAt = p.deletedAt.value_or(QDateTime())};
        const auto shown = std::find_if(seeded.pages.cbegin(), seeded.pages.cend(), [&](const FNPage &p) {
            return p.workspaceServerID == seeded.currentWorkspaceID && !p.deletedAt;
        });
        FakeServiceState::Page &renamed = fake.state().pages.at(shown->serverID);
        renamed.title += QStringLiteral(" (edited elsewhere)");
        renamed.updatedAt = renamed.updatedAt.addSecs(60);
    });

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString config = dir.filePath(QStringLiteral("config"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("PENROOST_SERVICE_ORIGIN"), service.origin());
    runChild({QStringLiteral("--seed-session"), account.token, QString::number(account.userId)}, env);

    // Each figure against its anchor in a fresh process, interleaved, so both meet the machine in
    // the same mood and neither inherits the other's heap.
    std::vector<double> parses, loads, parsesOne, loadsOne, starts, painted, turns, peakPainted, peakSaved,
        startParses, saveAfterPaint;
    // When each step of the start ended after the launch, per run.
    std::vector<std::pair<QByteArray, std::vector<double>>> split;
    const auto addSplit = [&](const QByteArray &name, double ms) {
        auto it = std::find_if(split.begin(), split.end(), [&](const auto &s) { return s.first == name; });
        if (it == split.end())
            it = split.insert(split.end(), {name, {}});
        it->second.push_back(ms);
    };
    int saved = 0;
    std::vector<QByteArray> namedTurns;
    for (int i = 0; i < runs; ++i) {
        parses.push_back(runChild({QStringLiteral("--parse-once"), folder}).value(0).toDouble());
        if (!startOnly) {
            loads.push_back(runChild({QStringLiteral("--load-once"), folder}).value(0).toDouble());
            parsesOne.push_back(
                runChild({QStringLiteral("--parse-once"), QStringLiteral("--one-core"), folder})
                    .value(0)
                    .toDouble());
            loadsOne.push_back(runChild({QStringLiteral("--load-once"), QStringLiteral("--one-core"), folder})
                                   .value(0)
                                   .toDouble());
        }
        const AppRun run = runApp(penroost, folder, dir.filePath(QStringLiteral("home")), env);
        startParses.push_back(runChild({QStringLiteral("--parse-once"), folder}).value(0).toDouble());
        for (const auto &[name, at] : run.steps)
            addSplit(name, at);
        addSplit("first_paint", run.paintedMs);
        if (run.saved)
            addSplit("first_save_seen", run.savedMs);
        addSplit("ready", run.startMs);
        saveAfterPaint.push_back(run.saved ? run.savedMs - run.paintedMs : 0);
        starts.push_back(run.startMs);
        painted.push_back(run.paintedMs);
        turns.push_back(run.longestTurnMs);
        namedTurns.push_back(run.turns);
        peakPainted.push_back(run.peakKbPainted / fileKb);
        peakSaved.push_back(run.peakKbSaved / fileKb);
        saved += run.saved ? 1 : 0;
    }
    std::vector<double> storeOnly;
    for (int i = 0; i < (startOnly ? 0 : runs); ++i)
        storeOnly.push_back(runChild({QStringLiteral("--rss"), folder}).value(1).toDouble() / fileKb);

    const double parse = median(parses), parseOne = startOnly ? 0 : median(parsesOne);
    // The start's anchor: the parses timed just before and just after each start.
    std::vector<double> aroundStarts = parses;
    aroundStarts.insert(aroundStarts.end(), startParses.begin(), startParses.end());
    const double startParse = median(aroundStarts);
    std::printf("%-58s %9.1f ms\n", "anchor: RapidJSON Document::Parse of the bytes", parse);
    if (!startOnly) {
        const double load = median(loads), loadOne = median(loadsOne);
        std::printf("%-58s %9.1f ms  %6.2fx the parse\n", "load (LocalStore over state.json)", load,
                    load / parse);
        std::printf("%-58s %9.1f ms\n", "anchor on one core: the same parse", parseOne);
        std::printf("%-58s %9.1f ms  %6.2fx the parse\n", "load on one core", loadOne, loadOne / parseOne);
    }
    std::printf("%-58s %9.1f ms  %6.2fx the parse (goal <= 1.5x)\n",
                "start: launch to painted, saved and quiet (real app)", median(starts),
                median(starts) / startParse);
    std::printf("%-58s %9.1f ms  %6.2fx the parse\n", "  of which launch to the first paint", median(painted),
                median(painted) / startParse);
    std::printf("%-58s %9.1f ms  %6.2fx the parse (goal <= 0.05x)\n", "  longest event-loop turn in it",
                median(turns), median(turns) / startParse);
    std::printf("%-58s %9d of %d\n", "  starts that saved", saved, runs);
    std::printf("%-58s %9.1f ms  %6.2fx the parse\n", "  of which the first save after the paint",
                median(saveAfterPaint), median(saveAfterPaint) / startParse);
    // Steps in the order of their median end; some run side by side, so a step's time since the one
    // before is not always its own cost.
    std::sort(split.begin(), split.end(),
              [](const auto &a, const auto &b) { return median(a.second) < median(b.second); });
    std::printf("  the longest turns of each start (ms:what ran in it):\n");
    for (const QByteArray &named : namedTurns)
        std::printf("    %s\n", named.isEmpty() ? "none over 10 ms" : named.constData());
    std::printf("  the start step by step (median end after launch, and since the step before):\n");
    double before = 0;
    for (const auto &[name, times] : split) {
        const QByteArray label = "    " + name;
        std::printf("%-58s %9.1f ms  +%7.1f ms\n", label.constData(), median(times), median(times) - before);
        before = median(times);
    }
    std::printf("%-58s %9.2fx the file (goal <= 2.5x)\n", "peak memory of the app after start",
                median(peakPainted));
    std::printf("%-58s %9.2fx the file (goal <= 3x)\n", "peak memory of the app after the first save",
                median(peakSaved));
    if (!startOnly)
        std::printf("%-58s %9.2fx the file\n", "peak memory of the store alone after its load",
                    median(storeOnly));
    // For bench/compare_builds.sh.
    std::printf("figures: parse_ms=%.1f start_ms=%.1f start_x=%.3f painted_ms=%.1f save_after_paint_ms=%.1f "
                "longest_turn_ms=%.1f\n",
                startParse, median(starts), median(starts) / startParse, median(painted),
                median(saveAfterPaint), median(turns));
    return 0;
}
