#include "fake-service/fake_service.h"
#include "fake_service_calls.h"

#include "json/json_value.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(FakeService::Fault)

class TestFakeServiceFaults : public QObject, private FakeServiceCallsFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void faultAnswers_data();
    void faultAnswers();
    void delayDoesNotBlockOtherConnections();
    void dropClosesWithoutAnswer();
    void applyThenDropChangesStateWithoutAnswer();
    void lateRequestsChangeNothingUntilHandled_data();
    void lateRequestsChangeNothingUntilHandled();
    void faultRemainingCount();
    void offline();
    void requestLogKeepsRawRequest();

    void clientVanishesMidRequest();
    void clientVanishesDuringDelay();
    void serviceDestroyedDuringDelay();
};

void TestFakeServiceFaults::init()
{
    startService();
}

void TestFakeServiceFaults::cleanup()
{
    stopService();
}

void TestFakeServiceFaults::faultAnswers_data()
{
    QTest::addColumn<FakeService::Fault>("fault");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType");

    QTest::newRow("status and body") << FakeService::Fault::http(500, R"({"error":"Database is down"})")
                                     << 500 << QByteArray("application/json");
    QTest::newRow("success with a body the client must reject")
        << FakeService::Fault::http(200, R"({"unexpected":true})") << 200 << QByteArray("application/json");
    QTest::newRow("HTML error page") << FakeService::Fault::htmlPage(502) << 502
                                     << QByteArray("text/html; charset=UTF-8");
    QTest::newRow("invalid UTF-8") << FakeService::Fault::invalidUtf8(400) << 400
                                   << QByteArray("application/json");
}

void TestFakeServiceFaults::faultAnswers()
{
    QFETCH(FakeService::Fault, fault);
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);

    m_service->setFault("/api/auth/signup.php", fault);
    const Reply r = call("POST", "/api/auth/signup.php?lang=en",
                         R"({"email":"f@example.com","password":"secret1","name":"F"})");
    QCOMPARE(r.status, status);
    QCOMPARE(r.body, fault.body);
    QCOMPARE(r.contentType, contentType);
    // The failed request changed nothing.
    QCOMPARE(m_service->userCount(), 0);
    QCOMPARE(m_service->requestsTo("/api/auth/signup.php").size(), 1);

    if (contentType.startsWith("text/html"))
        QVERIFY(r.body.startsWith("<!DOCTYPE html>") && r.body.trimmed().endsWith("</html>"));
    if (QTest::currentDataTag() == QByteArray("invalid UTF-8")) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString text = decoder(r.body);
        QVERIFY(decoder.hasError());
    }

    m_service->clearFault("/api/auth/signup.php");
    QCOMPARE(
        call("POST", "/api/auth/signup.php", R"({"email":"f@example.com","password":"secret1","name":"F"})")
            .status,
        200);
}

