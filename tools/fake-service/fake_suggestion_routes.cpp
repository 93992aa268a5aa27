#include "fake-service/fake_suggestion_routes.h"

#include "fake-service/fake_input.h"

#include <algorithm>
#include <memory>

namespace {

const QString SuggestionsPath = QStringLiteral("/api/suggestions.php");

} // namespace

void FakeSuggestionRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakeSuggestionRoutes> routes(new FakeSuggestionRoutes(service));
    service.route("GET", SuggestionsPath, [routes](const FakeService::Call &c) { return routes->list(c); });
    service.route("PATCH", SuggestionsPath,
                  [routes](const FakeService::Call &c) { return routes->decide(c); });
}

FakeSuggestionRoutes::FakeSuggestionRoutes(FakeService &service)
    : m_content(service)
{
}

HttpResponse FakeSuggestionRoutes::list(const FakeService::Call &call)
{
    const FakeContent::PageCheck check = m_content.checkQueryPage(call, FakeContent::Need::View);
    if (!check.page)
        return check.refusal;
    const qint64 pageId = check.page->id;

    const FakeServiceState &s = m_content.state();
    JSONArray suggestions;
    for (const auto &entry : s.suggestions) {
        const auto &suggestion = entry.second;
        if (suggestion.pageId != pageId)
            continue;
        JSONObject o;
        o[QStringLiteral("id")] = suggestion.id;
        o[QStringLiteral("page_id")] = suggestion.pageId;
        o[QStringLiteral("block_id")] = FakeContent::idOrNull(suggestion.blockId);
        o[QStringLiteral("user_id")] = suggestion.userId;
        o[QStringLiteral("user_name")] = m_content.userName(suggestion.userId);
        o[QStringLiteral("kind")] = suggestion.kind;
        o[QStringLiteral("payload")] = FakeContent::orNull(suggestion.payload);
        o[QStringLiteral("status")] = suggestion.status;
        o[QStringLiteral("created_at")] = FakeContent::stamp(suggestion.createdAt);
        o[QStringLiteral("decided_at")] = FakeContent::stamp(suggestion.decidedAt);
        suggestions.emplace_back(std::move(o));
    }
    return FakeService::reply(200, JSONObject{{QStringLiteral("suggestions"), std::move(suggestions)}});
}

HttpResponse FakeSuggestionRoutes::decide(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 id = in.id(QStringLiteral("suggestion_id"));
    const QString status = in.string(QStringLiteral("status"));
    if (!in.failed() && status != QLatin1String("accepted") && status != QLatin1String("rejected"))
        in.fail(QStringLiteral("status must be \"accepted\" or \"rejected\""));
    if (in.failed())
        return in.failure();

    FakeServiceState &s = m_content.state();
    const auto it = s.suggestions.find(id);
    if (it == s.suggestions.end())
        return FakeService::error(404, QStringLiteral("Suggestion not found"));
    FakeServiceState::Suggestion &suggestion = it->second;
    const FakeContent::PageCheck check =
        m_content.checkPage(call.userId, suggestion.pageId, FakeContent::Need::Edit);
    if (!check.page)
        return check.refusal;
    if (suggestion.status != QLatin1String("pending"))
        return FakeService::error(409, QStringLiteral("This suggestion has already been decided."));
    if (status == QLatin1String("accepted")) {
        const QString problem = apply(suggestion, *check.page, call.userId);
        if (!problem.isEmpty())
            return FakeService::error(409, problem);
    }
    suggestion.status = status;
    suggestion.decidedAt = FakeContent::now();
    return FakeContent::ok();
}

QString FakeSuggestionRoutes::apply(const FakeServiceState::Suggestion &suggestion,
                                    FakeServiceState::Page &page, qint64 userId)
{
    FakeServiceState &s = m_content.state();
    const JSONValue payload(suggestion.payload.value_or(JSONObject()));
    const JSONValue &value = payload[QStringLiteral("content")];
    const auto block = s.blocks.find(suggestion.blockId);
    const bool blockOnPage = block != s.blocks.end() && block->second.pageId == page.id;
    const QDateTime t = FakeContent::now();

    if (suggestion.kind == QLatin1String("title_change")) {
        const JSONValue &title = payload[QStringLiteral("title")];
        if (!title.isString())
            return QStringLiteral("The suggestion carries no title.");
        page.title = title.toString();
        page.updatedAt = t;
        m_content.logPage(page, QStringLiteral("update"));
    } else if (suggestion.kind == QLatin1String("block_update")) {
        if (!blockOnPage)
            return QStringLiteral("The block this suggestion changes no longer exists.");
        if (value.isObject())
            block->second.content = value.toObject();
        const JSONValue &type = payload[QStringLiteral("type")];
        if (type.isString())
            block->second.type = type.toString();
        block->second.updatedAt = t;
        m_content.logBlock(block->second, page.workspaceId, QStringLiteral("update"));
    } else if (suggestion.kind == QLatin1String("block_delete")) {
        if (!blockOnPage)
            return QStringLiteral("The block this suggestion changes no longer exists.");
        m_content.deleteBlock(suggestion.blockId);
    } else if (suggestion.kind == QLatin1String("block_create")) {
        const JSONValue &type = payload[QStringLiteral("type")];
        const JSONValue &position = payload[QStringLiteral("position")];
        FakeServiceState::Block created;
        // The suggester's device already knows the block by the id it was handed when proposing.
        const bool reserved = suggestion.blockId != 0 && s.blocks.count(suggestion.blockId) == 0;
        created.id = reserved ? suggestion.blockId : s.nextBlockId++;
        created.clientId = suggestion.clientId;
        created.authorId = suggestion.userId;
        created.pageId = page.id;
        const JSONValue &parent = payload[QStringLiteral("parent_block_id")];
        if (parent.isInt() && s.blocks.count(parent.toInt()) != 0)
            created.parentBlockId = parent.toInt();
        created.type = type.isString() ? type.toString() : QStringLiteral("text");
        created.content = value.toObject();
        if (position.isInt()) {
            created.position = position.toInt();
        } else {
            for (const auto *b : m_content.blocksOf(page.id))
                created.position = std::max(created.position, b->position + 1);
        }
        created.createdAt = created.updatedAt = t;
        s.blocks[created.id] = created;
        m_content.logBlock(created, page.workspaceId, QStringLiteral("create"));
    } else {
        return QString(); // a kind the service does not act on is only marked
    }
    m_content.recordVersion(page, userId);
    return QString();
}
