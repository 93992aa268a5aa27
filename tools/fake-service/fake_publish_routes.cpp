#include "fake-service/fake_publish_routes.h"

#include "fake-service/fake_input.h"

#include <memory>

namespace {

const QString PublishPath = QStringLiteral("/api/publish.php");
const QString PublicPagePrefix = QStringLiteral("/p/");

} // namespace

void FakePublishRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakePublishRoutes> routes(new FakePublishRoutes(service));
    service.route("GET", PublishPath, [routes](const FakeService::Call &c) { return routes->read(c); });
    service.route("POST", PublishPath, [routes](const FakeService::Call &c) { return routes->publish(c); });
    service.route("DELETE", PublishPath,
                  [routes](const FakeService::Call &c) { return routes->unpublish(c); });
    service.routeRaw(
        "GET", PublicPagePrefix, [routes](const FakeService::Call &c) { return routes->publicPage(c); },
        FakeService::Access::Public);
}

FakePublishRoutes::FakePublishRoutes(FakeService &service)
    : m_service(service)
    , m_content(service)
{
}

HttpResponse FakePublishRoutes::read(const FakeService::Call &call)
{
    const FakeContent::PageCheck check = m_content.checkQueryPage(call, FakeContent::Need::View);
    if (!check.page)
        return check.refusal;
    return stateReply(check.page->id);
}

HttpResponse FakePublishRoutes::publish(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 pageId = in.id(QStringLiteral("page_id"));
    const std::optional<QString> password = in.optString(QStringLiteral("password"));
    const bool allowComments = in.boolean(QStringLiteral("allow_comments"));
    const bool includeSubpages = in.boolean(QStringLiteral("include_subpages"));
    if (in.failed())
        return in.failure();
    const FakeContent::PageCheck check = m_content.checkPage(call.userId, pageId, FakeContent::Need::Share);
    if (!check.page)
        return check.refusal;

    FakeServiceState::Publication &publication = m_content.state().publications[pageId];
    publication.published = true;
    if (publication.slug.isEmpty())
        publication.slug = slugFor(*check.page);
    publication.allowComments = allowComments;
    publication.includeSubpages = includeSubpages;
    // Left out, the password stays; sent empty, it is taken away.
    if (password)
        publication.password = *password;
    return stateReply(pageId);
}

HttpResponse FakePublishRoutes::unpublish(const FakeService::Call &call)
{
    const FakeContent::PageCheck check = m_content.checkQueryPage(call, FakeContent::Need::Share);
    if (!check.page)
        return check.refusal;
    auto &publications = m_content.state().publications;
    if (const auto it = publications.find(check.page->id); it != publications.end()) {
        it->second.published = false;
        it->second.password.clear();
    }
    return FakeContent::ok();
}

HttpResponse FakePublishRoutes::publicPage(const FakeService::Call &call)
{
    const QString slug = QString::fromUtf8(call.request.path()).mid(PublicPagePrefix.size());
    auto &publications = m_content.state().publications;
    for (auto &[pageId, publication] : publications) {
        if (!publication.published || publication.slug != slug)
            continue;
        const auto page = m_content.state().pages.find(pageId);
        if (page == m_content.state().pages.end() || page->second.inTrash())
            break;
        if (!publication.password.isEmpty() &&
            call.request.queryValue(QStringLiteral("password")) != publication.password)
            return FakeService::error(401, QStringLiteral("This page is protected by a password"));
        ++publication.viewCount;
        QString html = QStringLiteral("<!doctype html><title>%1</title><h1>%1</h1>")
                           .arg(page->second.title.toHtmlEscaped());
        for (const auto &block : m_service.storedBlocks(pageId)) {
            const QString text = FakeService::stringField(block.content, QStringLiteral("text"));
            if (!text.isEmpty())
                html += QStringLiteral("<p>%1</p>").arg(text.toHtmlEscaped());
        }
        HttpResponse r;
        r.contentType = "text/html; charset=utf-8";
        r.body = html.toUtf8();
        return r;
    }
    return FakeService::error(404, QStringLiteral("Not found"));
}

HttpResponse FakePublishRoutes::stateReply(qint64 pageId)
{
    const auto &publications = m_content.state().publications;
    const auto it = publications.find(pageId);
    if (it == publications.end())
        return FakeService::reply(200, JSONObject{{QStringLiteral("published"), false}});
    const FakeServiceState::Publication &p = it->second;
    // The settings come back as the integer flags the service stores, not as booleans.
    JSONObject o{{QStringLiteral("published"), p.published},
                 {QStringLiteral("allow_comments"), p.allowComments ? 1 : 0},
                 {QStringLiteral("include_subpages"), p.includeSubpages ? 1 : 0},
                 {QStringLiteral("view_count"), p.viewCount},
                 {QStringLiteral("has_password"), !p.password.isEmpty()}};
    if (p.published) {
        o[QStringLiteral("slug")] = p.slug;
        o[QStringLiteral("url")] = m_content.origin() + QStringLiteral("/p/") + p.slug;
    }
    return FakeService::reply(200, o);
}

QString FakePublishRoutes::slugFor(const FakeServiceState::Page &page)
{
    QString slug;
    for (const QChar c : page.title.toLower()) {
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
            (c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            slug += c;
        else if (!slug.isEmpty() && !slug.endsWith(QLatin1Char('-')))
            slug += QLatin1Char('-');
    }
    while (slug.endsWith(QLatin1Char('-')))
        slug.chop(1);
    if (slug.isEmpty())
        slug = QStringLiteral("page");
    // The id keeps two pages of the same title apart.
    return slug + QLatin1Char('-') + QString::number(page.id);
}
