#include "fake-service/fake_bookmark_routes.h"

#include "fake-service/fake_input.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QUrl>

#include <memory>

namespace {

const QString BookmarkPath = QStringLiteral("/api/bookmark-fetch.php");
const QString ImagesPrefix = QStringLiteral("/og-images/");
constexpr auto ImageSuffix = ".png";

} // namespace

void FakeBookmarkRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakeBookmarkRoutes> routes(new FakeBookmarkRoutes(service));
    service.route("POST", BookmarkPath, [routes](const FakeService::Call &c) { return routes->fetch(c); });
    service.routeRaw(
        "GET", ImagesPrefix, [routes](const FakeService::Call &c) { return routes->image(c); },
        FakeService::Access::Public);
}

JSONObject FakeBookmarkRoutes::previewFor(const QUrl &url, const QString &origin)
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
    o[QStringLiteral("image")] = origin + ImagesPrefix + url.host() + QLatin1String(ImageSuffix);
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
    return FakeService::reply(200, previewFor(url, m_service.origin()));
}

QByteArray FakeBookmarkRoutes::previewImage(const QString &host)
{
    QImage image(180, 140, QImage::Format_RGB32);
    const QColor base = QColor::fromHsv(int(qHash(host) % 360), 110, 210);
    QPainter painter(&image);
    QLinearGradient fill(0, 0, 180, 140);
    fill.setColorAt(0, base.lighter(130));
    fill.setColorAt(1, base.darker(130));
    painter.fillRect(image.rect(), fill);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 150));
    painter.drawEllipse(QPoint(60, 60), 26, 26);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

HttpResponse FakeBookmarkRoutes::image(const FakeService::Call &call)
{
    const QString name = QString::fromUtf8(call.request.path()).mid(ImagesPrefix.size());
    if (!name.endsWith(QLatin1String(ImageSuffix)) || name.size() <= int(qstrlen(ImageSuffix)))
        return FakeService::error(404, QStringLiteral("Not found"));
    HttpResponse response;
    response.body = previewImage(name.chopped(int(qstrlen(ImageSuffix))));
    response.contentType = "image/png";
    return response;
}
