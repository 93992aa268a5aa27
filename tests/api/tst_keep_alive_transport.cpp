#include "api/keep_alive_transport.h"
#include "fake-service/loopback_http_server.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

namespace {

// A server that answers every request with the same bytes, written as they stand (in pieces when
// asked), and hangs up after the answer when `close` is set: the answers the fake's server never makes.
class CannedServer : public QObject
{
public:
    QList<QByteArray> pieces;
    bool close = false;
    bool hangUpAtOnce = false;   // closes on the first byte of a request, answering nothing
    bool answerAnyBytes = false; // answers whatever comes, a TLS greeting too
    int accepted = 0;

    bool listen()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                ++accepted;
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    m_in[s] += s->readAll();
                    if (hangUpAtOnce) {
                        s->abort();
                        s->deleteLater();
                        return;
                    }
                    if (!answerAnyBytes && !m_in[s].contains("\r\n\r\n"))
                        return;
                    m_in[s].clear();
                    for (const QByteArray &piece : pieces) {
                        s->write(piece);
                        s->flush();
                        QTest::qWait(5);
                    }
                    if (close)
                        s->disconnectFromHost();
                });
            }
        });
        return m_server.listen(QHostAddress::LocalHost);
    }
    QUrl url(const QString &path = QStringLiteral("/x")) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }

private:
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_in;
};

std::unique_ptr<QNetworkReply> finish(QNetworkReply *reply)
{
    std::unique_ptr<QNetworkReply> owned(reply);
    if (!reply->isFinished()) {
        QSignalSpy done(reply, &QNetworkReply::finished);
        done.wait(5000);
    }
    return owned;
}

QNetworkRequest requestTo(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setRawHeader("Accept", "application/json");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    return request;
}

} // namespace

class TestKeepAliveTransport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void answersAreRead_data();
    void answersAreRead();
    void connectionIsReusedWhileOpen_data();
    void connectionIsReusedWhileOpen();
    void failuresMapToNetworkErrors_data();
    void failuresMapToNetworkErrors();
    void abortEndsAtOnce();
    void redirectWaitsForConsent_data();
    void redirectWaitsForConsent();
    void hostHeaderNamesTheOrigin_data();
    void hostHeaderNamesTheOrigin();
};

void TestKeepAliveTransport::answersAreRead_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<bool>("close");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    const QByteArray date = "Date: Mon, 07 Dec 2026 13:00:00 GMT\r\n";
    QTest::newRow("content length") << QList<QByteArray>{"HTTP/1.1 200 OK\r\n" + date +
                                                         "Content-Length: 5\r\n\r\nhello"}
                                    << false << 200 << QByteArray("hello");
    QTest::newRow("content length in pieces")
        << QList<QByteArray>{"HTTP/1.1 201 Created\r\n" + date + "Content-Le", "ngth: 11\r\n\r", "\nhello",
                             " world"}
        << false << 201 << QByteArray("hello world");
    QTest::newRow("chunked, split inside sizes and line ends")
        << QList<QByteArray>{"HTTP/1.1 200 OK\r\n" + date + "Transfer-Encoding: chunked\r\n\r\n5\r",
                             "\nhello\r", "\n6;x=y\r\n world\r\n0\r\n", "Trailer: 1\r\n\r\n"}
        << false << 200 << QByteArray("hello world");
    QTest::newRow("up to the close") << QList<QByteArray>{"HTTP/1.1 200 OK\r\n" + date +
                                                              "Connection: close\r\n\r\nab",
                                                          "cd"}
                                     << true << 200 << QByteArray("abcd");
    QTest::newRow("HTTP/1.0 with length")
        << QList<QByteArray>{"HTTP/1.0 200 OK\r\n" + date + "Content-Length: 2\r\n\r\nok"} << true << 200
        << QByteArray("ok");
    QTest::newRow("interim 100 first")
        << QList<QByteArray>{"HTTP/1.1 100 Continue\r\n\r\n",
                             "HTTP/1.1 200 OK\r\n" + date + "Content-Length: 2\r\n\r\nok"}
        << false << 200 << QByteArray("ok");
    QTest::newRow("no content") << QList<QByteArray>{"HTTP/1.1 204 No Content\r\n" + date + "\r\n"} << false
                                << 204 << QByteArray();
    QTest::newRow("error status keeps its body")
        << QList<QByteArray>{"HTTP/1.1 409 Conflict\r\n" + date + "Content-Length: 4\r\n\r\nnope"} << false
        << 409 << QByteArray("nope");
}

