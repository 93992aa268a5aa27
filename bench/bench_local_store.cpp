// Load, save and edit timings of a large local state, against a plain write + fsync of the same bytes.
// Run a Release build: bench_local_store [runs]
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

constexpr int kPages = 5000;
constexpr int kBlocks = 200000;
constexpr int kFolders = 200;

const char *const kWords[] = {
    "the",    "meeting", "notes", "project", "draft",  "review", "design",  "budget",  "launch",  "team",
    "weekly", "plan",    "idea",  "feature", "bug",    "fix",    "client",  "call",    "report",  "summary",
    "and",    "with",    "for",   "next",    "steps",  "about",  "quarter", "goals",   "roadmap", "research",
    "écrire", "über",    "naïve", "café",    "résumé", "data",   "sync",    "offline", "editor",  "block",
};

class Generator
{
public:
    QString words(int min, int max)
    {
        const int n = std::uniform_int_distribution<int>(min, max)(m_rng);
        QString s;
        for (int i = 0; i < n; ++i) {
            if (i)
                s += QLatin1Char(' ');
            s += QString::fromUtf8(
                kWords[std::uniform_int_distribution<int>(0, std::size(kWords) - 1)(m_rng)]);
        }
        return s;
    }
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }
    QDateTime date()
    {
        return QDateTime::fromSecsSinceEpoch(
            1700000000 + std::uniform_int_distribution<int>(0, 30000000)(m_rng), Qt::UTC);
    }

private:
    std::mt19937 m_rng{42};
};

StoreState generate()
{
    Generator g;
    StoreState s;
    for (int i = 0; i < 3; ++i)
        s.workspaces.push_back({.serverID = 100 + i,
                                .name = g.words(1, 3),
                                .role = QStringLiteral("owner"),
                                .ownerUserID = 7,
                                .createdAt = g.date()});
    s.currentWorkspaceID = 100;
    for (int i = 0; i < kFolders; ++i)
        s.folders.push_back({.serverID = 1000 + i,
                             .workspaceServerID = 100 + i % 3,
                             .parentFolderServerID = i % 4 ? 0 : 1000 + i / 2,
                             .name = g.words(1, 3),
                             .icon = QStringLiteral("📁"),
                             .position = i,
                             .createdAt = g.date(),
                             .updatedAt = g.date()});
    for (int i = 0; i < kPages; ++i) {
        FNPage p{.serverID = 10000 + i,
                 .workspaceServerID = 100 + i % 3,
                 .parentPageServerID = i % 10 ? 0 : 10000 + i / 2,
                 .folderServerID = i % 3 ? 1000 + g.pick(kFolders) : 0,
                 .title = g.words(2, 6),
                 .icon = i % 2 ? QStringLiteral("📝") : QString(),
                 .position = i,
                 .coverURL = i % 8 ? QString() : QStringLiteral("https://files.example/covers/%1.jpg").arg(i),
                 .coverOffsetX = 50,
                 .coverOffsetY = 50,
                 .createdAt = g.date(),
                 .updatedAt = g.date()};
        if (i % 50 == 0)
            p.deletedAt = g.date();
        s.pages.push_back(p);
    }
    const char *types[] = {"text",   "text",   "text", "text", "h1",   "h2",
                           "bullet", "bullet", "todo", "code", "quote"};
    QString parent;
    for (int i = 0; i < kBlocks; ++i) {
        const FNPage &page = s.pages[size_t(i % kPages)];
        const QString type = QString::fromLatin1(types[g.pick(std::size(types))]);
        JSONObject content{{QStringLiteral("text"), g.words(3, 24)}};
        if (type == QLatin1String("todo"))
            content[QStringLiteral("checked")] = bool(g.pick(2));
        if (type == QLatin1String("code"))
            content[QStringLiteral("language")] = QStringLiteral("cpp");
        FNBlock b{.serverID = i % 10 ? 500000 + i : 0,
                  .pageServerID = page.serverID,
                  .pageLocalID = page.localID,
                  .parentBlockServerID = 0,
                  .parentBlockLocalID = i % 10 == 3 ? parent : QString(),
                  .type = type,
                  .contentJSON = QString::fromUtf8(serializeJSONObject(content)),
                  .position = i / kPages,
                  .indentLevel = i % 10 == 3 ? 1 : 0,
                  .createdAt = g.date(),
                  .updatedAt = g.date()};
        if (i % 40 == 0)
            b.deletedAt = g.date();
        parent = b.localID;
        s.blocks.push_back(b);
    }
    for (int i = 0; i < 100; ++i)
        s.outbox.push_back(
            {.entity = QStringLiteral("block"),
             .op = QStringLiteral("upsert"),
             .refLocalID = s.pages[size_t(i)].localID,
             .payloadJSON = QStringLiteral(R"({"page_id":%1,"blocks":[]})").arg(10000 + i),
             .createdAt = g.date(),
             .attempts = i % 3,
             .lastError = i % 3 ? std::optional<QString>(QStringLiteral("Server problem.")) : std::nullopt,
             .nextRetryAt = i % 3 ? std::optional<QDateTime>(g.date()) : std::nullopt});
    s.cursorServerTs = 1730000000;
    for (int i = 0; i < 1000; ++i)
        s.pageStatuses.insert(QString::number(10000 + i * 5),
                              {.published = i % 2 == 0, .sharedCount = i % 4});
    for (int i = 0; i < 50; ++i)
        s.expandedRowIDs.push_back(s.folders[size_t(i)].localID);
    return s;
}

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

void plainWrite(const QString &path, const QByteArray &bytes)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    qsizetype off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + off, size_t(bytes.size() - off));
        if (n <= 0)
            qFatal("write failed");
        off += n;
    }
    ::fsync(fd);
    ::close(fd);
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
    std::printf("generating %d pages, %d blocks...\n", kPages, kBlocks);
    {
        LocalStore seed(folder);
        seed.change([](StoreState &s) { s = generate(); });
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
        FNBlock b = store.state().blocks[size_t(kBlocks / 2)];
        b.updatedAt = QDateTime::currentDateTimeUtc();
        store.upsertBlock(b);
    });
    int edits = 0;
    const double upsert = medianMs(runs, [&] {
        FNBlock b = store.state().blocks[size_t(kBlocks / 3 + edits++)];
        b.contentJSON = QStringLiteral(R"({"text":"edited %1"})").arg(edits);
        store.upsertBlock(b);
    });
    const double editSave = medianMs(runs, [&] {
        FNBlock b = store.state().blocks[size_t(kBlocks / 4 + edits++)];
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