void TestFakeServiceFaults::delayDoesNotBlockOtherConnections()
{
    m_service->createAccount("d@example.com", "secret1", "D");
    m_service->setFault("/api/auth/login.php", FakeService::Fault::delay(800));

    QSignalSpy received(m_service.get(), &FakeService::requestReceived);
    QElapsedTimer timer;
    timer.start();
    QNetworkReply *slow =
        start(*m_nam, "POST", "/api/auth/login.php", R"({"email":"d@example.com","password":"secret1"})");
    QVERIFY(received.wait(WaitMs));

    QNetworkAccessManager other;
    other.setProxy(QNetworkProxy::NoProxy);
    const Reply quick = finish(start(other, "GET", "/api/ping.php"));
    QCOMPARE(quick.status, 404);
    QVERIFY(!slow->isFinished());
    QVERIFY(timer.elapsed() < 800);

    const Reply late = finish(slow);
    QCOMPARE(late.status, 200);
    QVERIFY2(timer.elapsed() >= 750, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(m_service->server().acceptedConnections(), 2);
}

void TestFakeServiceFaults::dropClosesWithoutAnswer()
{
    m_service->setFault("/api/auth/login.php", FakeService::Fault::drop());

    RawClient client(m_service->port());
    client.send(post("/api/auth/login.php", "{}"));
    QVERIFY(client.waitClosed());
    QVERIFY(client.leftover().isEmpty());

    const Reply r = call("POST", "/api/auth/login.php", "{}");
    QCOMPARE(r.status, 0);
    QVERIFY2(r.error == QNetworkReply::RemoteHostClosedError || r.error == QNetworkReply::UnknownNetworkError,
             qPrintable(QString::number(r.error)));
    QVERIFY(r.body.isEmpty());
}

void TestFakeServiceFaults::applyThenDropChangesStateWithoutAnswer()
{
    FakeService::Fault fault = FakeService::Fault::applyThenDrop();
    fault.remaining = 1;
    m_service->setFault("/api/auth/signup.php", fault);

    // A raw client: Qt's own would quietly send the request again on the closed connection.
    const QByteArray body = R"({"email":"lost@example.com","password":"secret1","name":"L"})";
    RawClient client(m_service->port());
    client.send(post("/api/auth/signup.php", body));
    QVERIFY(client.waitClosed());
    QVERIFY(client.leftover().isEmpty());
    QCOMPARE(m_service->userCount(), 1);
    // The resend meets the account the lost answer made.
    QCOMPARE(call("POST", "/api/auth/signup.php", body).status, 409);
}

void TestFakeServiceFaults::lateRequestsChangeNothingUntilHandled_data()
{
    QTest::addColumn<bool>("held"); // else a slow link

    QTest::newRow("held on the way") << true;
    QTest::newRow("slow link") << false;
}

void TestFakeServiceFaults::lateRequestsChangeNothingUntilHandled()
{
    QFETCH(bool, held);
    m_service->setFault("/api/auth/signup.php",
                        held ? FakeService::Fault::heldOnTheWay() : FakeService::Fault::slowLink(400));
    const int users = m_service->userCount();
    QSignalSpy received(m_service.get(), &FakeService::requestReceived);
    RawClient first(m_service->port());
    first.send(
        post("/api/auth/signup.php", R"({"email":"one@example.com","password":"secret1","name":"O"})"));
    RawClient second(m_service->port());
    second.send(
        post("/api/auth/signup.php", R"({"email":"two@example.com","password":"secret1","name":"T"})"));
    QTRY_COMPARE(received.size(), 2);
    QCOMPARE(m_service->userCount(), users);

    if (held) {
        QVERIFY(m_service->releaseFirstHeldAnswer());
        QCOMPARE(first.read(1).value(0).status, 200);
        QCOMPARE(m_service->userCount(), users + 1);
        QVERIFY(m_service->releaseFirstHeldAnswer());
        QVERIFY(!m_service->releaseFirstHeldAnswer());
    } else {
        QCOMPARE(first.read(1).value(0).status, 200);
    }
    QCOMPARE(second.read(1).value(0).status, 200);
    QCOMPARE(m_service->userCount(), users + 2);
}

void TestFakeServiceFaults::faultRemainingCount()
{
    FakeService::Fault fault = FakeService::Fault::http(503, R"({"error":"Try later"})");
    fault.remaining = 2;
    m_service->setFault("/api/auth/login.php", fault);

    QCOMPARE(call("POST", "/api/auth/login.php", "{}").status, 503);
    QCOMPARE(call("POST", "/api/auth/login.php", "{}").status, 503);
    QCOMPARE(call("POST", "/api/auth/login.php", "{}").status, 401);
    QCOMPARE(call("POST", "/api/auth/login.php", "{}").status, 401);

    // Faults stay on their own path.
    m_service->setFault("/api/auth/login.php", FakeService::Fault::http(500, "{}"));
    QCOMPARE(call("POST", "/api/auth/signup.php", "{}").status, 400);
    m_service->clearFaults();
    QCOMPARE(call("POST", "/api/auth/login.php", "{}").status, 401);
}

void TestFakeServiceFaults::offline()
{
    const FakeService::Account account = m_service->createAccount("o@example.com", "secret1", "O");
    m_service->setOffline(true);
    const Reply r = call("POST", "/api/auth/login.php", R"({"email":"o@example.com","password":"secret1"})");
    QCOMPARE(r.status, 0);
    QVERIFY(r.error != QNetworkReply::NoError);
    QVERIFY(call("GET", "/anything").status == 0);
    QVERIFY(m_service->requestsTo("/api/auth/login.php").isEmpty());

    m_service->setOffline(false);
    QCOMPARE(call("POST", "/api/auth/login.php", R"({"email":"o@example.com","password":"secret1"})").status,
             200);
    QVERIFY(account.userId > 0);
}

void TestFakeServiceFaults::requestLogKeepsRawRequest()
{
    const QByteArray body("{\"a\":\"\xc3\xa9\"}\n");
    RawClient client(m_service->port());
    client.send("PATCH /api/x.php?q=a%20b&r=1+2&q=%zz HTTP/1.1\r\nHost: 127.0.0.1\r\nX-First: 1\r\n"
                "x-second:  two words \r\nContent-Length: " +
                QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QCOMPARE(client.read(1).value(0).status, 404);

    const HttpRequest logged = m_service->lastRequest();
    QCOMPARE(logged.method, QByteArray("PATCH"));
    QCOMPARE(logged.target, QByteArray("/api/x.php?q=a%20b&r=1+2&q=%zz"));
    QCOMPARE(logged.path(), QByteArray("/api/x.php"));
    QCOMPARE(logged.headerNames(), QList<QByteArray>({"Host", "X-First", "x-second", "Content-Length"}));
    QCOMPARE(logged.header("X-SECOND"), std::optional<QByteArray>("two words"));
    QCOMPARE(logged.header("x-first"), std::optional<QByteArray>("1"));
    QVERIFY(!logged.header("X-Missing"));
    QCOMPARE(logged.body, body);
    QCOMPARE(logged.queryValue("r"), std::optional<QString>("1 2"));

    // QUrl would normalise the escape away, so only a raw client can show paths are matched decoded.
    client.send("GET /api/auth/log%6Fut.php HTTP/1.1\r\nHost: x\r\n\r\n");
    QCOMPARE(client.read(1).value(0).status, 405);
    QCOMPARE(m_service->requestsTo("/api/auth/logout.php").value(0).target,
             QByteArray("/api/auth/log%6Fut.php"));

    // Through the real client too, with a body that is not JSON at all.
    const QByteArray binary("\x00\x01\xff{", 4);
    call("POST", "/api/auth/login.php?since=2024-01-01%2010%3A00", binary);
    QCOMPARE(m_service->requests().size(), 3);
    const HttpRequest viaClient = m_service->requestsTo("/api/auth/login.php").value(0);
    QCOMPARE(viaClient.body, binary);
    QCOMPARE(viaClient.queryValue("since"), std::optional<QString>("2024-01-01 10:00"));
    QCOMPARE(viaClient.header("Content-Type"), std::optional<QByteArray>("application/json"));

    m_service->clearRequests();
    QVERIFY(m_service->requests().isEmpty());
    QVERIFY(m_service->lastRequest().method.isEmpty());
}

void TestFakeServiceFaults::clientVanishesMidRequest()
{
    {
        RawClient client(m_service->port());
        client.send("POST /api/auth/signup.php HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"email\":");
        QTest::qWait(20);
        client.socket().abort();
    }
    {
        RawClient client(m_service->port());
        client.send("POST /api/auth/signup.php HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab");
        QTest::qWait(20);
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_service->server().openConnections(), 0, WaitMs);
    QVERIFY(m_service->requests().isEmpty());
    QCOMPARE(call("GET", "/still-here").status, 404);
}

void TestFakeServiceFaults::clientVanishesDuringDelay()
{
    m_service->setFault("/slow", FakeService::Fault::delay(200));
    QSignalSpy received(m_service.get(), &FakeService::requestReceived);
    {
        RawClient client(m_service->port());
        client.send("GET /slow HTTP/1.1\r\nHost: x\r\n\r\nGET /slow HTTP/1.1\r\nHost: x\r\n\r\n");
        QVERIFY(received.wait(WaitMs));
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_service->server().openConnections(), 0, WaitMs);
    QTest::qWait(400); // past the moment the answer was due
    QCOMPARE(received.size(), 1);
    QCOMPARE(call("GET", "/still-here").status, 404);
}

void TestFakeServiceFaults::serviceDestroyedDuringDelay()
{
    m_service->setFault("/slow", FakeService::Fault::delay(300));
    QSignalSpy received(m_service.get(), &FakeService::requestReceived);
    QNetworkReply *reply = start(*m_nam, "GET", "/slow");
    QVERIFY(received.wait(WaitMs));
    m_service.reset();
    const Reply r = finish(reply);
    QCOMPARE(r.status, 0);
    QTest::qWait(400);
}

QTEST_GUILESS_MAIN(TestFakeServiceFaults)
#include "tst_fake_service_faults.moc"
