// The longest time the event loop misses while a burst of edits is typed into the large state and
// saved, against a plain write + fsync of the same bytes timed in the same run. Run a Release build:
// bench_save_stall [bursts = 3]
#include "bench_io.h"
#include "bench_state.h"
#include "bench_state_writes.h"
#include "bench_stats.h"
#include "store/local_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

double plainWriteMs(const QString &path, const QByteArray &bytes)
{
    QElapsedTimer t;
    t.start();
    plainWrite(path, bytes);
    return double(t.nsecsElapsed()) / 1e6;
}

struct Burst {
    double longestStall = 0; // ms the loop went without running
    double longestEdit = 0;  // of which the edit calls themselves
    double toDisk = 0;       // from the last edit until its save was in place
    int writes = 0;
};

// Types into blocks every 30 ms for two seconds, then waits for the saves to be done; a 1 ms timer
// notes every gap in the event loop.
Burst typeBurst(LocalStore &store, int round, bool waitForSaves = true)
{
    Burst out;
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.nsecsElapsed();
    QTimer monitor;
    monitor.setTimerType(Qt::PreciseTimer);
    monitor.setInterval(1);
    QObject::connect(&monitor, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        out.longestStall = std::max(out.longestStall, double(now - lastTick) / 1e6);
        lastTick = now;
    });
    const int writesBefore = g_stateWrites.load();
    const auto &blocks = store.state().blocks;
    int typed = 0;
    QTimer typist;
    typist.setTimerType(Qt::PreciseTimer);
    typist.setInterval(30);
    QObject::connect(&typist, &QTimer::timeout, [&] {
        const QString id = blocks[size_t(round * 7919 + typed * 31) % blocks.size()].localID;
        QElapsedTimer t;
        t.start();
        store.editBlock(
            id, [&](FNBlock &b) { b.contentJSON = QStringLiteral(R"({"text":"typed %1"})").arg(typed); });
        out.longestEdit = std::max(out.longestEdit, double(t.nsecsElapsed()) / 1e6);
        ++typed;
    });
    monitor.start();
    typist.start();
    QTest::qWait(2000);
    typist.stop();
    QElapsedTimer toDisk;
    toDisk.start();
    if (waitForSaves)
        (void)QTest::qWaitFor([&] { return !store.isSavePending(); }, 60000);
    out.toDisk = double(toDisk.nsecsElapsed()) / 1e6;
    QTest::qWait(200);
    monitor.stop();
    out.writes = g_stateWrites.load() - writesBefore;
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int bursts = argc > 1 ? std::max(3, QByteArray(argv[1]).toInt()) : 3;

    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-stall-XXXXXX")));
    const QString folder = dir.path();
    std::printf("generating %d pages, %d blocks...\n", BenchState::kPages, BenchState::kBlocks);
    {
        LocalStore seed(folder);
        seed.change([](StoreState &s) { s = BenchState::generate(); });
        seed.save();
    }
    QFile file(QDir(folder).filePath(QStringLiteral("state.json")));
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    file.close();

    LocalStore store(folder);
    store.block(store.state().blocks.back().localID); // the id index, built once after a load

    // The same typing with no save due: what the loop misses on this machine anyway.
    std::vector<double> quiet;
    store.setLongestSaveWait(std::chrono::hours(1));
    {
        LocalStore idle(QDir(folder).filePath(QStringLiteral("idle")), std::chrono::hours(1));
        idle.setLongestSaveWait(std::chrono::hours(1));
        idle.change([&](StoreState &s) { s.blocks = store.state().blocks; });
        for (int i = 0; i < bursts; ++i)
            quiet.push_back(typeBurst(idle, i, false).longestStall);
        idle.change([](StoreState &s) { s = StoreState{}; });
    }
    store.setLongestSaveWait(LocalStore::kLongestSaveWait);

    std::vector<double> anchors, stalls, edits, toDisk;
    std::vector<int> writes;
    for (int i = 0; i < bursts; ++i) {
        anchors.push_back(plainWriteMs(QDir(folder).filePath(QStringLiteral("plain.json")), bytes));
        const Burst b = typeBurst(store, i);
        stalls.push_back(b.longestStall);
        edits.push_back(b.longestEdit);
        toDisk.push_back(b.toDisk);
        writes.push_back(b.writes);
        std::printf("burst %d: longest stall %.1f ms (longest edit %.2f ms), %d writes, last edit on disk "
                    "after %.0f ms; plain write %.1f ms\n",
                    i + 1, b.longestStall, b.longestEdit, b.writes, b.toDisk, anchors.back());
    }
    const double anchor = median(anchors);
    const double stall = median(stalls);
    std::printf("\nstate.json %.1f MB; medians of %d bursts of 2 s typing (one edit per 30 ms)\n",
                double(bytes.size()) / 1e6, bursts);
    std::printf("%-48s %9.1f ms  %6.2fx\n", "plain write + fsync of the bytes (anchor)", anchor, 1.0);
    std::printf("%-48s %9.1f ms  %6.2fx  (goal: <= 16 ms)\n", "longest event-loop stall during a burst",
                stall, stall / anchor);
    std::printf("%-48s %9.1f ms  %6.2fx\n", "  the same typing with no save due", median(quiet),
                median(quiet) / anchor);
    std::printf("%-48s %9.2f ms\n", "  longest single edit call", median(edits));
    std::printf("%-48s %9.0f ms\n", "last edit until its save is in place", median(toDisk));
    std::printf("%-48s %9d\n", "writes per burst (median)", [&] {
        std::vector<int> w = writes;
        std::sort(w.begin(), w.end());
        return w[w.size() / 2];
    }());
    return 0;
}
