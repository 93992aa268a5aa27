// The load of the large state with a send journal left behind by a kill, against the same load
// without one, timed in the same run: each load in a fresh process, the two interleaved. The
// journal holds 100 notes of one 2,000-block upsert (about 8 MB), as when a device sent the same
// page's upsert again and again and was killed before a save covered them. Returns non-zero when
// the load with the journal takes more than the goal's times the load without it.
//   build/bench/bench_journal_load [runs]
#include "bench_state.h"
#include "bench_stats.h"
#include "json/json_coder.h"
#include "store/local_store.h"
#include "store/send_journal.h"
#include "support/local_store_testing.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr double kGoal = 1.5;
constexpr int kNotes = 100;
constexpr int kBlocksPerNote = 2000;

// A fresh process: the store's load over `folder`, in ms. Nothing is written after it, so the
// journal is there for the next run.
int childLoadOnce(const QString &folder)
{
    QElapsedTimer clock;
    clock.start();
    LocalStore store(folder, std::chrono::hours(1));
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    LocalStoreTesting::abandon(store);
    std::printf("%.3f %zu\n", ms, store.state().fillChecks.size());
    return 0;
}

QList<QByteArray> runChild(const QStringList &args)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), args);
    child.waitForFinished(-1);
    const QByteArray out = child.readAllStandardOutput().trimmed();
    if (child.exitCode() != 0 || out.isEmpty())
        qFatal("child %s failed: %s", qPrintable(args.join(' ')), child.readAllStandardError().constData());
    return out.split('\n').last().split(' ');
}

// The journal a kill leaves after the page's upsert went out `kNotes` times, each filling the place
// and kind of its blocks from this device's copy.
QByteArray journalOf(const StoreState &state)
{
    QMap<QString, qint64> filled;
    for (const FNBlock &block : state.blocks) {
        if (filled.size() >= kBlocksPerNote)
            break;
        if (!block.deletedAt)
            filled.insert(block.localID, 6);
    }
    QByteArray journal;
    for (int i = 0; i < kNotes; ++i) {
        SendNote note;
        note.opLocalID = state.outbox[size_t(i) % state.outbox.size()].localID;
        note.filled = filled;
        note.seq = i + 1;
        journal += '\n' + sharedJSONEncode(note) + '\n';
    }
    return journal;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--load-once"))
        return childLoadOnce(args[2]);
    const int runs = std::max(3, args.size() > 1 ? args[1].toInt() : 5);

    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-journal-XXXXXX")));
    const QString plain = dir.filePath(QStringLiteral("plain"));
    const QString killed = dir.filePath(QStringLiteral("killed"));
    std::printf("generating %d pages, %d blocks...\n", BenchState::kPages, BenchState::kBlocks);
    const StoreState state = BenchState::generate();
    {
        LocalStore seed(plain);
        seed.change([&](StoreState &s) { s = state; });
        seed.save();
    }
    QDir().mkpath(killed);
    QFile::copy(QDir(plain).filePath(QStringLiteral("state.json")),
                QDir(killed).filePath(QStringLiteral("state.json")));
    const QByteArray journal = journalOf(state);
    QFile notes(QDir(killed).filePath(QStringLiteral("state.json.sending")));
    if (!notes.open(QIODevice::WriteOnly) || notes.write(journal) != journal.size())
        qFatal("could not write the journal");
    notes.close();
    std::printf("journal: %d notes of %d blocks, %.1f MB; medians of %d runs\n\n", kNotes, kBlocksPerNote,
                double(journal.size()) / 1e6, runs);

    std::vector<double> without, with;
    qsizetype checks = 0;
    for (int i = 0; i < runs; ++i) {
        without.push_back(runChild({QStringLiteral("--load-once"), plain}).value(0).toDouble());
        const QList<QByteArray> loaded = runChild({QStringLiteral("--load-once"), killed});
        with.push_back(loaded.value(0).toDouble());
        checks = loaded.value(1).toLongLong();
    }
    if (checks != kBlocksPerNote)
        qFatal("the journal folded into %lld fill checks, not %d", qlonglong(checks), kBlocksPerNote);
    const double anchor = median(without), loaded = median(with);
    const double ratio = loaded / anchor;
    std::printf("%-58s %9.1f ms\n", "anchor: load (LocalStore over state.json)", anchor);
    std::printf("%-58s %9.1f ms  %6.2fx the anchor (goal <= %.1fx)\n", "load with the journal a kill left",
                loaded, ratio, kGoal);
    if (ratio > kGoal) {
        std::printf("goal missed\n");
        return 1;
    }
    return 0;
}
