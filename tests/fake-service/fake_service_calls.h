#pragma once

// What the fake service's tests share: calls over a real connection, through Qt's network stack or
// raw on a socket, and what came back.

#include "fake-service/fake_service.h"
#include "json/json_value.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>

namespace {

constexpr int WaitMs = 10000;

struct Reply {
    int status = 0; // 0 when no HTTP answer came
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray contentType;
    bool hasWwwAuthenticate = false;
    QByteArray allow;
};

struct RawResponse {
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        }
        return QByteArray();
    }
};

inline std::optional<RawResponse> takeResponse(QByteArray &buffer)
{
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return std::nullopt;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    RawResponse r;
    r.status = lines.first().split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        r.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    const qsizetype length = r.header("Content-Length").toLongLong();
    if (buffer.size() < end + 4 + length)
        return std::nullopt;
    r.body = buffer.mid(end + 4, length);
    buffer.remove(0, end + 4 + length);
    return r;
}

// A hand-driven client for what QNetworkAccessManager will not do: odd framing and exact bytes.
class RawClient
{
public:
    explicit RawClient(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        if (!QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, WaitMs))
            qWarning("RawClient: could not connect to port %u", port);
    }

    void send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        if (!QTest::qWaitFor([this] { return m_socket.bytesToWrite() == 0; }, WaitMs))
            qWarning("RawClient: write stalled");
    }

    // Each slice in its own TCP segment, with the server given time to read between them.
    void sendInSlices(const QByteArray &bytes, int sliceSize)
    {
        for (qsizetype i = 0; i < bytes.size(); i += sliceSize) {
            send(bytes.mid(i, sliceSize));
            QTest::qWait(5);
        }
    }

    QList<RawResponse> read(int count)
    {
        QList<RawResponse> out;
        const bool complete = QTest::qWaitFor(
            [&] {
                m_buffer += m_socket.readAll();
                while (auto r = takeResponse(m_buffer))
                    out.append(*r);
                return out.size() >= count;
            },
            WaitMs);
        if (!complete)
            qWarning("RawClient: %lld of %d responses arrived", qlonglong(out.size()), count);
        return out;
    }

    bool waitClosed()
    {
        return QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; },
                               WaitMs);
    }

    QByteArray leftover() { return m_buffer + m_socket.readAll(); }
    QTcpSocket &socket() { return m_socket; }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

inline QByteArray post(const QByteArray &path, const QByteArray &body, const QByteArray &extraHeaders = {})
{
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

inline JSONObject parsed(const QByteArray &body)
{
    try {
        return parseJSONObject(body);
    } catch (const std::exception &e) {
        qWarning("not a JSON object: %s (%s)", body.constData(), e.what());
        return JSONObject();
    }
}

inline QString errorOf(const Reply &reply)
{
    return FakeService::stringField(parsed(reply.body), QStringLiteral("error"));
}

} // namespace

namespace {

inline QNetworkReply *startRequest(QNetworkAccessManager &nam, const QString &origin,
                                   const QByteArray &method, const QString &path, const QByteArray &body,
                                   const QByteArray &authorization)
{
    QNetworkRequest request(QUrl(origin + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    if (!authorization.isEmpty())
        request.setRawHeader("Authorization", authorization);
    return body.isEmpty() ? nam.sendCustomRequest(request, method)
                          : nam.sendCustomRequest(request, method, body);
}

inline Reply finishReply(QNetworkReply *reply)
{
    if (!reply->isFinished())
        QSignalSpy(reply, &QNetworkReply::finished).wait(WaitMs);
    Reply r;
    r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    r.body = reply->readAll();
    r.error = reply->error();
    r.contentType = reply->rawHeader("Content-Type");
    r.hasWwwAuthenticate = reply->hasRawHeader("WWW-Authenticate");
    r.allow = reply->rawHeader("Allow");
    reply->deleteLater();
    return r;
}

} // namespace

// One fake service and one network manager for each test function, and calls to it.
class FakeServiceCallsFixture
{
protected:
    void startService()
    {
        m_service = std::make_unique<FakeService>();
        QVERIFY(m_service->start());
        m_nam = std::make_unique<QNetworkAccessManager>();
        m_nam->setProxy(QNetworkProxy::NoProxy);
    }
    void stopService()
    {
        m_nam.reset();
        m_service.reset();
    }
    QNetworkReply *start(QNetworkAccessManager &nam, const QByteArray &method, const QString &path,
                         const QByteArray &body = {}, const QByteArray &authorization = {})
    {
        return startRequest(nam, m_service->origin(), method, path, body, authorization);
    }
    Reply finish(QNetworkReply *reply) { return finishReply(reply); }
    Reply call(const QByteArray &method, const QString &path, const QByteArray &body = {},
               const QByteArray &authorization = {})
    {
        return finish(start(*m_nam, method, path, body, authorization));
    }

    std::unique_ptr<FakeService> m_service;
    std::unique_ptr<QNetworkAccessManager> m_nam;
};
