#include "api/curl_transport.h"

#include "api/curl_multi_driver.h"
#include "api/curl_reply.h"

CurlTransport::CurlTransport(QObject *parent)
    : QObject(parent)
{
    // libcurl's global set-up is not safe to race; the first transport does it once.
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    Q_UNUSED(initialised);
    m_driver = std::make_unique<CurlMultiDriver>([](QObject *owner, CURLcode code) {
        if (auto *reply = qobject_cast<CurlReply *>(owner))
            reply->ended(code);
    });
}

CurlTransport::~CurlTransport()
{
    const auto replies = findChildren<CurlReply *>(QString(), Qt::FindDirectChildrenOnly);
    for (CurlReply *reply : replies) {
        if (!reply->isFinished())
            reply->abort();
    }
    // The multi handle goes before the replies, which QObject deletes last.
    for (CurlReply *reply : findChildren<CurlReply *>(QString(), Qt::FindDirectChildrenOnly))
        reply->detach();
}

QNetworkReply *CurlTransport::send(const QNetworkRequest &request, const QByteArray &verb,
                                   std::optional<QByteArray> body)
{
    auto *reply = new CurlReply(*this, request, verb, std::move(body));
    connect(reply, &QNetworkReply::finished, this, [this, reply] { Q_EMIT finished(reply); });
    reply->start();
    return reply;
}
