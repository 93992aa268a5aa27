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

class TestFakeService : public QObject, private FakeServiceCallsFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void queryValue_data();
    void queryValue();

    void keepAliveReusesOneConnection();
    void connectionClose_data();
    void connectionClose();
    void chunkedBody_data();
    void chunkedBody();
    void requestSplitAcrossReads();
    void pipelinedRequestsAnsweredInOrder();
    void expectContinue();
    void malformedRequest_data();
    void malformedRequest();

    void signUp_data();
    void signUp();
    void logIn_data();
    void logIn();
    void logOutRevokesOnlyThatToken();
    void unauthorized_data();
    void unauthorized();
    void routing_data();
    void routing();
};

void TestFakeService::init()
{
    startService();
}

void TestFakeService::cleanup()
{
    stopService();
}

void TestFakeService::queryValue_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("value");

    QTest::newRow("plain") << QByteArray("/p?a=1&b=2") << "b" << true << "2";
    QTest::newRow("percent-encoded UTF-8")
        << QByteArray("/p?q=caf%C3%A9%20au%20lait") << "q" << true << QString::fromUtf8("café au lait");
    QTest::newRow("plus is a space") << QByteArray("/p?q=a+b") << "q" << true << "a b";
    QTest::newRow("encoded plus stays") << QByteArray("/p?q=a%2Bb") << "q" << true << "a+b";
    QTest::newRow("encoded ampersand in value") << QByteArray("/p?q=a%26b=c&r=1") << "q" << true << "a&b=c";
    QTest::newRow("last duplicate wins") << QByteArray("/p?a=1&a=2") << "a" << true << "2";
    QTest::newRow("no value") << QByteArray("/p?flag&a=1") << "flag" << true << "";
    QTest::newRow("absent") << QByteArray("/p?a=1") << "b" << false << "";
    QTest::newRow("prefix of another name") << QByteArray("/p?ab=1") << "a" << false << "";
    QTest::newRow("empty pairs") << QByteArray("/p?&&a=1&") << "a" << true << "1";
}

void TestFakeService::queryValue()
{
    QFETCH(QByteArray, target);
    QFETCH(QString, name);
    QFETCH(bool, present);
    QFETCH(QString, value);

    HttpRequest request;
    request.target = target;
    const std::optional<QString> got = request.queryValue(name);
    QCOMPARE(got.has_value(), present);
    if (present)
        QCOMPARE(*got, value);
}

void TestFakeService::keepAliveReusesOneConnection()
{
    m_service->createAccount("kim@example.com", "secret1", "Kim");
    for (int i = 0; i < 4; ++i) {
        const Reply r =
            call("POST", "/api/auth/login.php", R"({"email":"kim@example.com","password":"secret1"})");
        QCOMPARE(r.status, 200);
    }
    QCOMPARE(call("GET", "/nowhere").status, 404);
    QCOMPARE(m_service->requests().size(), 5);
    QCOMPARE(m_service->server().acceptedConnections(), 1);
}

void TestFakeService::connectionClose_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QByteArray>("connection");
    QTest::addColumn<bool>("closes");

    QTest::newRow("1.1 default") << QByteArray("HTTP/1.1") << QByteArray() << false;
    QTest::newRow("1.1 close") << QByteArray("HTTP/1.1") << QByteArray("Connection: close\r\n") << true;
    QTest::newRow("1.1 close in a list")
        << QByteArray("HTTP/1.1") << QByteArray("Connection: TE, Close\r\n") << true;
    QTest::newRow("1.0 default") << QByteArray("HTTP/1.0") << QByteArray() << true;
    QTest::newRow("1.0 keep-alive") << QByteArray("HTTP/1.0") << QByteArray("Connection: keep-alive\r\n")
                                    << false;
}

