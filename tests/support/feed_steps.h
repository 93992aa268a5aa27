#pragma once

#include "fake-service/fake_service.h"
#include "json/json_coder.h"

#include <QList>

// Steps the sync tests share on the service's feed.

// Appends an entry for one record to the workspace's feed, as a device's change would: the next
// server time is its own.
inline void appendToFeed(FakeService &fake, qint64 workspaceId, const QString &type, qint64 id,
                         const QString &op, JSONObject payload)
{
    FakeServiceState &s = fake.state();
    s.syncLog.push_back({++s.lastServerTs, workspaceId, type, id, op, std::move(payload)});
}

// The cursor each pull so far asked to read the feed from, in order.
inline QList<qint64> pullCursors(const FakeService &fake)
{
    QList<qint64> cursors;
    for (const HttpRequest &r : fake.requestsTo(QStringLiteral("/api/sync.php")))
        cursors.append(parseJSONObject(r.body).at(QStringLiteral("since_ts")).toInt());
    return cursors;
}
