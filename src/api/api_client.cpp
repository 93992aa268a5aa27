#include "api/api_client.h"

#include "platform/utf8.h"

#include <QCoroNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

const char *const kTimedOutProperty = "penroostTimedOut";
const char *const kCancelledProperty = "penroostCancelled";

QString &originOverride()
{
    static QString origin;
    return origin;
}

QString trimOrigin(QString origin)
{
    while (origin.endsWith(QLatin1Char('/')))
        origin.chop(1);
    return origin;
}

} // namespace

APIClient::APIClient() = default;

APIClient &APIClient::shared()
{
    // Never destroyed: replies may still be finishing while the process exits.
    static APIClient *client = new APIClient;
    return *client;
}

QString APIClient::baseURLText()
{
    if (!originOverride().isEmpty())
        return originOverride();
    static const QString origin = [] {
        const QByteArray env = qgetenv("PENROOST_SERVICE_ORIGIN");
        return trimOrigin(env.isEmpty() ? QStringLiteral(PENROOST_SERVICE_ORIGIN) : QString::fromUtf8(env));
    }();
    return origin;
}

QUrl APIClient::baseURL()
{
    return QUrl(baseURLText());
}

void APIClient::setBaseURL(const QString &origin)
{
    originOverride() = trimOrigin(origin);
}

void APIClient::setTimeouts(std::chrono::milliseconds request, std::chrono::milliseconds resource)
{
    m_requestTimeout = request;
    m_resourceTimeout = resource;
}

QCoro::Task<std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)>> APIClient::send(QNetworkReply *reply,
                                                                                     QPointer<CancelToken> cancel)
{
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> owned(reply,
                                                                  [](QNetworkReply *r) { r->deleteLater(); });
    const auto expire = [reply] {
        reply->setProperty(kTimedOutProperty, true);
        reply->abort();
    };
    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(m_requestTimeout);
    QObject::connect(&idle, &QTimer::timeout, reply, expire);
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setInterval(m_resourceTimeout);
    QObject::connect(&deadline, &QTimer::timeout, reply, expire);
    // Any progress restarts the idle timer, as the request time-out counts silence, not duration.
    QObject::connect(reply, &QNetworkReply::downloadProgress, &idle, qOverload<>(&QTimer::start));
    QObject::connect(reply, &QNetworkReply::uploadProgress, &idle, qOverload<>(&QTimer::start));
    const auto abandon = [reply] {
        reply->setProperty(kCancelledProperty, true);
        reply->abort();
    };
    if (cancel) {
        if (cancel->isCancelled())
            abandon();
        else
            QObject::connect(cancel.data(), &CancelToken::cancelled, reply, abandon);
    }
    idle.start();
    deadline.start();
    if (!reply->isFinished())
        co_await reply;
    co_return owned;
}

APIError APIClient::failureOf(QNetworkReply *reply)
{
    if (reply->property(kCancelledProperty).toBool())
        return APIError::network(QNetworkReply::OperationCanceledError, QStringLiteral("cancelled"));
    if (reply->property(kTimedOutProperty).toBool())
        return APIError::network(QNetworkReply::TimeoutError, QStringLiteral("The request timed out."));
    if (reply->error() != QNetworkReply::NoError)
        return APIError::network(reply->error(), reply->errorString());
    return APIError::other(QStringLiteral("Bad response"));
}

QCoro::Task<QByteArray> APIClient::requestData(QString method, QString path, std::optional<AnyEncodable> body,
                                               std::optional<QString> token, QPointer<CancelToken> cancel)
{
    const QUrl url(baseURLText() + path, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("https") && scheme != QLatin1String("http")))
        throw APIError::other(QStringLiteral("Invalid URL: ") + path);

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("Accept", "application/json");
    request.setRawHeader("User-Agent", kUserAgent);
    if (token)
        request.setRawHeader("Authorization", "Bearer " + token->toUtf8());

    // Encoding happens before anything is sent, so an unwritable body sends nothing.
    std::optional<QByteArray> payload;
    if (body) {
        JsonWriter w;
        body->toJson(w);
        payload = w.bytes();
    }
    const QByteArray verb = method.toLatin1();
    QNetworkReply *raw = payload ? m_session.sendCustomRequest(request, verb, *payload)
                                 : m_session.sendCustomRequest(request, verb);
    const auto reply = co_await send(raw, std::move(cancel));
    co_return successBody(reply.get());
}

QByteArray APIClient::successBody(QNetworkReply *reply)
{
    const int error = reply->error();
    // Qt reports 4xx/5xx as errors too; only its transport errors (below 200) are network failures.
    const bool transportFailed = error > 0 && error < 200;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (transportFailed || !status.isValid())
        throw failureOf(reply);

    const int code = status.toInt();
    if (code == 401)
        throw APIError::http(401, QStringLiteral("Unauthorized"));
    const QByteArray bytes = reply->readAll();
    if (unsigned(code - 200) < 100u)
        return bytes;
    throw APIError::http(code, decodeUtf8Strict(bytes));
}
