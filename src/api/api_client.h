#pragma once

#include "api/any_encodable.h"
#include "api/api_error.h"
#include "api/cancel_token.h"
#include "api/curl_transport.h"
#include "json/json_coder.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <optional>

class Connectivity;

// ServiceClient's request layer: its network manager, the origin and the request function. It knows
// nothing of sessions: the token of a call is handed to it.
class APIClient : public QObject
{
    Q_OBJECT
public:
    using APIError = ::APIError;

    // `origin` is the scheme and host (a trailing slash is dropped); requests wait for `connectivity`
    // while it reports no network.
    APIClient(const QString &origin, Connectivity &connectivity, QObject *parent = nullptr);
    // Exchanges still running end as cancelled, so no caller waits on a reply that is gone.
    ~APIClient() override;

    QUrl baseURL() const { return QUrl(m_origin); }
    const QString &baseURLText() const { return m_origin; }

    static constexpr auto kRequestTimeout = std::chrono::seconds(30);  // no progress for this long
    static constexpr auto kResourceTimeout = std::chrono::seconds(60); // whole exchange
    // An upload may take as long as it needs while bytes move; only this much silence ends it.
    static constexpr auto kUploadSilenceTimeout = std::chrono::seconds(60);
    // `resource` also bounds the wait for a network while the platform reports none.
    void setTimeouts(std::chrono::milliseconds request, std::chrono::milliseconds resource);
    void setUploadTimeout(std::chrono::milliseconds silence) { m_uploadSilenceTimeout = silence; }

    // How long send() lets an exchange run: `silence` without a byte sent or received, and `overall`
    // from start to end when set.
    struct Limits {
        std::chrono::milliseconds silence;
        std::optional<std::chrono::milliseconds> overall;
    };
    Limits requestLimits() const { return {m_requestTimeout, m_resourceTimeout}; }
    Limits uploadLimits() const { return {m_uploadSilenceTimeout, std::nullopt}; }

    // Files and images from other hosts; every call to the service goes over serviceTransport().
    QNetworkAccessManager &session() { return m_session; }
    CurlTransport &serviceTransport() { return m_transport; }
    // Every reply this client made that is not yet deleted, from the manager and the service transport.
    QList<QNetworkReply *> replies() const;

    // The most one reply may carry. A larger one is refused as a network error as soon as it shows:
    // by its declared length, or by counting bytes as they arrive.
    static constexpr qint64 kMaxReplyBytes = 64 * 1024 * 1024;
    void setMaxReplyBytes(qint64 bytes) { m_maxReplyBytes = bytes; } // tests lower it
    qint64 maxReplyBytes() const { return m_maxReplyBytes; }
    // Aborts `reply` once it would hold more than `maxBytes`; failureOf() then says it was too large.
    // send() does this for every exchange; a reply made elsewhere can ask for it.
    static void limitReplySize(QNetworkReply *reply, qint64 maxBytes);
    // An http or https address with a host: the only kind fetched from content others wrote.
    static bool isWebAddress(const QUrl &url);

    static constexpr const char *kUserAgent = "Penroost-Derud/0.1 (Mac/iOS)";

    // Sends one JSON call and decodes the 2xx reply into Resp. Throws APIError (or EncodeError for
    // a body that cannot be written, in which case nothing is sent). A cancelled `cancel` aborts it.
    template <typename Resp>
    QCoro::Task<Resp> request(QString method, QString path, std::optional<AnyEncodable> body = std::nullopt,
                              std::optional<QString> token = std::nullopt, QPointer<CancelToken> cancel = {})
    {
        const QByteArray data = co_await requestData(std::move(method), std::move(path), std::move(body),
                                                     std::move(token), std::move(cancel));
        try {
            co_return sharedJSONDecode<Resp>(data);
        } catch (const DecodeError &e) {
            throw APIError::decoding(e.message());
        }
    }

    // The request function up to the reply body of a 2xx answer.
    QCoro::Task<QByteArray> requestData(QString method, QString path, std::optional<AnyEncodable> body,
                                        std::optional<QString> token, QPointer<CancelToken> cancel = {});

    // Sends a built request to the service over the service transport and runs it as send() does.
    // Throws APIError, sending nothing, when a header value holds a line break.
    QCoro::Task<std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)>>
    sendToService(QNetworkRequest request, QByteArray verb, std::optional<QByteArray> body,
                  QPointer<CancelToken> cancel = {}, std::optional<Limits> limits = std::nullopt);
    // Throws the APIError of a header value holding CR, LF or NUL, which would split the request.
    static void refuseUnsafeHeaders(const QNetworkRequest &request);

    // Runs a built request within `limits` (the request limits when absent); the reply is finished
    // when it returns. A time-out, a cancel, a redirect to another origin or a reply over the size
    // cap aborts the reply and marks it so failureOf() reports it as such. Redirects are followed only for a
    // request made with QNetworkRequest::UserVerifiedRedirectPolicy.
    QCoro::Task<std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)>>
    send(QNetworkReply *reply, QPointer<CancelToken> cancel = {},
         std::optional<Limits> limits = std::nullopt);
    // A finished reply without an HTTP status: the transport error, or "Bad response".
    static APIError failureOf(QNetworkReply *reply);
    // The body of a finished reply with a 2xx status; throws the APIError of any other outcome
    // (a 401 carries the fixed text "Unauthorized", other statuses the body when it is UTF-8).
    static QByteArray successBody(QNetworkReply *reply);
    // How far the service's clock runs ahead of this device's, from the last reply's Date header;
    // 0 until a reply told it.
    qint64 serviceClockOffsetMs() const { return m_serviceClockOffsetMs; }
    // Reads the service's clock from a finished reply's Date header, as requestData does for every answer.
    void noteServiceClock(QNetworkReply *reply);

private:
    // Waits while the platform reports no network, at most `limit`; throws the time-out error when
    // it stays away and the cancelled error when `cancel` fires first.
    QCoro::Task<> waitForNetwork(std::chrono::milliseconds limit, QPointer<CancelToken> cancel);

    QString m_origin;
    Connectivity &m_connectivity;
    QNetworkAccessManager m_session;
    // Every call to the service goes over this; the manager keeps files and images from elsewhere.
    CurlTransport m_transport;
    std::chrono::milliseconds m_requestTimeout = kRequestTimeout;
    std::chrono::milliseconds m_resourceTimeout = kResourceTimeout;
    std::chrono::milliseconds m_uploadSilenceTimeout = kUploadSilenceTimeout;
    qint64 m_maxReplyBytes = kMaxReplyBytes;
    qint64 m_serviceClockOffsetMs = 0;
    // The last "Date" header read and its time: replies within one second repeat it, and reading
    // it through QLocale costs more than the rest of a small exchange on loopback.
    QByteArray m_lastDateHeader;
    QDateTime m_lastDateStamp;
};
