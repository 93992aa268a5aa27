#include "fake-service/fake_bookmark_routes.h"

#include "fake-service/fake_input.h"

#include <QUrl>

#include <memory>

namespace {

const QString BookmarkPath = QStringLiteral("/api/bookmark-fetch.php");

} // namespace

void FakeBookmarkRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakeBookmarkRoutes> routes(new FakeBookmarkRoutes(service));
    service.route("POST", BookmarkPath, [routes](const FakeService::Call &c) { return routes->fetch(c); });
}

JSONObject FakeBookmarkRoutes::previewFor(const QUrl &url)
{
    QString host = url.host();
    if (host.startsWith(QLatin1String("www.")))
        host.remove(0, 4);
    const QStringList segments = url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString topic = segments.isEmpty() ? QString() : segments.last();
    topic = topic.left(topic.lastIndexOf(QLatin1Char('.')) > 0 ? topic.lastIndexOf(QLatin1Char('.'))
                                                               : topic.size());
    topic.replace(QLatin1Char('-'), QLatin1Char(' ')).replace(QLatin1Char('_'), QLatin1Char(' '));
    topic = topic.simplified();
    if (!topic.isEmpty())
        topic[0] = topic[0].toUpper();

    JSONObject o;
    o[QStringLiteral("url")] = url.toString();
    o[QStringLiteral("title")] = topic.isEmpty() ? host : topic + QStringLiteral(" | ") + host;
    o[QStringLiteral("description")] =
        topic.isEmpty()
            ? QStringLiteral("A page on ") + host + QLatin1Char('.')
            : QStringLiteral("About ") + topic.toLower() + QStringLiteral(", on ") + host + QLatin1Char('.');
    o[QStringLiteral("image")] =
        url.scheme() + QStringLiteral("://") + url.host() + QStringLiteral("/og-image.png");
    return o;
}

FakeBookmarkRoutes::FakeBookmarkRoutes(FakeService &service)
    : m_service(service)
{
}

HttpResponse FakeBookmarkRoutes::fetch(const FakeService::Call &call)
{
    FakeInput in(call);
    const QString text = in.string(QStringLiteral("url")).trimmed();
    if (in.failed())
        return in.failure();
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return FakeService::error(400,
                                  QStringLiteral("Enter a web address starting with http:// or https://"));

    const auto seeded = m_service.state().bookmarkPreviews.constFind(text);
    if (seeded != m_service.state().bookmarkPreviews.constEnd()) {
        JSONObject o = *seeded;
        o.emplace(QStringLiteral("url"), text);
        return FakeService::reply(200, o);
    }
    return FakeService::reply(200, previewFor(url));
}
