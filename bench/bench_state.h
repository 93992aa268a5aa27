#pragma once

// The large local state the benchmarks share: 5,000 pages (some nested, some deleted) and 200,000
// blocks of the text kinds in 3 workspaces, from a fixed seed.
#include "json/json_coder.h"
#include "json/json_value.h"
#include "store/store_state.h"

#include <functional>
#include <random>

namespace BenchState {

inline constexpr int kPages = 5000;
inline constexpr int kBlocks = 200000;
inline constexpr int kFolders = 200;

inline const char *const kWords[] = {
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

inline StoreState generate()
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

// Appends a page of workspace 100 with `blocks` text blocks at 0, 1, 2... (server ids from
// `firstBlockID`), block k showing `text(k)`; the page's local id.
inline QString addNumberedPage(StoreState &state, qint64 pageID, qint64 firstBlockID, const QString &title,
                               int blocks, const std::function<QString(int)> &text)
{
    FNPage page{.serverID = pageID, .workspaceServerID = 100, .title = title};
    page.createdAt = page.updatedAt = QDateTime::currentDateTimeUtc();
    state.pages.push_back(page);
    for (int k = 0; k < blocks; ++k) {
        FNBlock b{.serverID = firstBlockID + k,
                  .pageServerID = page.serverID,
                  .pageLocalID = page.localID,
                  .type = QStringLiteral("text"),
                  .contentJSON = QString::fromUtf8(serializeJSONObject({{QStringLiteral("text"), text(k)}})),
                  .position = k};
        b.createdAt = b.updatedAt = page.createdAt;
        state.blocks.push_back(b);
    }
    return page.localID;
}

} // namespace BenchState
