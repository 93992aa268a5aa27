#include "fake-service/fake_comment_routes.h"

#include "fake-service/fake_input.h"

#include <memory>

namespace {

const QString CommentsPath = QStringLiteral("/api/comments.php");

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

JSONObject FakeCommentRoutes::commentJson(const FakeServiceState::Comment &comment)
{
    JSONObject o;
    o[QStringLiteral("id")] = comment.id;
    o[QStringLiteral("page_id")] = comment.pageId;
    o[QStringLiteral("block_id")] = FakeContent::idOrNull(comment.blockId);
    o[QStringLiteral("user_id")] = FakeContent::idOrNull(comment.userId);
    o[QStringLiteral("user_name")] = m_content.userName(comment.userId);
    o[QStringLiteral("guest_name")] = JSONValue();
    o[QStringLiteral("body")] = comment.body;
    o[QStringLiteral("selection_start")] = FakeContent::orNull(comment.selectionStart);
    o[QStringLiteral("selection_length")] = FakeContent::orNull(comment.selectionLength);
    o[QStringLiteral("selection_text")] = FakeContent::orNull(comment.selectionText);
    o[QStringLiteral("resolved_at")] = FakeContent::stamp(comment.resolvedAt);
    o[QStringLiteral("created_at")] = FakeContent::stamp(comment.createdAt);
    return o;
}