// Each way of framing an answer ends with its status, its Date header and the whole body, and the
// next request on the same transport still gets its own answer.
void TestKeepAliveTransport::answersAreRead()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(bool, close);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    CannedServer server;
    server.pieces = pieces;
    server.close = close;
    QVERIFY(server.listen());
    KeepAliveTransport transport;
    for (int round = 0; round < 2; ++round) {
        const auto reply = finish(transport.send(requestTo(server.url()), "POST", QByteArray("{}")));
        QVERIFY(reply->isFinished());
        QVERIFY2(reply->error() == QNetworkReply::NoError || status >= 400, qPrintable(reply->errorString()));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
        QCOMPARE(reply->rawHeader("Date"), QByteArray("Mon, 07 Dec 2026 13:00:00 GMT"));
        QCOMPARE(reply->readAll(), body);
    }
    QCOMPARE(server.accepted, close ? 2 : 1);
}

void TestKeepAliveTransport::connectionIsReusedWhileOpen_data()
{
    QTest::addColumn<int>("requests");
    QTest::addColumn<bool>("serverHangsUpBetween");
    QTest::newRow("ten in a row, one connection") << 10 << false;
    QTest::newRow("service hangs up between, a new one each time") << 3 << true;
}

// Against the fake's own server: one connection carries a push's requests one after another; when
// the service closes it, the next request opens another rather than failing.
void TestKeepAliveTransport::connectionIsReusedWhileOpen()
{
    QFETCH(int, requests);
    QFETCH(bool, serverHangsUpBetween);
    LoopbackHttpServer server;
    QVERIFY(server.listen());
    int seen = 0;
    server.setHandler([&seen](const HttpRequest &r) {
        ++seen;
        return HttpResponse::json(200, "{\"n\":" + QByteArray::number(r.body.size()) + "}");
    });
    KeepAliveTransport transport;
    for (int i = 0; i < requests; ++i) {
        const auto reply = finish(
            transport.send(requestTo(QUrl(server.origin() + "/api/sync.php")), "PATCH", QByteArray(i, 'x')));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->readAll(), "{\"n\":" + QByteArray::number(i) + "}");
        if (serverHangsUpBetween) {
            server.setRefusing(true);
            server.setRefusing(false);
            QTRY_COMPARE(transport.idleConnections(), 0);
        }
    }
    QCOMPARE(seen, requests);
    QCOMPARE(server.acceptedConnections(), serverHangsUpBetween ? requests : 1);
    QCOMPARE(transport.connectionsOpened(), serverHangsUpBetween ? requests : 1);
}

void TestKeepAliveTransport::failuresMapToNetworkErrors_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("withBody");
    QTest::addColumn<int>("error");
    QTest::newRow("refused") << "refused" << true << int(QNetworkReply::ConnectionRefusedError);
    QTest::newRow("no such host") << "nohost" << false << int(QNetworkReply::HostNotFoundError);
    QTest::newRow("closed before answering a body")
        << "hangup" << true << int(QNetworkReply::ContentReSendError);
    QTest::newRow("closed before answering, no body")
        << "hangup" << false << int(QNetworkReply::RemoteHostClosedError);
    QTest::newRow("closed inside the body") << "short" << false << int(QNetworkReply::RemoteHostClosedError);
    QTest::newRow("not HTTP") << "garbage" << false << int(QNetworkReply::ProtocolFailure);
    QTest::newRow("TLS to a plain server") << "tls" << false << int(QNetworkReply::SslHandshakeFailedError);
}

