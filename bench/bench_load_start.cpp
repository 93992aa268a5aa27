// Load and start with the large state, against a RapidJSON DOM parse of the same bytes timed in the same
// run: the store's load, the peak memory a load leaves behind, and the time from a process start to a
// usable main window (shown, painted, the event loop idle). Run a Release build: bench_load_start [runs]
#include "app/app_window.h"
#include "app/main_view.h"
#include "app/page_panels.h"
#include "app/page_sheets.h"
#include "bench_state.h"
#include "bench_stats.h"
#include "json/json_reader.h"
#include "store/local_store.h"
#include "store/sync_engine.h"
#include "support/app_harness.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

QElapsedTimer g_sinceMain;

template <typename F>
double medianMs(int runs, F &&f)
{
    std::vector<double> v;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        v.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    return median(v);
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

// A fresh process: the peak holds the load alone, then the load and the first save after it.
int childRss(const QString &folder)
{
    LocalStore store(folder, std::chrono::hours(1));
    const qint64 loaded = procStatusKb("VmHWM:");
    store.change([](StoreState &s) { s.cursorServerTs += 1; });
    store.save();
    std::printf("%zu %lld %lld\n", store.state().blocks.size(), loaded, procStatusKb("VmHWM:"));
    return 0;
}

// A fresh process built as the app's entry builds it, over `device`: prints the milliseconds from
// main to the store loaded, to the window shown, and to the event loop idle after its first paint.
int childStart(const QString &deviceDir)
{
    const QString settings = QDir(deviceDir).filePath(QStringLiteral("settings.ini"));
    DeviceServices services(settings, std::make_shared<MemorySecretBackend>(), kNoServiceOrigin);
    services.setToken(QStringLiteral("bench-token"));
    const double beforeStore = double(g_sinceMain.nsecsElapsed()) / 1e6;
    LocalStore store(QDir(deviceDir).filePath(QStringLiteral("Folionest")));
    const double loaded = double(g_sinceMain.nsecsElapsed()) / 1e6;
    SyncEngine engine(store, services.client);
    ToastCenter toasts;
    FavoritesStore favorites(services.settings);
    TemplateStore templates(services.settings);
    RecordingUrlOpener opener;
    RecordingClipboard clipboard;
    AppContext context{&services.session,
                       &store,
                       &toasts,
                       &favorites,
                       &templates,
                       &engine,
                       &services.settings,
                       &opener,
                       &services.client,
                       &services.connectivity,
                       &services.events,
                       &clipboard};
    MainView::Parts parts;
    parts.panel = makePagePanel;
    parts.sheet = makePageSheet;
    AppWindow window(context, [parts](const AppContext &c) { return new MainView(c, parts); });
    window.resize(1400, 900);
    window.show();
    const double shown = double(g_sinceMain.nsecsElapsed()) / 1e6;
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("window not exposed");
    // Idle: the first time the loop would block once the window is up.
    double idle = 0;
    auto *dispatcher = QAbstractEventDispatcher::instance();
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &window, [&] {
        if (idle == 0) {
            idle = double(g_sinceMain.nsecsElapsed()) / 1e6;
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
    });
    QApplication::exec();
    std::printf("%.1f %.1f %.1f %.1f\n", beforeStore, loaded, shown, idle);
    std::fflush(stdout);
    return 0;
}

QList<QByteArray> runChild(const QStringList &args, double *wallMs = nullptr)
{
    QProcess child;
    QElapsedTimer t;
    t.start();
    child.start(QCoreApplication::applicationFilePath(), args);
    child.waitForFinished(-1);
    if (wallMs)
        *wallMs = double(t.nsecsElapsed()) / 1e6;
    const QByteArray out = child.readAllStandardOutput().trimmed();
    if (child.exitCode() != 0 || out.isEmpty())
        qFatal("child %s failed: %s", qPrintable(args.join(' ')), child.readAllStandardError().constData());
    return out.split('\n').last().split(' ');
}

} // namespace