void TestFakeService::connectionClose()
{
    QFETCH(QByteArray, version);
    QFETCH(QByteArray, connection);
    QFETCH(bool, closes);

    RawClient client(m_service->port());
    // A second request right behind the first must not be answered once the connection is closing.
    const QByteArray request = "GET /missing " + version + "\r\nHost: x\r\n" + connection + "\r\n";
    client.send(request + request);
    const QList<RawResponse> responses = client.read(closes ? 1 : 2);
    QCOMPARE(responses.size(), closes ? 1 : 2);
    QCOMPARE(responses[0].status, 404);
    QCOMPARE(responses[0].header("Connection"), closes ? QByteArray("close") : QByteArray("keep-alive"));
    if (closes) {
        QVERIFY(client.waitClosed());
        QVERIFY(client.leftover().isEmpty());
        QCOMPARE(m_service->requests().size(), 1);
    }
}

void TestFakeService::chunkedBody_data()
{
    QTest::addColumn<QByteArray>("chunks");
    QTest::addColumn<int>("sliceSize");

    const QByteArray json = R"({"email":"c@example.com","password":"secret1","name":"Chunk"})";
    QByteArray plain;
    for (qsizetype i = 0; i < json.size(); i += 10) {
        const QByteArray chunk = json.mid(i, 10);
        plain += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
    }
    plain += "0\r\n\r\n";
    QTest::newRow("one write") << plain << 0;
    QTest::newRow("byte by byte") << plain << 1;

    const QByteArray head = json.left(31);
    const QByteArray tail = json.mid(31);
    QTest::newRow("extensions, upper-case hex, trailer")
        << QByteArray::number(head.size(), 16).toUpper() + ";name=value\r\n" + head + "\r\n" +
               QByteArray::number(tail.size(), 16) + "\r\n" + tail + "\r\n0\r\nX-Checksum: abc\r\n\r\n"
        << 7;
}

void TestFakeService::chunkedBody()
{
    QFETCH(QByteArray, chunks);
    QFETCH(int, sliceSize);

    const QByteArray request =
        "POST /api/auth/signup.php HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n"
        "Content-Type: application/json\r\n\r\n" +
        chunks;
    RawClient client(m_service->port());
    if (sliceSize == 0)
        client.send(request);
    else
        client.sendInSlices(request, sliceSize);
    const QList<RawResponse> responses = client.read(1);
    QCOMPARE(responses.size(), 1);
    QCOMPARE(responses[0].status, 200);
    QCOMPARE(m_service->lastRequest().body,
             QByteArray(R"({"email":"c@example.com","password":"secret1","name":"Chunk"})"));
    QCOMPARE(m_service->userCount(), 1);

    // The connection is still in step after the chunked body.
    client.send("GET /after HTTP/1.1\r\nHost: x\r\n\r\n");
    QCOMPARE(client.read(1).value(0).status, 404);
}

void TestFakeService::requestSplitAcrossReads()
{
    const QByteArray body = R"({"email":"s@example.com","password":"secret1","name":"Split"})";
    RawClient client(m_service->port());
    client.sendInSlices(post("/api/auth/signup.php", body, "X-Note: split\r\n"), 3);
    const QList<RawResponse> responses = client.read(1);
    QCOMPARE(responses.size(), 1);
    QCOMPARE(responses[0].status, 200);
    QCOMPARE(m_service->requests().size(), 1);
    QCOMPARE(m_service->lastRequest().body, body);
    QCOMPARE(m_service->lastRequest().header("X-Note"), std::optional<QByteArray>("split"));
}