void TestKeepAliveTransport::failuresMapToNetworkErrors()
{
    QFETCH(QString, where);
    QFETCH(bool, withBody);
    QFETCH(int, error);
    CannedServer server;
    QVERIFY(server.listen());
    QUrl url = server.url();
    if (where == QLatin1String("refused")) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        url.setPort(probe.serverPort());
        probe.close();
    } else if (where == QLatin1String("nohost")) {
        url.setHost(QStringLiteral("no-such-host.invalid"));
    } else if (where == QLatin1String("hangup")) {
        server.hangUpAtOnce = true;
    } else if (where == QLatin1String("short")) {
        server.pieces = {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"};
        server.close = true;
    } else if (where == QLatin1String("garbage")) {
        server.pieces = {"SSH-2.0-OpenSSH\r\n\r\n"};
    } else if (where == QLatin1String("tls")) {
        server.pieces = {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"};
        server.answerAnyBytes = true;
        url.setScheme(QStringLiteral("https"));
    }
    KeepAliveTransport transport;
    const auto reply = finish(
        transport.send(requestTo(url), "POST", withBody ? std::optional<QByteArray>("{}") : std::nullopt));
    QVERIFY(reply->isFinished());
    QCOMPARE(int(reply->error()), error);
    QVERIFY(!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid() ||
            where == QLatin1String("short"));
}

// Aborting mid-answer finishes the reply at once as cancelled, and the half-read connection is not
// kept for the next request.
void TestKeepAliveTransport::abortEndsAtOnce()
{
    CannedServer server;
    server.pieces = {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"};
    QVERIFY(server.listen());
    KeepAliveTransport transport;
    QNetworkReply *reply = transport.send(requestTo(server.url()), "GET");
    std::unique_ptr<QNetworkReply> owned(reply);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    QVERIFY(QSignalSpy(reply, &QNetworkReply::readyRead).wait(5000));
    reply->abort();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(reply->error(), QNetworkReply::OperationCanceledError);
    QCOMPARE(transport.idleConnections(), 0);
}

// Under UserVerifiedRedirectPolicy a redirect is only followed once the owner allows it; then the
// same connection carries the request to the new path.
void TestKeepAliveTransport::redirectWaitsForConsent_data()
{
    QTest::addColumn<bool>("atOnce");
    QTest::newRow("consent later") << false;
    QTest::newRow("consent as it is asked, before the moved answer's body is read") << true;
}

// Under UserVerifiedRedirectPolicy a redirect is only followed once the owner allows it; then the
// same connection carries the request to the new path, after the moved answer has been read.
void TestKeepAliveTransport::redirectWaitsForConsent()
{
    QFETCH(bool, atOnce);
    LoopbackHttpServer server;
    QVERIFY(server.listen());
    QList<QByteArray> targets;
    server.setHandler([&targets](const HttpRequest &r) {
        targets.append(r.target);
        if (r.target == "/old") {
            HttpResponse moved = HttpResponse::json(307, "{\"moved\":\"here\"}");
            moved.streamPieces = 3;
            moved.streamIntervalMs = 20;
            moved.headers.append(qMakePair(QByteArray("Location"), QByteArray("/new")));
            return moved;
        }
        return HttpResponse::json(200, "{\"at\":\"" + r.target + "\",\"body\":\"" + r.body + "\"}");
    });
    KeepAliveTransport transport;
    QNetworkReply *reply = transport.send(requestTo(QUrl(server.origin() + "/old")), "POST", QByteArray("b"));
    std::unique_ptr<QNetworkReply> owned(reply);
    if (atOnce)
        connect(reply, &QNetworkReply::redirected, reply, &QNetworkReply::redirectAllowed);
    QSignalSpy redirected(reply, &QNetworkReply::redirected);
    if (!atOnce) {
        QVERIFY(redirected.wait(5000));
        QTest::qWait(100);
        QCOMPARE(targets, QList<QByteArray>{"/old"});
        QVERIFY(!reply->isFinished());
        Q_EMIT reply->redirectAllowed();
    }
    finish(owned.release()).swap(owned);
    QCOMPARE(redirected.size(), 1);
    QCOMPARE(reply->error(), QNetworkReply::NoError);
    QCOMPARE(reply->readAll(), QByteArray("{\"at\":\"/new\",\"body\":\"b\"}"));
    QCOMPARE(reply->url().path(), QStringLiteral("/new"));
    QCOMPARE(targets, (QList<QByteArray>{"/old", "/new"}));
    QCOMPARE(server.acceptedConnections(), 1);
}

void TestKeepAliveTransport::hostHeaderNamesTheOrigin_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("IPv4") << "127.0.0.1";
    QTest::newRow("IPv6, in brackets") << "[::1]";
}

void TestKeepAliveTransport::hostHeaderNamesTheOrigin()
{
    QFETCH(QString, address);
    QTcpServer server;
    const bool six = address.startsWith(QLatin1Char('['));
    if (!server.listen(six ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost))
        QSKIP("no loopback address of this kind");
    QByteArray head;
    connect(&server, &QTcpServer::newConnection, &server, [&] {
        QTcpSocket *s = server.nextPendingConnection();
        connect(s, &QTcpSocket::readyRead, s, [&head, s] {
            head += s->readAll();
            if (head.contains("\r\n\r\n"))
                s->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        });
    });
    const QUrl url(QStringLiteral("http://%1:%2/p").arg(address).arg(server.serverPort()));
    KeepAliveTransport transport;
    const auto reply = finish(transport.send(requestTo(url), "GET"));
    QCOMPARE(reply->error(), QNetworkReply::NoError);
    QVERIFY2(head.contains("\r\nHost: " + (address + ':' + QString::number(server.serverPort())).toLatin1() +
                           "\r\n"),
             head.constData());
}

QTEST_GUILESS_MAIN(TestKeepAliveTransport)
#include "tst_keep_alive_transport.moc"
