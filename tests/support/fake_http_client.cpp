#include "support/fake_http_client.h"

#include "json/json_error.h"

#include <QEventLoop>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>

namespace {

constexpr int WaitMs = 10000;

} // namespace

FakeHttpClient::FakeHttpClient(const FakeService &service)
    : m_origin(service.origin())
{
    m_nam.setProxy(QNetworkProxy::NoProxy);
}

FakeHttpClient::Reply FakeHttpClient::call(const QByteArray &method, const QString &path,
                                           const QByteArray &body, const QString &token)
{
    QNetworkRequest request(QUrl(m_origin + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toLatin1());
    QNetworkReply *reply = body.isEmpty() ? m_nam.sendCustomRequest(request, method)
                                          : m_nam.sendCustomRequest(request, method, body);
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(WaitMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!reply->isFinished())
        reply->abort();
    Reply r;
    r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    r.body = reply->readAll();
    try {
        r.json = JSONValue::parse(r.body);
    } catch (const DecodeError &) {
        r.json = JSONValue();
    }
    reply->deleteLater();
    return r;
}
