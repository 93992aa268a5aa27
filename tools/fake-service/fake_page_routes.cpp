#include "fake-service/fake_page_routes.h"

#include "fake-service/fake_input.h"
#include "fake-service/fake_suggest_role.h"

#include <algorithm>
#include <memory>

namespace {

const QString PagesPath = QStringLiteral("/api/pages.php");
const QString PageStatusPath = QStringLiteral("/api/page-status.php");

} // namespace

void FakePageRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakePageRoutes> routes(new FakePageRoutes(service));
    service.route("GET", PagesPath, [routes](const FakeService::Call &c) { return routes->list(c); });
    service.route("POST", PagesPath, [routes](const FakeService::Call &c) { return routes->create(c); });
    // The restore shares the update's method and path; its body tells them apart.
    service.route("PATCH", PagesPath, [routes](const FakeService::Call &c) {
        return c.body.count(QStringLiteral("restore")) ? routes->restore(c) : routes->patch(c);
    });
    service.route("DELETE", PagesPath, [routes](const FakeService::Call &c) { return routes->remove(c); });
    service.route("GET", PageStatusPath,
                  [routes](const FakeService::Call &c) { return routes->statuses(c); });
}

FakePageRoutes::FakePageRoutes(FakeService &service)
    : m_content(service)
{
}

HttpResponse FakePageRoutes::list(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 workspaceId = in.queryId(QStringLiteral("workspace_id"));
    const bool trash = in.queryFlag(QStringLiteral("trash"));
    if (in.failed())
        return in.failure();
    if (const auto refusal = m_content.refuseWorkspace(call.userId, workspaceId, false))
        return *refusal;

    std::vector<const FakeServiceState::Page *> found;
    for (const auto &entry : m_content.state().pages) {
        const auto &page = entry.second;
        if (page.workspaceId == workspaceId && page.inTrash() == trash)
            found.push_back(&page);
    }
    if (trash) {
        // The trash shows the latest deletion first.
        std::stable_sort(found.begin(), found.end(),
                         [](auto *a, auto *b) { return a->deletedAt > b->deletedAt; });
    } else {
        std::stable_sort(found.begin(), found.end(),
                         [](auto *a, auto *b) { return a->position < b->position; });
    }
    JSONArray pages;
    for (const auto *page : found)
        pages.emplace_back(FakeContent::pageJson(*page));
    return FakeService::reply(200, JSONObject{{QStringLiteral("pages"), std::move(pages)}});
}

HttpResponse FakePageRoutes::create(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 workspaceId = in.id(QStringLiteral("workspace_id"));
    const std::optional<qint64> parentId = in.optId(QStringLiteral("parent_page_id"));
    const QString title = in.string(QStringLiteral("title"));
    const QString icon = in.optString(QStringLiteral("icon")).value_or(QString());
    const std::optional<qint64> position = in.optInteger(QStringLiteral("position"));
    if (in.failed())
        return in.failure();
    if (const auto refusal = m_content.refuseWorkspace(call.userId, workspaceId, true))
        return *refusal;
    if (parentId) {
        const QString problem = parentProblem(*parentId, workspaceId, 0);
        if (!problem.isEmpty())
            return FakeService::error(400, problem);
    }

    FakeServiceState &s = m_content.state();
    FakeServiceState::Page page;
    page.id = s.nextPageId++;
    page.workspaceId = workspaceId;
    page.parentPageId = parentId.value_or(0);
    page.title = title;
    page.icon = icon;
    if (position) {
        page.position = *position;
    } else {
        for (const auto &entry : s.pages) {
            const auto &sibling = entry.second;
            if (sibling.workspaceId == workspaceId && sibling.parentPageId == page.parentPageId)
                page.position = std::max(page.position, sibling.position + 1);
        }
    }
    page.createdByUserId = call.userId;
    page.createdAt = page.updatedAt = FakeContent::now();
    s.pages[page.id] = page;
    m_content.logPage(page, QStringLiteral("create"));
    return pageReply(page);
}

