#include "fake-service/fake_comment_routes.h"

#include "fake-service/fake_input.h"
#include "json/json_error.h"
#include "json/json_value.h"

#include <memory>

namespace {

const QString CommentsPath = QStringLiteral("/api/comments.php");
const QString PublicPagePrefix = QStringLiteral("/p/");
const QString GuestCommentsSuffix = QStringLiteral("/comments");

// The service trims spaces and tabs only: a comment may start or end with line breaks.
QString trimmedOfSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text.at(begin) == u' ' || text.at(begin) == u'\t'))
        ++begin;
    while (end > begin && (text.at(end - 1) == u' ' || text.at(end - 1) == u'\t'))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

void FakeCommentRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakeCommentRoutes> routes(new FakeCommentRoutes(service));
    service.route("GET", CommentsPath, [routes](const FakeService::Call &c) { return routes->list(c); });
    service.route("POST", CommentsPath, [routes](const FakeService::Call &c) { return routes->create(c); });
    service.routeRaw(
        "POST", PublicPagePrefix, [routes](const FakeService::Call &c) { return routes->createAsGuest(c); },
        FakeService::Access::Public);
}

FakeCommentRoutes::FakeCommentRoutes(FakeService &service)
    : m_content(service)
{
}

HttpResponse FakeCommentRoutes::list(const FakeService::Call &call)
{
    const FakeContent::PageCheck check = m_content.checkQueryPage(call, FakeContent::Need::View);
    if (!check.page)
        return check.refusal;
    const qint64 pageId = check.page->id;
    JSONArray comments;
    for (const auto &entry : m_content.state().comments) {
        if (entry.second.pageId == pageId)
            comments.emplace_back(commentJson(entry.second));
    }
    return FakeService::reply(200, JSONObject{{QStringLiteral("comments"), std::move(comments)}});
}

HttpResponse FakeCommentRoutes::create(const FakeService::Call &call)
{
    FakeInput in(call);
    FakeServiceState::Comment comment;
    comment.pageId = in.id(QStringLiteral("page_id"));
    comment.blockId = in.optId(QStringLiteral("block_id")).value_or(0);
    comment.body = trimmedOfSpaces(in.string(QStringLiteral("body")));
    comment.selectionStart = in.optInteger(QStringLiteral("selection_start"));
    comment.selectionLength = in.optInteger(QStringLiteral("selection_length"));
    comment.selectionText = in.optString(QStringLiteral("selection_text"));
    if (!in.failed() && comment.body.isEmpty())
        in.fail(QStringLiteral("Comment can't be empty"));
    if (!in.failed() && comment.selectionStart.has_value() != comment.selectionLength.has_value())
        in.fail(QStringLiteral("selection_start and selection_length go together"));
    if (!in.failed() && comment.selectionStart &&
        (*comment.selectionStart < 0 || *comment.selectionLength < 0))
        in.fail(QStringLiteral("A selection can't be negative"));
    if (!in.failed() && comment.selectionStart && comment.blockId == 0)
        in.fail(QStringLiteral("A selection needs block_id"));
    if (in.failed())
        return in.failure();

    const FakeContent::PageCheck check =
        m_content.checkPage(call.userId, comment.pageId, FakeContent::Need::Comment);
    if (!check.page)
        return check.refusal;
    FakeServiceState &s = m_content.state();
    if (comment.blockId != 0) {
        const auto block = s.blocks.find(comment.blockId);
        if (block == s.blocks.end() || block->second.pageId != comment.pageId)
            return FakeService::error(400, QStringLiteral("Block not found on this page"));
    }

    comment.id = s.nextCommentId++;
    comment.userId = call.userId;
    comment.createdAt = FakeContent::now();
    s.comments[comment.id] = comment;
    return FakeService::reply(200, JSONObject{{QStringLiteral("comment"), commentJson(comment)}});
}

HttpResponse FakeCommentRoutes::createAsGuest(const FakeService::Call &call)
{
    const QString path = QString::fromUtf8(call.request.path());
    if (!path.endsWith(GuestCommentsSuffix))
        return FakeService::error(404, QStringLiteral("Not found"));
    const QString slug = path.mid(PublicPagePrefix.size()).chopped(GuestCommentsSuffix.size());
    FakeServiceState &s = m_content.state();
    qint64 pageId = 0;
    const FakeServiceState::Publication *publication = nullptr;
    for (const auto &[id, p] : s.publications) {
        if (p.published && p.slug == slug) {
            pageId = id;
            publication = &p;
        }
    }
    const auto page = s.pages.find(pageId);
    if (!publication || page == s.pages.end() || page->second.inTrash())
        return FakeService::error(404, QStringLiteral("Not found"));
    if (!publication->allowComments)
        return FakeService::error(403, QStringLiteral("Comments are turned off for this page."));

    JSONObject body;
    try {
        body = parseJSONObject(call.request.body);
    } catch (const DecodeError &) {
        return FakeService::error(400, QStringLiteral("Invalid JSON body"));
    }
    FakeInput in(body, QStringLiteral("body"));
    FakeServiceState::Comment comment;
    comment.pageId = pageId;
    comment.body = trimmedOfSpaces(in.string(QStringLiteral("body")));
    comment.guestName = in.optString(QStringLiteral("guest_name"));
    const std::optional<QString> password = in.optString(QStringLiteral("password"));
    if (in.failed())
        return in.failure();
    if (!publication->password.isEmpty() && password != publication->password)
        return FakeService::error(401, QStringLiteral("This page is protected by a password"));
    if (comment.body.isEmpty())
        return FakeService::error(400, QStringLiteral("Comment can't be empty"));
    if (comment.guestName)
        comment.guestName = trimmedOfSpaces(*comment.guestName);

    comment.id = s.nextCommentId++;
    comment.createdAt = FakeContent::now();
    s.comments[comment.id] = comment;
    return FakeService::reply(200, JSONObject{{QStringLiteral("comment"), commentJson(comment)}});
}

JSONObject FakeCommentRoutes::commentJson(const FakeServiceState::Comment &comment)
{
    JSONObject o;
    o[QStringLiteral("id")] = comment.id;
    o[QStringLiteral("page_id")] = comment.pageId;
    o[QStringLiteral("block_id")] = FakeContent::idOrNull(comment.blockId);
    o[QStringLiteral("user_id")] = FakeContent::idOrNull(comment.userId);
    o[QStringLiteral("user_name")] = m_content.userName(comment.userId);
    o[QStringLiteral("guest_name")] = FakeContent::orNull(comment.guestName);
    o[QStringLiteral("body")] = comment.body;
    o[QStringLiteral("selection_start")] = FakeContent::orNull(comment.selectionStart);
    o[QStringLiteral("selection_length")] = FakeContent::orNull(comment.selectionLength);
    o[QStringLiteral("selection_text")] = FakeContent::orNull(comment.selectionText);
    o[QStringLiteral("resolved_at")] = FakeContent::stamp(comment.resolvedAt);
    o[QStringLiteral("created_at")] = FakeContent::stamp(comment.createdAt);
    return o;
}