void TestFakeService::pipelinedRequestsAnsweredInOrder()
{
    m_service->createAccount("p@example.com", "secret1", "Pip");
    FakeService::Fault slow = FakeService::Fault::http(503, R"({"error":"busy"})");
    slow.delayMs = 300;
    m_service->setFault("/slow", slow);

    RawClient client(m_service->port());
    client.send("GET /slow HTTP/1.1\r\nHost: x\r\n\r\n" +
                post("/api/auth/login.php", R"({"email":"p@example.com","password":"secret1"})") +
                "GET /missing HTTP/1.1\r\nHost: x\r\n\r\n");
    const QList<RawResponse> responses = client.read(3);
    QCOMPARE(responses.size(), 3);
    QCOMPARE(responses[0].status, 503);
    QCOMPARE(responses[0].body, QByteArray(R"({"error":"busy"})"));
    QCOMPARE(responses[1].status, 200);
    QCOMPARE(responses[2].status, 404);
    QCOMPARE(responses[2].body, QByteArray(R"({"error":"Not found"})"));
    QCOMPARE(responses[2].header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(m_service->server().acceptedConnections(), 1);
}

void TestFakeService::expectContinue()
{
    const QByteArray body = R"({"email":"e@example.com","password":"secret1","name":"Ex"})";
    RawClient client(m_service->port());
    client.send("POST /api/auth/signup.php HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: " +
                QByteArray::number(body.size()) + "\r\n\r\n");
    QList<RawResponse> responses = client.read(1);
    QCOMPARE(responses.value(0).status, 100);
    client.send(body);
    responses = client.read(1);
    QCOMPARE(responses.value(0).status, 200);
}

void TestFakeService::malformedRequest_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");

    QTest::newRow("no version") << QByteArray("GET /\r\n\r\n") << 400;
    QTest::newRow("unknown version") << QByteArray("GET / HTTP/2.0\r\nHost: x\r\n\r\n") << 505;
    QTest::newRow("header without colon") << QByteArray("GET / HTTP/1.1\r\nHost x\r\n\r\n") << 400;
    QTest::newRow("folded header") << QByteArray("GET / HTTP/1.1\r\nX-A: 1\r\n 2\r\n\r\n") << 400;
    QTest::newRow("non-numeric length") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n") << 400;
    QTest::newRow("conflicting lengths")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nabc") << 400;
    QTest::newRow("bad chunk size")
        << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nab\r\n0\r\n\r\n") << 400;
    QTest::newRow("chunk longer than its size")
        << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n0\r\n\r\n") << 400;
    QTest::newRow("chunked not last")
        << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked, gzip\r\n\r\n") << 400;
    QTest::newRow("unsupported coding")
        << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: gzip, chunked\r\n\r\n") << 501;
    QTest::newRow("endless header") << "GET / HTTP/1.1\r\nX-Big: " + QByteArray(70 * 1024, 'a') << 431;
}

void TestFakeService::malformedRequest()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);

    RawClient client(m_service->port());
    client.send(request);
    const QList<RawResponse> responses = client.read(1);
    QCOMPARE(responses.value(0).status, status);
    QCOMPARE(responses.value(0).header("Connection"), QByteArray("close"));
    QVERIFY(client.waitClosed());
    QVERIFY(m_service->requests().isEmpty());
}

void TestFakeService::signUp_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");

    const QString required = "Email, password and name are required.";
    QTest::newRow("ok") << QByteArray(R"({"email":"new@example.com","password":"secret1","name":"Ann"})")
                        << 200 << "";
    QTest::newRow("six characters is enough")
        << QByteArray(
               R"({"email":"new@example.com","password":"123456","name":"Ann","device_label":"Laptop"})")
        << 200 << "";
    QTest::newRow("six non-ASCII characters")
        << QByteArray(R"({"email":"new@example.com","password":"ééééé1","name":"Ann"})") << 200 << "";
    QTest::newRow("missing email") << QByteArray(R"({"password":"secret1","name":"Ann"})") << 400 << required;
    QTest::newRow("empty password") << QByteArray(R"({"email":"new@example.com","password":"","name":"Ann"})")
                                    << 400 << required;
    QTest::newRow("blank name") << QByteArray(
                                       R"({"email":"new@example.com","password":"secret1","name":"  "})")
                                << 400 << required;
    QTest::newRow("email not a string")
        << QByteArray(R"({"email":7,"password":"secret1","name":"Ann"})") << 400 << required;
    QTest::newRow("no @") << QByteArray(R"({"email":"new.example.com","password":"secret1","name":"Ann"})")
                          << 400 << "Please enter a valid e-mail address.";
    QTest::newRow("short password") << QByteArray(
                                           R"({"email":"new@example.com","password":"12345","name":"A"})")
                                    << 400 << "Password must be at least 6 characters.";
    QTest::newRow("taken") << QByteArray(R"({"email":"taken@example.com","password":"secret1","name":"T"})")
                           << 409 << "An account with that e-mail already exists.";
    QTest::newRow("taken, other case")
        << QByteArray(R"({"email":" Taken@EXAMPLE.com","password":"secret1","name":"T"})") << 409
        << "An account with that e-mail already exists.";
    QTest::newRow("array body") << QByteArray(R"(["new@example.com"])") << 400 << "Invalid JSON body";
    QTest::newRow("empty body") << QByteArray() << 400 << "Invalid JSON body";
}

