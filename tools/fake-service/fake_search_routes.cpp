#include "fake-service/fake_search_routes.h"

#include "fake-service/fake_input.h"

#include <algorithm>
#include <memory>

namespace {

const QString SearchPath = QStringLiteral("/api/search.php");
constexpr qsizetype ExcerptBefore = 40;
constexpr qsizetype ExcerptAfter = 80;

} // namespace

void FakeSearchRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakeSearchRoutes> routes(new FakeSearchRoutes(service));
    service.route("GET", SearchPath, [routes](const FakeService::Call &c) { return routes->search(c); });
}

FakeSearchRoutes::FakeSearchRoutes(FakeService &service)
    : m_content(service)
{
}

HttpResponse FakeSearchRoutes::search(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 workspaceId = in.queryId(QStringLiteral("workspace_id"));
    const QString query = in.queryText(QStringLiteral("q")).value_or(QString()).trimmed();
    if (in.failed())
        return in.failure();
    if (const auto refusal = m_content.refuseWorkspace(call.userId, workspaceId, false))
        return *refusal;

    std::vector<const FakeServiceState::Page *> pages;
    for (const auto &entry : m_content.state().pages) {
        if (entry.second.workspaceId == workspaceId && !entry.second.inTrash())
            pages.push_back(&entry.second);
    }
    std::stable_sort(pages.begin(), pages.end(), [](auto *a, auto *b) { return a->position < b->position; });

    JSONArray titleHits;
    JSONArray textHits;
    for (const auto *page : query.isEmpty() ? decltype(pages){} : pages) {
        JSONObject hit{{QStringLiteral("id"), page->id},
                       {QStringLiteral("title"), page->title},
                       {QStringLiteral("icon"), page->icon}};
        std::optional<QString> snippet;
        QString opening; // shown for a title hit whose text does not hold the search
        for (const auto *block : m_content.blocksOf(page->id)) {
            const QString text = FakeContent::blockText(*block);
            const qsizetype at = text.indexOf(query, 0, Qt::CaseInsensitive);
            if (at >= 0) {
                snippet = excerpt(text, at, query.size());
                break;
            }
            if (opening.isEmpty() && !text.isEmpty())
                opening = excerpt(text, 0, 0);
        }
        const bool titleHit = page->title.contains(query, Qt::CaseInsensitive);
        if (snippet || !opening.isEmpty())
            hit[QStringLiteral("snippet")] = snippet.value_or(opening);
        if (titleHit)
            titleHits.emplace_back(std::move(hit));
        else if (snippet)
            textHits.emplace_back(std::move(hit));
    }
    for (auto &hit : textHits)
        titleHits.push_back(std::move(hit));
    return FakeService::reply(200, JSONObject{{QStringLiteral("pages"), std::move(titleHits)}});
}

QString FakeSearchRoutes::excerpt(const QString &text, qsizetype at, qsizetype length)
{
    const qsizetype from = std::max<qsizetype>(0, at - ExcerptBefore);
    const qsizetype to = std::min(text.size(), at + length + ExcerptAfter);
    QString out = text.mid(from, to - from);
    if (from > 0)
        out.prepend(QStringLiteral("…"));
    if (to < text.size())
        out.append(QStringLiteral("…"));
    return out;
}
