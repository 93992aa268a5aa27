#include "fake-service/fake_version_routes.h"

#include "fake-service/fake_input.h"

#include <memory>

namespace {

const QString VersionsPath = QStringLiteral("/api/versions.php");

} // namespace

void FakeVersionRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakeVersionRoutes> routes(new FakeVersionRoutes(service));
    service.route("GET", VersionsPath, [routes](const FakeService::Call &c) { return routes->list(c); });
    service.route("PATCH", VersionsPath, [routes](const FakeService::Call &c) { return routes->restore(c); });
}

FakeVersionRoutes::FakeVersionRoutes(FakeService &service)
    : m_content(service)
{
}

HttpResponse FakeVersionRoutes::list(const FakeService::Call &call)
{
    const FakeContent::PageCheck check = m_content.checkQueryPage(call, FakeContent::Need::View);
    if (!check.page)
        return check.refusal;
    const qint64 pageId = check.page->id;

    const FakeServiceState &s = m_content.state();
    JSONArray versions;
    for (auto it = s.versions.rbegin(); it != s.versions.rend(); ++it) {
        const auto &version = it->second;
        if (version.pageId != pageId)
            continue;
        versions.emplace_back(
            JSONObject{{QStringLiteral("id"), version.id},
                       {QStringLiteral("page_id"), version.pageId},
                       {QStringLiteral("user_id"), FakeContent::idOrNull(version.userId)},
                       {QStringLiteral("user_name"), m_content.userName(version.userId)},
                       {QStringLiteral("created_at"), FakeContent::stamp(version.createdAt)},
                       {QStringLiteral("byte_size"), qint64(serializeJSONObject(version.snapshot).size())}});
    }
    return FakeService::reply(200, JSONObject{{QStringLiteral("versions"), std::move(versions)}});
}

HttpResponse FakeVersionRoutes::restore(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 versionId = in.id(QStringLiteral("version_id"));
    const bool restore = in.boolean(QStringLiteral("restore"));
    if (!in.failed() && !restore)
        in.fail(QStringLiteral("restore must be true"));
    if (in.failed())
        return in.failure();

    const auto &versions = m_content.state().versions;
    const auto it = versions.find(versionId);
    if (it == versions.end())
        return FakeService::error(404, QStringLiteral("Version not found"));
    const FakeServiceState::Version version = it->second;
    const FakeContent::PageCheck check =
        m_content.checkPage(call.userId, version.pageId, FakeContent::Need::Edit);
    if (!check.page)
        return check.refusal;

    FakeServiceState::Page &page = *check.page;
    const JSONValue snapshot(version.snapshot);
    const QString title = snapshot[QStringLiteral("title")].toString();
    const QString icon = snapshot[QStringLiteral("icon")].toString();
    if (page.title != title || page.icon != icon) {
        page.title = title;
        page.icon = icon;
        page.updatedAt = FakeContent::now();
        m_content.logPage(page, QStringLiteral("update"));
    }
    std::vector<FakeContent::BlockInput> blocks;
    for (const JSONValue &b : snapshot[QStringLiteral("blocks")].toArray()) {
        FakeContent::BlockInput input;
        input.id = b[QStringLiteral("id")].toInt();
        input.type = b[QStringLiteral("type")].toString();
        input.content = b[QStringLiteral("content")].toObject();
        input.position = b[QStringLiteral("position")].toInt();
        input.parentBlockId = b[QStringLiteral("parent_block_id")].toInt();
        blocks.push_back(std::move(input));
    }
    m_content.replaceBlocks(page, blocks);
    m_content.recordVersion(page, call.userId);
    return FakeContent::ok();
}