void TestFakeService::signUp()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, error);

    const FakeService::Account existing = m_service->createAccount("taken@example.com", "secret1", "Tess");
    const Reply r = call("POST", "/api/auth/signup.php", body);
    QCOMPARE(r.status, status);
    QCOMPARE(r.contentType, QByteArray("application/json"));
    if (status != 200) {
        QCOMPARE(errorOf(r), error);
        QCOMPARE(m_service->userCount(), 1);
        return;
    }

    const JSONObject reply = parsed(r.body);
    const QString token = FakeService::stringField(reply, "token");
    QCOMPARE(token.size(), 64);
    QVERIFY(QByteArray::fromHex(token.toLatin1()).toHex() == token.toLatin1());
    const JSONValue user = reply.at("user");
    QCOMPARE(user["id"].toInt(), existing.userId + 1);
    QCOMPARE(user["name"].toString(), QString("Ann"));
    QCOMPARE(user["email"].toString(), QString("new@example.com"));
    const qint64 workspaceId = reply.at("workspace_id").toInt();
    QVERIFY(workspaceId != existing.workspaceId);
    QCOMPARE(m_service->state().workspaces.at(workspaceId).name, QString("Ann's Workspace"));
    QCOMPARE(m_service->state().workspaces.at(workspaceId).ownerUserId, user["id"].toInt());
    QCOMPARE(m_service->userCount(), 2);
    QCOMPARE(
        call("POST", "/api/auth/logout.php", R"({"device":"logout"})", "Bearer " + token.toLatin1()).status,
        200);
}

void TestFakeService::logIn_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");

    QTest::newRow("ok") << QByteArray(R"({"email":"lee@example.com","password":"secret1"})") << 200;
    QTest::newRow("email in other case")
        << QByteArray(R"({"email":"LEE@Example.com","password":"secret1"})") << 200;
    QTest::newRow("wrong password") << QByteArray(R"({"email":"lee@example.com","password":"secret2"})")
                                    << 401;
    QTest::newRow("password in other case")
        << QByteArray(R"({"email":"lee@example.com","password":"SECRET1"})") << 401;
    QTest::newRow("unknown email") << QByteArray(R"({"email":"nobody@example.com","password":"secret1"})")
                                   << 401;
    QTest::newRow("no fields") << QByteArray("{}") << 401;
}

void TestFakeService::logIn()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);

    const FakeService::Account account = m_service->createAccount("lee@example.com", "secret1", "Lee");
    const Reply r = call("POST", "/api/auth/login.php", body);
    QCOMPARE(r.status, status);
    if (status != 200) {
        QCOMPARE(errorOf(r), QString("Invalid e-mail or password."));
        return;
    }
    const JSONObject reply = parsed(r.body);
    const QString token = FakeService::stringField(reply, "token");
    QCOMPARE(token.size(), 64);
    QVERIFY(token != account.token);
    QCOMPARE(reply.at("user")["id"].toInt(), account.userId);
    QCOMPARE(reply.at("user")["email"].toString(), QString("lee@example.com"));
    QCOMPARE(reply.at("workspace_id").toInt(), account.workspaceId);
    // Another device signing in leaves the first one signed in.
    QCOMPARE(m_service->state().sessions.size(), 2);
    QVERIFY(m_service->state().sessions.contains(account.token));
}

