#pragma once

// What the local store's tests share: a state with records of every kind, the file as the store
// reads and writes it, and the files it keeps beside it.
#include "json/json_coder.h"
#include "store/store_state.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <chrono>

#include <sys/stat.h>

namespace LocalStoreSamples {

inline constexpr auto kNever = std::chrono::hours(1); // a save delay that never runs out during a test

inline QDateTime at(const char *iso)
{
    return *json::parseDate(QString::fromLatin1(iso));
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

inline StoreState fileState(const QString &path)
{
    return sharedJSONDecode<StoreState>(readFile(path));
}

inline QStringList asideFiles(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("state.json.unreadable-*")}, QDir::Files | QDir::Dirs);
}

inline QStringList filesLike(const QString &folder, const QString &pattern)
{
    return QDir(folder).entryList({pattern}, QDir::Files | QDir::Dirs | QDir::Hidden);
}

inline QStringList originalFiles(const QString &folder)
{
    return filesLike(folder, QStringLiteral("state.json.original-*"));
}

inline QStringList tempFiles(const QString &folder)
{
    return filesLike(folder, QStringLiteral("state.json.tmp*"));
}

// The permission bits of a file or folder, as `ls -l` would show them in octal.
inline mode_t modeOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 07777;
    return st.st_mode & 07777;
}

// Sets the process umask for its lifetime: 0 shows the modes the code asks for, unnarrowed.
struct Umask {
    explicit Umask(mode_t mask)
        : previous(::umask(mask))
    {
    }
    ~Umask() { ::umask(previous); }
    mode_t previous;
};

inline StoreState sampleState()
{
    StoreState s;
    s.workspaces = {FNWorkspace{.localID = QStringLiteral("W"),
                                .serverID = 7,
                                .name = QStringLiteral("Team"),
                                .role = QStringLiteral("owner"),
                                .ownerUserID = 1,
                                .createdAt = at("2026-01-01T00:00:00Z")}};
    s.currentWorkspaceID = 7;
    FNFolder folder;
    folder.localID = QStringLiteral("F");
    folder.serverID = 3;
    folder.name = QStringLiteral("Plans");
    folder.createdAt = folder.updatedAt = at("2026-01-02T00:00:00Z");
    folder.deletedAt = at("2026-01-03T00:00:00Z");
    s.folders = {folder};
    FNPage page;
    page.localID = QStringLiteral("P");
    page.serverID = 42;
    page.title = QStringLiteral("Hello ✓");
    page.coverOffsetX = page.coverOffsetY = 50;
    page.createdAt = page.updatedAt = at("2026-01-04T00:00:00Z");
    s.pages = {page};
    FNBlock block;
    block.localID = QStringLiteral("B");
    block.pageLocalID = page.localID;
    block.pageServerID = 42;
    block.type = QStringLiteral("text");
    block.contentJSON = QStringLiteral(R"({"text":""})");
    block.createdAt = block.updatedAt = at("2026-01-05T00:00:00Z");
    s.blocks = {block};
    FNSyncOp op;
    op.localID = QStringLiteral("O");
    op.entity = QStringLiteral("block");
    op.op = QStringLiteral("upsert");
    op.refLocalID = page.localID;
    op.payloadJSON = QStringLiteral(R"({"page_id":42,"blocks":[]})");
    op.createdAt = at("2026-01-06T00:00:00Z");
    op.attempts = 1;
    op.lastError = QStringLiteral("Server problem.");
    op.nextRetryAt = at("2026-01-06T00:00:02Z");
    s.outbox = {op};
    s.cursorServerTs = 99;
    s.pageStatuses.insert(QStringLiteral("42"), {.published = true, .sharedCount = 2});
    s.expandedRowIDs = {QStringLiteral("F")};
    return s;
}

// The sample with a second record in every list, and a second page status.
inline StoreState twoOfEach()
{
    StoreState s = sampleState();
    auto twin = [](auto record, const char *id) {
        record.localID = QString::fromLatin1(id);
        if constexpr (requires { record.serverID; })
            record.serverID += 100;
        return record;
    };
    s.workspaces.push_back(twin(s.workspaces.front(), "W2"));
    s.folders.push_back(twin(s.folders.front(), "F2"));
    s.pages.push_back(twin(s.pages.front(), "P2"));
    s.blocks.push_back(twin(s.blocks.front(), "B2"));
    s.outbox.push_back(twin(s.outbox.front(), "O2"));
    s.pageStatuses.insert(QStringLiteral("142"), {.published = false, .sharedCount = 0});
    s.expandedRowIDs.push_back(QStringLiteral("F2"));
    return s;
}

// Blocks of one page after another, 40 to a page, in store order: "B0", "B1", ...
inline StoreState stateWithBlocks(qsizetype count)
{
    StoreState s = sampleState();
    s.blocks.clear();
    for (qsizetype i = 0; i < count; ++i) {
        FNBlock b;
        b.localID = QStringLiteral("B%1").arg(i);
        b.serverID = 1000 + i;
        b.pageLocalID = QStringLiteral("P%1").arg(i / 40);
        b.pageServerID = 42;
        b.type = QStringLiteral("text");
        b.contentJSON = QStringLiteral(R"({"text":"block %1 ✓"})").arg(i);
        b.position = i % 40;
        b.createdAt = b.updatedAt = at("2026-01-05T00:00:00Z");
        s.blocks.push_back(b);
    }
    return s;
}

} // namespace LocalStoreSamples
