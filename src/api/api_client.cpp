#include "api/api_client.h"

#include "api/curl_reply.h"

#include "platform/connectivity.h"
#include "platform/utf8.h"

#include <QCoroNetworkReply>
#include <QCoroTimer>
#include <QDateTime>
#include <QLocale>
#include <QNetworkRequest>
#include <QTimeZone>
#include <QTimer>

#include <algorithm>

namespace {

const char *const kTimedOutProperty = "penroostTimedOut";
const char *const kCancelledProperty = "penroostCancelled";
const char *const kRedirectRefusedProperty = "penroostRedirectRefused";
const char *const kTooLargeProperty = "penroostTooLarge";

const auto kTimedOutText = QStringLiteral("The request timed out.");
const auto kCancelledText = QStringLiteral("cancelled");
const auto kRedirectRefusedText =
    QStringLiteral("The service sent the request to another address; it was not followed.");
const auto kTooLargeText = QStringLiteral("The service's reply was too large, so it was not read.");
const auto kUnsafeHeaderText =
    QStringLiteral("A request header held a line break, so the request was not sent.");

QString trimOrigin(QString origin)
{
    while (origin.endsWith(QLatin1Char('/')))
        origin.chop(1);
    return origin;
}

// A redirect may keep the request's headers, the bearer token among them, only while it stays with
// the same scheme, host and port.
bool sameOrigin(const QUrl &a, const QUrl &b)
{
    const auto port = [](const QUrl &u) {
        return u.port(u.scheme() == QLatin1String("https")  ? 443
                      : u.scheme() == QLatin1String("http") ? 80
                                                            : -1);
    };
    return a.scheme() == b.scheme() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           port(a) == port(b);
}

} // namespace

APIClient::APIClient(const QString &origin, Connectivity &connectivity, QObject *parent)
    : QObject(parent)
    , m_origin(trimOrigin(origin))
    , m_connectivity(connectivity)
{
}

APIClient::~APIClient()
{
    // The manager deletes its replies without finishing them; a caller awaiting one would never resume.
    for (QNetworkReply *reply : replies()) {
        if (reply->isFinished())
            continue;
        reply->setProperty(kCancelledProperty, true);
        reply->abort();
    }
}

QList<QNetworkReply *> APIClient::replies() const
{
    return m_session.findChildren<QNetworkReply *>() + m_transport.findChildren<QNetworkReply *>();
}

bool APIClient::isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

void APIClient::limitReplySize(QNetworkReply *reply, qint64 maxBytes)
{
    if (auto *exchange = qobject_cast<CurlReply *>(reply)) {
        exchange->setMaxBodyBytes(maxBytes);
        return;
    }
    const auto refuse = [reply] {
        if (reply->property(kTooLargeProperty).toBool())
            return;
        reply->setProperty(kTooLargeProperty, true);
        reply->abort();
    };
    // The declared length refuses before the body comes; counting catches a chunked or compressed one.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, maxBytes, refuse] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maxBytes)
            refuse();
    });
    // Nothing reads the reply before it ends, so what is buffered, decompressed, is all it holds.
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, maxBytes, refuse] {
        if (reply->bytesAvailable() > maxBytes)
            refuse();
    });
}

void APIClient::setTimeouts(std::chrono::milliseconds request, std::chrono::milliseconds resource)
{
    m_requestTimeout = request;
    m_resourceTimeout = resource;
}

QCoro::Task<std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)>>
APIClient::send(QNetworkReply *reply, QPointer<CancelToken> cancel, std::optional<Limits> limits)
{
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> owned(
        reply, [](QNetworkReply *r) { r->deleteLater(); });
    const Limits limit = limits.value_or(requestLimits());
    const auto expire = [reply] {
        reply->setProperty(kTimedOutProperty, true);
        reply->abort();
    };
    // Precise timers: a coarse one may fire 5% early and cut off an exchange still within its limit.
    QTimer idle;
    idle.setSingleShot(true);
    idle.setTimerType(Qt::PreciseTimer);
    idle.setInterval(limit.silence);
    QObject::connect(&idle, &QTimer::timeout, reply, expire);
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    if (limit.overall) {
        deadline.setInterval(*limit.overall);
        QObject::connect(&deadline, &QTimer::timeout, reply, expire);
    }
    // Any progress restarts the idle timer, as the request time-out counts silence, not duration.
    QObject::connect(reply, &QNetworkReply::downloadProgress, &idle, qOverload<>(&QTimer::start));
    QObject::connect(reply, &QNetworkReply::uploadProgress, &idle, qOverload<>(&QTimer::start));
    // Checked against where the request first went: the reply's own URL already names the target.
    QObject::connect(reply, &QNetworkReply::redirected, reply,
                     [reply, first = reply->url()](const QUrl &target) {
                         if (sameOrigin(first.resolved(target), first)) {
                             Q_EMIT reply->redirectAllowed();
                             return;
                         }
                         reply->setProperty(kRedirectRefusedProperty, true);
                         reply->abort();
                     });
    limitReplySize(reply, m_maxReplyBytes);
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
    if (limit.overall)
        deadline.start();
    if (!reply->isFinished())
        co_await reply;
    co_return owned;
}