void TestFakeService::logOutRevokesOnlyThatToken()
{
    const FakeService::Account account = m_service->createAccount("mo@example.com", "secret1", "Mo");
    const QString second = m_service->issueToken(account.userId, "Tablet");
    const QByteArray body = R"({"device":"logout"})";

    const Reply r = call("POST", "/api/auth/logout.php", body, "Bearer " + account.token.toLatin1());
    QCOMPARE(r.status, 200);
    QCOMPARE(parsed(r.body).at("ok"), JSONValue(true));
    QCOMPARE(call("POST", "/api/auth/logout.php", body, "Bearer " + account.token.toLatin1()).status, 401);
    QCOMPARE(call("POST", "/api/auth/logout.php", body, "Bearer " + second.toLatin1()).status, 200);
}

void TestFakeService::unauthorized_data()
{
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<int>("status");

    QTest::newRow("valid") << QByteArray("Bearer {live}") << 200;
    QTest::newRow("scheme in lower case") << QByteArray("bearer {live}") << 200;
    QTest::newRow("no header") << QByteArray() << 401;
    QTest::newRow("no token") << QByteArray("Bearer") << 401;
    QTest::newRow("other scheme") << QByteArray("Basic {live}") << 401;
    QTest::newRow("bare token") << QByteArray("{live}") << 401;
    QTest::newRow("unknown token") << QByteArray("Bearer 0123456789abcdef") << 401;
    QTest::newRow("revoked token") << QByteArray("Bearer {revoked}") << 401;
}

void TestFakeService::unauthorized()
{
    QFETCH(QByteArray, authorization);
    QFETCH(int, status);

    const FakeService::Account account = m_service->createAccount("u@example.com", "secret1", "U");
    const QString revoked = m_service->issueToken(account.userId);
    m_service->revokeToken(revoked);
    authorization.replace("{live}", account.token.toLatin1()).replace("{revoked}", revoked.toLatin1());

    const Reply r = call("POST", "/api/auth/logout.php", R"({"device":"logout"})", authorization);
    QCOMPARE(r.status, status);
    if (status == 401) {
        QCOMPARE(errorOf(r), QString("Unauthorized"));
        // With a challenge QNetworkAccessManager would start its own authentication dance.
        QVERIFY(!r.hasWwwAuthenticate);
    }
}

void TestFakeService::routing_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");

    QTest::newRow("unknown path") << QByteArray("GET") << "/api/nothing.php" << QByteArray() << true << 404
                                  << "Not found";
    QTest::newRow("path matched without query") << QByteArray("GET") << "/api/auth/login.php?x=1"
                                                << QByteArray() << false << 405 << "Method not allowed";
    QTest::newRow("wrong method") << QByteArray("DELETE") << "/api/auth/logout.php" << QByteArray() << true
                                  << 405 << "Method not allowed";
    QTest::newRow("auth checked before the body") << QByteArray("POST") << "/api/auth/logout.php"
                                                  << QByteArray("nope") << false << 401 << "Unauthorized";
    QTest::newRow("body not JSON") << QByteArray("POST") << "/api/auth/logout.php" << QByteArray("nope")
                                   << true << 400 << "Invalid JSON body";
    QTest::newRow("body a JSON string") << QByteArray("POST") << "/api/auth/logout.php"
                                        << QByteArray(R"("x")") << true << 400 << "Invalid JSON body";
}

void TestFakeService::routing()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(bool, signedIn);
    QFETCH(int, status);
    QFETCH(QString, error);

    const FakeService::Account account = m_service->createAccount("r@example.com", "secret1", "R");
    const Reply r = call(method, path, body, signedIn ? "Bearer " + account.token.toLatin1() : QByteArray());
    QCOMPARE(r.status, status);
    if (!error.isEmpty())
        QCOMPARE(errorOf(r), error);
    if (status == 405)
        QCOMPARE(r.allow, QByteArray("POST"));
}

QTEST_GUILESS_MAIN(TestFakeService)
#include "tst_fake_service.moc"
