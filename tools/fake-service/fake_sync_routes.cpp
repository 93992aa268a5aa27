#include "fake-service/fake_sync_routes.h"

#include "fake-service/fake_input.h"

#include <QSet>

#include <memory>

namespace {

const QString SyncPath = QStringLiteral("/api/sync.php");

} // namespace

void FakeSyncRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakeSyncRoutes> routes(new FakeSyncRoutes(service));
    service.route("POST", SyncPath, [routes](const FakeService::Call &c) { return routes->pull(c); });
}

FakeSyncRoutes::FakeSyncRoutes(FakeService &service)
    : m_content(service)
{
}

HttpResponse FakeSyncRoutes::pull(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 since = in.integer(QStringLiteral("since_ts"));
    if (in.failed())
        return in.failure();

    const FakeServiceState &s = m_content.state();
    QSet<qint64> workspaces;
    for (const auto &m : s.memberships) {
        if (m.userId == call.userId)
            workspaces.insert(m.workspaceId);
    }
    const size_t pageSize = size_t(std::max(1, s.syncPageSize));

    JSONArray ops;
    bool capped = false;
    qint64 cursor = s.lastServerTs;
    for (const auto &entry : s.syncLog) {
        if (entry.serverTs <= since || !workspaces.contains(entry.workspaceId))
            continue;
        if (ops.size() == pageSize) {
            capped = true;
            break;
        }
        ops.emplace_back(JSONObject{{QStringLiteral("entity_type"), entry.entityType},
                                    {QStringLiteral("entity_id"), entry.entityId},
                                    {QStringLiteral("op"), entry.op},
                                    {QStringLiteral("payload"), entry.payload},
                                    {QStringLiteral("server_ts"), entry.serverTs}});
        cursor = entry.serverTs;
    }
    // A capped reply hands back the last entry it carries, so the next pull starts right after it.
    if (!capped)
        cursor = s.lastServerTs;
    return FakeService::reply(200, JSONObject{{QStringLiteral("ops"), std::move(ops)},
                                              {QStringLiteral("server_ts"), cursor},
                                              {QStringLiteral("capped"), capped}});
}