HttpResponse FakePageRoutes::patch(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 pageId = in.id(QStringLiteral("page_id"));
    const std::optional<QString> title = in.optString(QStringLiteral("title"));
    const std::optional<QString> icon = in.optString(QStringLiteral("icon"));
    const std::optional<qint64> position = in.optInteger(QStringLiteral("position"));
    const std::optional<qint64> parentId = in.optId(QStringLiteral("parent_page_id"));
    const bool toTop = in.isNull(QStringLiteral("parent_page_id"));
    const std::optional<qint64> folderId = in.optId(QStringLiteral("folder_id"));
    const bool outOfFolder = in.isNull(QStringLiteral("folder_id"));
    const std::optional<QString> coverUrl = in.optString(QStringLiteral("cover_url"));
    const std::optional<qint64> offsetX = in.optInteger(QStringLiteral("cover_offset_x"));
    const std::optional<qint64> offsetY = in.optInteger(QStringLiteral("cover_offset_y"));
    for (const auto &offset : {offsetX, offsetY}) {
        if (offset && (*offset < 0 || *offset > 100))
            in.fail(QStringLiteral("Cover offsets are whole percent, 0 to 100"));
    }
    if (in.failed())
        return in.failure();

    FakeSuggestRole suggest(m_content);
    if (const FakeContent::PageCheck seen = m_content.checkPage(call.userId, pageId, FakeContent::Need::View);
        seen.page && suggest.suggestsOnly(call.userId, *seen.page)) {
        // Only the title can be proposed; anything else stays the owner's to change.
        FakeServiceState::Page proposed = *seen.page;
        proposed.title = title.value_or(proposed.title);
        const bool elseChanges =
            (icon && *icon != proposed.icon) || (position && *position != proposed.position) ||
            ((parentId || toTop) && parentId.value_or(0) != proposed.parentPageId) ||
            ((folderId || outOfFolder) && folderId.value_or(0) != proposed.folderId) ||
            (coverUrl && *coverUrl != proposed.coverUrl) || (offsetX && offsetX != proposed.coverOffsetX) ||
            (offsetY && offsetY != proposed.coverOffsetY);
        if (elseChanges)
            return FakeService::error(403, QStringLiteral("You can only suggest a new title for this page."));
        suggest.proposeTitle(call.userId, *seen.page, proposed.title);
        return pageReply(proposed);
    }
    const FakeContent::PageCheck check = m_content.checkPage(call.userId, pageId, FakeContent::Need::Edit);
    if (!check.page)
        return check.refusal;
    FakeServiceState::Page &page = *check.page;
    if (parentId) {
        const QString problem = parentProblem(*parentId, page.workspaceId, page.id);
        if (!problem.isEmpty())
            return FakeService::error(400, problem);
    }
    if (folderId && !m_content.folderIn(*folderId, page.workspaceId))
        return FakeService::error(400, QStringLiteral("Folder not found in this workspace"));

    const FakeServiceState::Page before = page;
    if (title)
        page.title = *title;
    if (icon)
        page.icon = *icon;
    if (position)
        page.position = *position;
    if (parentId || toTop)
        page.parentPageId = parentId.value_or(0);
    if (folderId || outOfFolder)
        page.folderId = folderId.value_or(0);
    if (coverUrl)
        page.coverUrl = *coverUrl; // empty text removes the cover
    if (offsetX)
        page.coverOffsetX = offsetX;
    if (offsetY)
        page.coverOffsetY = offsetY;

    const bool changed = FakeContent::pageJson(before) != FakeContent::pageJson(page);
    if (changed) {
        page.updatedAt = FakeContent::now();
        m_content.logPage(page, QStringLiteral("update"));
        m_content.recordVersion(page, call.userId);
    }
    return pageReply(page);
}

HttpResponse FakePageRoutes::restore(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 pageId = in.id(QStringLiteral("page_id"));
    const auto it = call.body.find(QStringLiteral("restore"));
    // The client writes the integer 1; a boolean true means the same to the service.
    if (!in.failed() && !(it->second == JSONValue(1) || it->second == JSONValue(true)))
        in.fail(QStringLiteral("restore must be 1"));
    if (in.failed())
        return in.failure();

    const FakeContent::PageCheck check =
        m_content.checkPage(call.userId, pageId, FakeContent::Need::Delete, FakeContent::Where::Anywhere);
    if (!check.page)
        return check.refusal;
    FakeServiceState::Page &page = *check.page;
    if (page.inTrash()) {
        page.deletedAt = QDateTime();
        page.updatedAt = FakeContent::now();
        m_content.logPage(page, QStringLiteral("update"));
    }
    return pageReply(page);
}

HttpResponse FakePageRoutes::remove(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 pageId = in.queryId(QStringLiteral("page_id"));
    const bool permanent = in.queryFlag(QStringLiteral("permanent"));
    if (in.failed())
        return in.failure();

    const FakeContent::PageCheck check =
        m_content.checkPage(call.userId, pageId, FakeContent::Need::Delete,
                            permanent ? FakeContent::Where::Anywhere : FakeContent::Where::Live);
    if (!check.page)
        return check.refusal;
    if (permanent) {
        m_content.purgePage(pageId);
    } else {
        FakeServiceState::Page &page = *check.page;
        page.deletedAt = page.updatedAt = FakeContent::now();
        m_content.logPage(page, QStringLiteral("delete"));
    }
    return FakeContent::ok();
}

HttpResponse FakePageRoutes::statuses(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 workspaceId = in.queryId(QStringLiteral("workspace_id"));
    if (in.failed())
        return in.failure();
    if (const auto refusal = m_content.refuseWorkspace(call.userId, workspaceId, false))
        return *refusal;

    const FakeServiceState &s = m_content.state();
    JSONObject statuses;
    for (const auto &entry : s.pages) {
        const auto &page = entry.second;
        if (page.workspaceId != workspaceId || page.inTrash())
            continue;
        qint64 sharedCount = 0;
        for (const auto &share : s.shares)
            sharedCount += share.second.pageId == page.id ? 1 : 0;
        for (const auto &invite : s.invites)
            sharedCount += invite.second.pageId == page.id ? 1 : 0;
        const auto publication = s.publications.find(page.id);
        const bool published = publication != s.publications.end() && publication->second.published;
        statuses[QString::number(page.id)] = JSONObject{{QStringLiteral("published"), published},
                                                        {QStringLiteral("shared_count"), sharedCount}};
    }
    return FakeService::reply(200, JSONObject{{QStringLiteral("statuses"), std::move(statuses)}});
}

QString FakePageRoutes::parentProblem(qint64 parentId, qint64 workspaceId, qint64 pageId)
{
    const auto &pages = m_content.state().pages;
    const auto it = pages.find(parentId);
    if (it == pages.end() || it->second.workspaceId != workspaceId || it->second.inTrash())
        return QStringLiteral("Parent page not found in this workspace");
    // Walk up from the new parent; meeting the page itself would make a loop.
    qint64 at = parentId;
    for (size_t steps = 0; at != 0 && steps <= pages.size(); ++steps) {
        if (at == pageId)
            return QStringLiteral("A page can't be placed under itself");
        const auto up = pages.find(at);
        at = up == pages.end() ? 0 : up->second.parentPageId;
    }
    return QString();
}

HttpResponse FakePageRoutes::pageReply(const FakeServiceState::Page &page)
{
    return FakeService::reply(200, JSONObject{{QStringLiteral("page"), FakeContent::pageJson(page)}});
}
