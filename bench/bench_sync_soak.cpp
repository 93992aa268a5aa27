// A long soak of the two-device chaos run: many seeds of many steps against the fake service with
// faults, printed per seed and in total, timed against a fault-free run of the same length made
// first in the same process. Run a Release build:
//   bench_sync_soak [seeds = 20] [steps = 3000] [--details] [--seed N [--trace]]
// --details prints what was lost or copied; --seed runs that seed alone, --trace prints its steps.
#include "support/chaos_run.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void printRow(const char *label, const ChaosReport &r, double ratio)
{
    std::printf("%-8s %6lld %6d %6d %7d %6d %6d %6d %-8s %9lld %6.2f\n", label, qlonglong(r.steps.size()),
                r.edits, r.faults, r.requests, r.findings.merges, r.findings.duplicates, r.findings.lost,
                r.settled ? "yes" : "NO", qlonglong(r.wallMs), ratio);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool details = args.removeAll(QStringLiteral("--details")) > 0;
    const bool trace = args.removeAll(QStringLiteral("--trace")) > 0;
    int only = 0;
    if (const qsizetype at = args.indexOf(QStringLiteral("--seed")); at >= 0 && at + 1 < args.size()) {
        only = args[at + 1].toInt();
        args.remove(at, 2);
    }
    const int seeds = args.size() > 0 ? args[0].toInt() : 20;
    const int steps = args.size() > 1 ? args[1].toInt() : 3000;

    std::printf("%-8s %6s %6s %6s %7s %6s %6s %6s %-8s %9s %6s\n", "seed", "steps", "edits", "faults",
                "requests", "merges", "dups", "lost", "settled", "wall ms", "ratio");

    // The anchor: the same machinery and length, no faults; the ratio says what the faults cost.
    ChaosOptions anchorOptions;
    anchorOptions.seed = 0;
    anchorOptions.steps = steps;
    anchorOptions.faults = false;
    const ChaosReport anchor = ChaosRun(anchorOptions).run();
    const double anchorMs = double(std::max<qint64>(1, anchor.wallMs));
    printRow("anchor", anchor, 1.0);
    std::fflush(stdout);

    ChaosReport total;
    qint64 problems = 0;
    const int first = only > 0 ? only : 1;
    const int last = only > 0 ? only : seeds;
    for (int seed = first; seed <= last; ++seed) {
        ChaosOptions options;
        options.seed = quint64(seed);
        options.steps = steps;
        options.trace = trace;
        const ChaosReport r = ChaosRun(options).run();
        printRow(qPrintable(QString::number(seed)), r, double(r.wallMs) / anchorMs);
        if (details && !r.clean())
            std::printf("%s\n", qPrintable(r.details()));
        std::fflush(stdout);

        total.steps += r.steps;
        total.edits += r.edits;
        total.faults += r.faults;
        total.requests += r.requests;
        total.findings.lost += r.findings.lost;
        total.findings.merges += r.findings.merges;
        total.findings.duplicates += r.findings.duplicates;
        for (const auto &[kind, count] : r.findings.kinds)
            total.findings.kinds[kind] += count;
        total.wallMs += r.wallMs;
        problems += r.problems.size();
    }
    total.settled = problems == 0;
    printRow("total", total, double(total.wallMs) / (anchorMs * (last - first + 1)));
    for (const auto &[kind, count] : total.findings.kinds)
        std::printf("  %6d %s\n", count, qPrintable(kind));
    std::printf("ratio: a seed's wall time over the fault-free anchor's (%lld ms); the total's is per seed\n",
                qlonglong(anchor.wallMs));
    // Duplicates are the price of never merging on a lost create reply: counted, not failed.
    return total.findings.lost == 0 && total.findings.merges == 0 && problems == 0 ? 0 : 1;
}
