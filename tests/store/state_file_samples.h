#pragma once

// States that say by their content which one they are: the crash test's child writes them, the test
// reads back which one the file holds and that it holds all of it.
#include "store/store_state.h"

namespace StateFileSamples {

inline QDateTime at(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(1760000000 + secs, Qt::UTC);
}

// State `n`: `blocks` blocks whose texts and count change with n, each field kind filled somewhere.
inline StoreState numbered(qint64 n, int blocks = 1500)
{
    StoreState s;
    s.workspaces = {FNWorkspace{.localID = QStringLiteral("W"),
                                .serverID = 7,
                                .name = QStringLiteral("Équipe ✓"),
                                .role = QStringLiteral("owner"),
                                .ownerUserID = 1,
                                .createdAt = at(1)}};
    s.currentWorkspaceID = 7;
    s.folders = {FNFolder{.localID = QStringLiteral("F"), .serverID = 3, .name = QStringLiteral("Plans")}};
    s.folders[0].createdAt = s.folders[0].updatedAt = at(2);
    s.folders[0].deletedAt = at(3);
    FNPage page{.localID = QStringLiteral("P"),
                .serverID = 42,
                .workspaceServerID = 7,
                .title = QStringLiteral("Page \"%1\" \\ naïve 📝").arg(n)};
    page.createdAt = page.updatedAt = at(4);
    s.pages = {page};
    const int count = blocks + int(n % 7);
    for (int i = 0; i < count; ++i) {
        FNBlock b{.localID = QStringLiteral("B%1").arg(i),
                  .serverID = i % 3 ? 1000 + i : 0,
                  .pageServerID = 42,
                  .pageLocalID = QStringLiteral("P"),
                  .type = QStringLiteral("text"),
                  .contentJSON = QStringLiteral(R"({"text":"state %1 line %2 – über\n"})").arg(n).arg(i),
                  .position = i};
        b.createdAt = at(10 + i);
        b.updatedAt = at(10 + i + n);
        if (i % 11 == 0)
            b.deletedAt = at(20 + i);
        s.blocks.push_back(b);
    }
    FNSyncOp op{.localID = QStringLiteral("O"),
                .entity = QStringLiteral("page"),
                .op = QStringLiteral("update"),
                .refLocalID = QStringLiteral("P"),
                .payloadJSON = QStringLiteral(R"({"page_id":42})")};
    op.createdAt = at(5);
    op.attempts = 2;
    op.lastError = QStringLiteral("Server problem.");
    op.nextRetryAt = at(6);
    s.outbox = {op};
    s.cursorServerTs = n;
    s.pageStatuses.insert(QStringLiteral("42"), {.published = true, .sharedCount = int(n % 5)});
    s.expandedRowIDs = {QStringLiteral("F")};
    return s;
}

} // namespace StateFileSamples