int main(int argc, char **argv)
{
    g_sinceMain.start();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--rss"))
        return childRss(args[2]);
    if (args.size() == 3 && args[1] == QLatin1String("--start"))
        return childStart(args[2]);
    if (args.size() == 3 && args[1] == QLatin1String("--parse-once")) {
        QFile f(QDir(args[2]).filePath(QStringLiteral("state.json")));
        f.open(QIODevice::ReadOnly);
        const QByteArray bytes = f.readAll();
        rapidjson::Document doc;
        std::printf("%.3f\n", medianMs(1, [&] { json::parseDocument(doc, bytes); }));
        return 0;
    }
    if (args.size() == 3 && args[1] == QLatin1String("--load-once")) {
        // The load alone: freeing the records after is no part of it.
        std::unique_ptr<LocalStore> store;
        std::printf("%.3f\n", medianMs(1, [&] {
                        store = std::make_unique<LocalStore>(args[2], std::chrono::hours(1));
                    }));
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
    const int runs = std::max(3, args.size() > 1 ? args[1].toInt() : 3);

    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-start-XXXXXX")));
    const QString folder = dir.filePath(QStringLiteral("Folionest"));
    generate(folder);
    QFile file(QDir(folder).filePath(QStringLiteral("state.json")));
    file.open(QIODevice::ReadOnly);
    const qint64 fileSize = file.size();
    file.close();
    const double fileKb = double(fileSize) / 1024;
    std::printf("state.json: %.1f MB; medians of %d runs\n\n", double(fileSize) / 1e6, runs);

    // The anchor and the load each in a fresh process, interleaved, so both meet the machine in the
    // same mood and neither inherits the other's heap.
    std::vector<double> parses, loads;
    for (int i = 0; i < runs; ++i) {
        parses.push_back(runChild({QStringLiteral("--parse-once"), folder}).value(0).toDouble());
        loads.push_back(runChild({QStringLiteral("--load-once"), folder}).value(0).toDouble());
    }
    const double parse = median(parses), load = median(loads);

    std::vector<double> loadedRatio, savedRatio;
    for (int i = 0; i < runs; ++i) {
        const QList<QByteArray> rss = runChild({QStringLiteral("--rss"), folder});
        loadedRatio.push_back(rss.value(1).toDouble() / fileKb);
        savedRatio.push_back(rss.value(2).toDouble() / fileKb);
    }

    std::vector<double> walls, mainToIdle, mainToShown, loadInStart;
    for (int i = 0; i < runs; ++i) {
        double wall = 0;
        const QList<QByteArray> t = runChild({QStringLiteral("--start"), dir.path()}, &wall);
        mainToShown.push_back(t.value(2).toDouble());
        mainToIdle.push_back(t.value(3).toDouble());
        loadInStart.push_back(t.value(1).toDouble() - t.value(0).toDouble());
        walls.push_back(wall);
    }
    const double idle = median(mainToIdle);

    std::printf("%-58s %9.1f ms\n", "anchor: RapidJSON DOM parse of the bytes", parse);
    std::printf("%-58s %9.1f ms  %6.2fx the parse (goal <= 1.2x)\n", "load (LocalStore over state.json)",
                load, load / parse);
    std::printf("%-58s %9.2fx the file (goal <= 2.5x)\n", "peak RSS after the load (fresh process)",
                median(loadedRatio));
    std::printf("%-58s %9.2fx the file\n", "peak RSS after the load and a first save", median(savedRatio));
    std::printf("%-58s %9.1f ms  %6.2fx the parse (goal < 600 ms)\n",
                "start: main() to window shown and idle", idle, idle / parse);
    std::printf("%-58s %9.1f ms\n", "  of which main() to window shown", median(mainToShown));
    std::printf("%-58s %9.1f ms\n", "  of which the store's load", median(loadInStart));
    std::printf("%-58s %9.1f ms  %6.2fx the parse\n", "start: process launch to exit after idle (wall)",
                median(walls), median(walls) / parse);
    return 0;
}