void APIClient::refuseUnsafeHeaders(const QNetworkRequest &request)
{
    const auto unsafe = [](const QByteArray &text) {
        return text.contains('\r') || text.contains('\n') || text.contains('\0');
    };
    for (const QByteArray &name : request.rawHeaderList()) {
        if (unsafe(name) || unsafe(request.rawHeader(name)))
            throw APIError::other(kUnsafeHeaderText);
    }
}

QCoro::Task<std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)>>
APIClient::sendToService(QNetworkRequest request, QByteArray verb, std::optional<QByteArray> body,
                         QPointer<CancelToken> cancel, std::optional<Limits> limits)
{
    refuseUnsafeHeaders(request);
    QNetworkReply *raw = m_transport.send(request, verb, std::move(body));
    co_return co_await send(raw, std::move(cancel), limits);
}

QCoro::Task<> APIClient::waitForNetwork(std::chrono::milliseconds limit, QPointer<CancelToken> cancel)
{
    Connectivity &network = m_connectivity;
    if (network.isOnline())
        co_return;
    // Nothing was sent while waiting for a network.
    if (cancel && cancel->isCancelled())
        throw APIError::network(QNetworkReply::OperationCanceledError, kCancelledText, false);
    // The timer ends the wait: at the limit, or at once when the network returns or the call is cancelled.
    QTimer wait;
    wait.setSingleShot(true);
    wait.setTimerType(Qt::PreciseTimer);
    QObject::connect(&network, &Connectivity::pathUpdated, &wait, [&wait](bool online) {
        if (online)
            wait.start(0);
    });
    if (cancel)
        QObject::connect(cancel.data(), &CancelToken::cancelled, &wait, [&wait] { wait.start(0); });
    wait.start(limit);
    co_await wait;
    if (cancel && cancel->isCancelled())
        throw APIError::network(QNetworkReply::OperationCanceledError, kCancelledText, false);
    if (!network.isOnline())
        throw APIError::network(QNetworkReply::TimeoutError, kTimedOutText, false);
}

APIError APIClient::failureOf(QNetworkReply *reply)
{
    // The manager's replies do not say whether their connection opened: theirs may have left.
    const auto *exchange = qobject_cast<const CurlReply *>(reply);
    const bool left = !exchange || exchange->mayHaveLeft();
    if (reply->property(kCancelledProperty).toBool())
        return APIError::network(QNetworkReply::OperationCanceledError, kCancelledText, left);
    if (reply->property(kTimedOutProperty).toBool())
        return APIError::network(QNetworkReply::TimeoutError, kTimedOutText, left);
    if (reply->property(kRedirectRefusedProperty).toBool())
        return APIError::network(QNetworkReply::InsecureRedirectError, kRedirectRefusedText, left);
    if (reply->property(kTooLargeProperty).toBool() || (exchange && exchange->wasTooLarge()))
        return APIError::network(QNetworkReply::UnknownContentError, kTooLargeText, left);
    // Qt has no words of its own for the refused second send of a body (see CurlReply::onSeek).
    if (reply->error() == QNetworkReply::ContentReSendError)
        return APIError::network(reply->error(),
                                 QStringLiteral("The connection closed before the server answered."), left);
    if (reply->error() != QNetworkReply::NoError)
        return APIError::network(reply->error(), reply->errorString(), left);
    return APIError::other(QStringLiteral("Bad response"));
}

QCoro::Task<QByteArray> APIClient::requestData(QString method, QString path, std::optional<AnyEncodable> body,
                                               std::optional<QString> token, QPointer<CancelToken> cancel)
{
    const QUrl url(m_origin + path, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("https") && scheme != QLatin1String("http")))
        throw APIError::other(QStringLiteral("Invalid URL: ") + path);

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
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
    // Time spent waiting for a network counts against the whole exchange, as the platform's own wait would.
    Limits limits = requestLimits();
    if (!m_connectivity.isOnline()) {
        const auto waitStarted = std::chrono::steady_clock::now();
        co_await waitForNetwork(*limits.overall, cancel);
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - waitStarted);
        limits.overall = std::max(*limits.overall - waited, std::chrono::milliseconds(1));
    }
    // Named first: GCC 12 destroys temporaries made inside a co_await operand twice.
    QByteArray verb = method.toLatin1();
    const auto reply = co_await sendToService(std::move(request), std::move(verb), std::move(payload),
                                              std::move(cancel), limits);
    noteServiceClock(reply.get());
    co_return successBody(reply.get());
}

void APIClient::noteServiceClock(QNetworkReply *reply)
{
    const QByteArray date = reply->rawHeader("Date");
    if (date.isEmpty())
        return;
    if (date != m_lastDateHeader) {
        QDateTime stamp = QLocale::c().toDateTime(QString::fromLatin1(date).trimmed(),
                                                  QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"));
        if (stamp.isValid())
            stamp.setTimeZone(QTimeZone::utc());
        m_lastDateHeader = date;
        m_lastDateStamp = stamp;
    }
    if (!m_lastDateStamp.isValid())
        return;
    const QDateTime &utc = m_lastDateStamp;
    // The header is cut to the second: the middle of that second is the best guess.
    m_serviceClockOffsetMs = QDateTime::currentDateTimeUtc().msecsTo(utc.addMSecs(500));
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
    auto *curl = qobject_cast<CurlReply *>(reply);
    const QByteArray bytes = curl ? curl->takeAll() : reply->readAll();
    if (unsigned(code - 200) < 100u)
        return bytes;
    throw APIError::http(code, decodeUtf8Strict(bytes));
}
