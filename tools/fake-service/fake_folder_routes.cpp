#include "fake-service/fake_folder_routes.h"

#include "fake-service/fake_input.h"

#include <algorithm>
#include <memory>

namespace {

const QString FoldersPath = QStringLiteral("/api/folders.php");

} // namespace

void FakeFolderRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakeFolderRoutes> routes(new FakeFolderRoutes(service));
    service.route("GET", FoldersPath, [routes](const FakeService::Call &c) { return routes->list(c); });
    service.route("POST", FoldersPath, [routes](const FakeService::Call &c) { return routes->create(c); });
    service.route("PATCH", FoldersPath, [routes](const FakeService::Call &c) {
        return FakeInput(c).queryFlag(QStringLiteral("move_page")) ? routes->movePage(c) : routes->patch(c);
    });
    service.route("DELETE", FoldersPath, [routes](const FakeService::Call &c) { return routes->remove(c); });
}

FakeFolderRoutes::FakeFolderRoutes(FakeService &service)
    : m_content(service)
{
}

HttpResponse FakeFolderRoutes::list(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 workspaceId = in.queryId(QStringLiteral("workspace_id"));
    if (in.failed())
        return in.failure();
    if (const auto refusal = m_content.refuseWorkspace(call.userId, workspaceId, false))
        return *refusal;

    std::vector<const FakeServiceState::Folder *> found;
    for (const auto &entry : m_content.state().folders) {
        if (entry.second.workspaceId == workspaceId)
            found.push_back(&entry.second);
    }
    std::stable_sort(found.begin(), found.end(), [](auto *a, auto *b) { return a->position < b->position; });
    JSONArray folders;
    for (const auto *f : found)
        folders.emplace_back(FakeContent::folderJson(*f));
    return FakeService::reply(200, JSONObject{{QStringLiteral("folders"), std::move(folders)}});
}

HttpResponse FakeFolderRoutes::create(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 workspaceId = in.id(QStringLiteral("workspace_id"));
    const std::optional<qint64> parentId = in.optId(QStringLiteral("parent_folder_id"));
    const QString name = in.string(QStringLiteral("name")).trimmed();
    const QString icon = in.optString(QStringLiteral("icon")).value_or(QString());
    if (!in.failed() && name.isEmpty())
        in.fail(QStringLiteral("Folder name is required"));
    if (in.failed())
        return in.failure();
    if (const auto refusal = m_content.refuseWorkspace(call.userId, workspaceId, true))
        return *refusal;
    if (parentId && !m_content.folderIn(*parentId, workspaceId))
        return FakeService::error(400, QStringLiteral("Parent folder not found in this workspace"));

    FakeServiceState &s = m_content.state();
    qint64 position = 0;
    for (const auto &entry : s.folders) {
        const auto &sibling = entry.second;
        if (sibling.workspaceId == workspaceId && sibling.parentFolderId == parentId.value_or(0))
            position = std::max(position, sibling.position + 1);
    }
    FakeServiceState::Folder folder;
    folder.id = s.nextFolderId++;
    folder.workspaceId = workspaceId;
    folder.parentFolderId = parentId.value_or(0);
    folder.name = name;
    folder.icon = icon;
    folder.position = position;
    folder.createdAt = folder.updatedAt = FakeContent::now();
    s.folders[folder.id] = folder;
    return FakeService::reply(200, JSONObject{{QStringLiteral("folder"), FakeContent::folderJson(folder)}});
}

