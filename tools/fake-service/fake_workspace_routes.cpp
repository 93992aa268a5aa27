#include "fake-service/fake_workspace_routes.h"

#include "fake-service/fake_content.h"

#include <memory>

namespace {

const QString WorkspacesPath = QStringLiteral("/api/workspaces.php");

} // namespace

void FakeWorkspaceRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakeWorkspaceRoutes> routes(new FakeWorkspaceRoutes(service));
    service.route("GET", WorkspacesPath, [routes](const FakeService::Call &c) { return routes->list(c); });
}

FakeWorkspaceRoutes::FakeWorkspaceRoutes(FakeService &service)
    : m_service(service)
{
}

HttpResponse FakeWorkspaceRoutes::list(const FakeService::Call &call)
{
    const FakeServiceState &s = m_service.state();
    JSONArray workspaces;
    for (const auto &m : s.memberships) {
        const auto it = s.workspaces.find(m.workspaceId);
        if (m.userId != call.userId || it == s.workspaces.end())
            continue;
        JSONObject o;
        o[QStringLiteral("id")] = it->second.id;
        o[QStringLiteral("name")] = it->second.name;
        o[QStringLiteral("owner_user_id")] = it->second.ownerUserId;
        o[QStringLiteral("role")] = m.role;
        o[QStringLiteral("created_at")] = FakeContent::stamp(it->second.createdAt);
        workspaces.emplace_back(std::move(o));
    }
    return FakeService::reply(200, JSONObject{{QStringLiteral("workspaces"), std::move(workspaces)}});
}
