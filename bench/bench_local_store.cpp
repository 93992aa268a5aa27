// Load, save and edit timings of a large local state, against a plain write + fsync of the same bytes.
// Run a Release build: bench_local_store [runs]
#include "bench_io.h"
#include "bench_state.h"
#include "json/json_coder.h"
#include "json/json_value.h"
#include "store/local_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>

#include <fcntl.h>
#include <unistd.h>

namespace {

template <typename F>
double timeMs(F &&f)
{
    QElapsedTimer t;
    t.start();
    f();
    return double(t.nsecsElapsed()) / 1e6;
}

template <typename F>
double medianMs(int runs, F &&f)
{
    std::vector<double> v;
    for (int i = 0; i < runs; ++i)
        v.push_back(timeMs(f));
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

QByteArray procStatus(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(strlen(field))).trimmed();
    }
    return {};
}

// Runs in a fresh process, so the peak holds the load alone.
int reportRss(const QString &folder)
{
    LocalStore store(folder);
    std::printf("%zu %s %s\n", store.state().blocks.size(), procStatus("VmHWM:").constData(),
                procStatus("VmRSS:").constData());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--rss"))
        return reportRss(args[2]);
    const int runs = args.size() > 1 ? args[1].toInt() : 5;

    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-store-XXXXXX")));
    const QString folder = dir.path();
    std::printf("generating %d pages, %d blocks...\n", BenchState::kPages, BenchState::kBlocks);
    {
        LocalStore seed(folder);
        seed.change([](StoreState &s) { s = BenchState::generate(); });
        seed.save();
    }
    const QString statePath = QDir(folder).filePath(QStringLiteral("state.json"));
    QFile file(statePath);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    file.close();
    std::printf("state.json: %.1f MB, median of %d runs\n\n", double(bytes.size()) / 1e6, runs);

    const double plain =
        medianMs(runs, [&] { plainWrite(QDir(folder).filePath(QStringLiteral("plain.json")), bytes); });
    const double read = medianMs(runs, [&] {
        QFile f(statePath);
        f.open(QIODevice::ReadOnly);
        volatile auto n = f.readAll().size();
        (void)n;
    });
    const double parse = medianMs(runs, [&] {
        rapidjson::Document doc;
        json::parseDocument(doc, bytes);
    });
    rapidjson::Document doc;
    json::parseDocument(doc, bytes);
    StoreState decoded;
    const double decode = medianMs(runs, [&] { decoded = json::read<StoreState>(doc); });
    doc = rapidjson::Document();
    const double load = medianMs(runs, [&] { LocalStore s(folder); });

    LocalStore store(folder);
    const double encode = medianMs(runs, [&] {
        volatile auto n = sharedJSONEncode(store.state()).size();
        (void)n;
    });
    std::unique_ptr<JsonWriter> writer;
    const double encodeWriter = medianMs(runs, [&] {
        writer = std::make_unique<JsonWriter>();
        writer->value(store.state());
    });
    const double encodeCopy = medianMs(runs, [&] {
        volatile auto n = writer->bytes().size();
        (void)n;
    });
    writer.reset();
    const double save = medianMs(runs, [&] { store.save(); });

    // Where the encode and decode time goes: the dates alone, formatted and parsed as the coder does.
    std::vector<QDateTime> dates;
    for (const auto &b : store.state().blocks) {
        dates.push_back(b.createdAt);
        dates.push_back(b.updatedAt);
    }
    std::vector<QString> texts(dates.size());
    const double formatDates = medianMs(runs, [&] {
        for (size_t i = 0; i < dates.size(); ++i)
            texts[i] = json::formatDate(dates[i]);
    });
    const double parseDates = medianMs(runs, [&] {
        for (const auto &t : texts)
            volatile bool ok = json::parseDate(t).has_value();
    });

    // One edit: the first upsert builds the id index; later ones find the block through it.
    const double firstUpsert = timeMs([&] {
        FNBlock b = store.state().blocks[size_t(BenchState::kBlocks / 2)];
        b.updatedAt = QDateTime::currentDateTimeUtc();
        store.upsertBlock(b);
    });
    int edits = 0;
    const double upsert = medianMs(runs, [&] {
        FNBlock b = store.state().blocks[size_t(BenchState::kBlocks / 3 + edits++)];
        b.contentJSON = QStringLiteral(R"({"text":"edited %1"})").arg(edits);
        store.upsertBlock(b);
    });
    const double editSave = medianMs(runs, [&] {
        FNBlock b = store.state().blocks[size_t(BenchState::kBlocks / 4 + edits++)];
        b.contentJSON = QStringLiteral(R"({"text":"edited %1"})").arg(edits);
        b.updatedAt = QDateTime::currentDateTimeUtc();
        store.upsertBlock(b);
        store.save();
    });
    const double rebuild = medianMs(runs, [&] {
        store.change([](StoreState &s) { s.cursorServerTs += 1; });
        const FNBlock *volatile at = store.block(store.state().blocks.back().localID);
        (void)at;
    });

    auto row = [&](const char *name, double ms) {
        std::printf("%-44s %9.1f ms  %6.2fx\n", name, ms, ms / plain);
    };
    std::printf("%-44s %12s  %7s\n", "", "median", "/plain");
    row("plain write + fsync of the bytes (baseline)", plain);
    row("load total (read + parse + decode)", load);
    row("  read file", read);
    row("  parse (RapidJSON DOM)", parse);
    row("  decode (DOM -> records)", decode);
    row("save total (encode + write + fsync + rename)", save);
    row("  encode (records -> bytes)", encode);
    row("    records -> writer buffer", encodeWriter);
    row("    copy of the buffer into a QByteArray", encodeCopy);
    row("  write + fsync + rename (save - encode)", save - encode);
    row("one block edit: upsert + save", editSave);
    std::printf("\n%-44s %9.3f ms\n", "upsertBlock, index built", upsert);
    std::printf("%-44s %9.1f ms\n", "first upsertBlock after load (builds index)", firstUpsert);
    std::printf("%-44s %9.1f ms\n", "change() + lookup (index rebuild)", rebuild);
    std::printf("%-44s %9.1f ms  (%zu dates)\n", "format all block dates (encode share)", formatDates,
                dates.size());
    std::printf("%-44s %9.1f ms\n", "parse all block dates (decode share)", parseDates);

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--rss"), folder});
    child.waitForFinished(-1);
    const QList<QByteArray> rss = child.readAllStandardOutput().trimmed().split(' ');
    if (rss.size() >= 5)
        std::printf("\npeak RSS after load (fresh process, %s blocks): %s %s (current %s %s)\n",
                    rss[0].constData(), rss[1].constData(), rss[2].constData(), rss[3].constData(),
                    rss[4].constData());
    return 0;
}