HttpResponse FakeFolderRoutes::patch(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 folderId = in.id(QStringLiteral("folder_id"));
    const std::optional<QString> name = in.optString(QStringLiteral("name"));
    const std::optional<QString> icon = in.optString(QStringLiteral("icon"));
    const std::optional<qint64> position = in.optInteger(QStringLiteral("position"));
    // 0, like null, moves the folder to the top level; an absent key leaves its parent alone.
    const bool toTop = in.isNull(QStringLiteral("parent_folder_id")) ||
                       in.optInteger(QStringLiteral("parent_folder_id")) == qint64(0);
    const qint64 parentId = toTop ? 0 : in.optId(QStringLiteral("parent_folder_id")).value_or(0);
    if (!in.failed() && name && name->trimmed().isEmpty())
        in.fail(QStringLiteral("Folder name can't be empty"));
    if (in.failed())
        return in.failure();

    const auto it = m_content.state().folders.find(folderId);
    if (it == m_content.state().folders.end())
        return FakeService::error(404, QStringLiteral("Folder not found"));
    FakeServiceState::Folder &folder = it->second;
    if (const auto refusal = m_content.refuseWorkspace(call.userId, folder.workspaceId, true))
        return *refusal;
    if (parentId != 0) {
        if (!m_content.folderIn(parentId, folder.workspaceId))
            return FakeService::error(400, QStringLiteral("Parent folder not found in this workspace"));
        if (isWithin(parentId, folder.id))
            return FakeService::error(400, QStringLiteral("A folder can't be moved into itself"));
    }

    if (name)
        folder.name = name->trimmed();
    if (icon)
        folder.icon = *icon;
    if (position)
        folder.position = *position;
    if (parentId != 0 || toTop)
        folder.parentFolderId = parentId;
    folder.updatedAt = FakeContent::now();
    return FakeContent::ok();
}

HttpResponse FakeFolderRoutes::movePage(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 pageId = in.id(QStringLiteral("page_id"));
    const std::optional<qint64> folderId = in.optId(QStringLiteral("folder_id"));
    if (in.failed())
        return in.failure();
    const FakeContent::PageCheck check = m_content.checkPage(call.userId, pageId, FakeContent::Need::Edit);
    if (!check.page)
        return check.refusal;
    FakeServiceState::Page &page = *check.page;
    if (folderId && !m_content.folderIn(*folderId, page.workspaceId))
        return FakeService::error(400, QStringLiteral("Folder not found in this workspace"));

    if (page.folderId != folderId.value_or(0)) {
        page.folderId = folderId.value_or(0);
        page.updatedAt = FakeContent::now();
        m_content.logPage(page, QStringLiteral("update"));
    }
    return FakeContent::ok();
}

HttpResponse FakeFolderRoutes::remove(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 folderId = in.queryId(QStringLiteral("folder_id"));
    if (in.failed())
        return in.failure();
    FakeServiceState &s = m_content.state();
    const auto it = s.folders.find(folderId);
    if (it == s.folders.end())
        return FakeService::error(404, QStringLiteral("Folder not found"));
    const FakeServiceState::Folder folder = it->second;
    if (const auto refusal = m_content.refuseWorkspace(call.userId, folder.workspaceId, true))
        return *refusal;

    s.folders.erase(it);
    // What the folder held is kept, one level up.
    for (auto &entry : s.folders) {
        if (entry.second.parentFolderId == folderId)
            entry.second.parentFolderId = folder.parentFolderId;
    }
    for (auto &entry : s.pages) {
        FakeServiceState::Page &page = entry.second;
        if (page.folderId == folderId) {
            page.folderId = folder.parentFolderId;
            page.updatedAt = FakeContent::now();
            m_content.logPage(page, QStringLiteral("update"));
        }
    }
    return FakeContent::ok();
}

bool FakeFolderRoutes::isWithin(qint64 folderId, qint64 ancestorId)
{
    const auto &folders = m_content.state().folders;
    // Bounded by the folder count, so a loop already in the data cannot hang the walk.
    for (size_t steps = 0; folderId != 0 && steps <= folders.size(); ++steps) {
        if (folderId == ancestorId)
            return true;
        const auto it = folders.find(folderId);
        folderId = it == folders.end() ? 0 : it->second.parentFolderId;
    }
    return false;
}
