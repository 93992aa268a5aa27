#include "api/api_client.h"
#include "api/wire/common.h"
#include "fake-service/fake_service.h"
#include "fake-service/loopback_http_server.h"
#include "platform/connectivity.h"
#include "support/task_outcome.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <cmath>

namespace {

// A reply type with required fields, read strictly.
struct UserReply {
    QString token;
    qint64 id = 0;
    static UserReply fromJson(const rapidjson::Value &v)
    {
        const auto &user = json::field<JSONObject>(v, "user");
        return {json::field<QString>(v, "token"), user.at("id").toInt()};
    }
};

// The call the failure tests make: POST /api/sync.php with an empty object.
TaskOutcome<EmptyReply> postSync(APIClient &client, CancelToken *cancel = nullptr)
{
    return runTask(client.request<EmptyReply>("POST", "/api/sync.php", JSONObject{}, "t", cancel));
}

QByteArray headerOf(const HttpRequest &r, const char *name)
{
    return r.header(name).value_or(QByteArray("<absent>"));
}

// A good answer to the sync call, late or over a slow link.
FakeService::Fault answered(int delayMs, int pieces = 0, int intervalMs = 0)
{
    FakeService::Fault f = FakeService::Fault::http(200, "{" + QByteArray(30, ' ') + "}");
    f.delayMs = delayMs;
    f.streamPieces = pieces;
    f.streamIntervalMs = intervalMs;
    return f;
}

const QString MovedPath = QStringLiteral("/api/moved.php");
const QString MovedHerePath = QStringLiteral("/api/moved-here.php");

} // namespace

Q_DECLARE_METATYPE(FakeService::Fault)

class TestRequest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void headersAsSent();
    void noAuthorizationWithoutToken();
    void emptyTokenStillSendsBearer();
    void deleteWithoutBodyKeepsContentType();
    void pathAndQueryUnchanged();
    void successStatusesDecode_data();
    void successStatusesDecode();
    void missingRequiredMemberIsDecoding();
    void unauthorizedIgnoresBody();
    void httpErrorsCarryBodyText_data();
    void httpErrorsCarryBodyText();
    void closedPortIsNetwork();
    void droppedConnectionIsNetwork();
    void timeoutIsNetwork();
    void cancelAbortsInFlight();
    void clientGoingAwayEndsItsExchanges();
    void requestsKeepTheirLimits_data();
    void requestsKeepTheirLimits();
    void redirectsStayWithTheService_data();
    void redirectsStayWithTheService();
    void offlineRequestWaitsForTheNetwork_data();
    void offlineRequestWaitsForTheNetwork();
    void unparsablePathSendsNothing_data();
    void unparsablePathSendsNothing();
    void unwritableBodySendsNothing();
    void signUpAndLogInRoundTrip();

private:
    APIClient &client() { return *m_client; }

    FakeService m_fake;
    Connectivity m_network;
    std::unique_ptr<APIClient> m_client; // a fresh one per test, at the fake
    LoopbackHttpServer m_elsewhere; // another origin on this machine
    int m_elsewhereRequests = 0;
    QByteArray m_location; // where the moved path points
    int m_redirectStatus = 302;
};

void TestRequest::initTestCase()
{
    QVERIFY(m_fake.start());
    QVERIFY(m_elsewhere.listen());
    m_elsewhere.setHandler([this](const HttpRequest &) {
        ++m_elsewhereRequests;
        return HttpResponse::json(200, "{}");
    });
    for (const QByteArray method : {"GET", "POST"}) {
        m_fake.routeRaw(
            method, MovedPath,
            [this](const FakeService::Call &) {
                HttpResponse r = HttpResponse::json(m_redirectStatus, "{}");
                r.headers.append({"Location", m_location});
                return r;
            },
            FakeService::Access::Public);
        m_fake.routeRaw(
            method, MovedHerePath, [](const FakeService::Call &) { return HttpResponse::json(200, "{}"); },
            FakeService::Access::Public);
    }
}

void TestRequest::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
    m_client = std::make_unique<APIClient>(m_fake.origin(), m_network);
}

void TestRequest::headersAsSent()
{
    const auto account = m_fake.createAccount("h@example.com", "secret1", "H");
    const JSONObject body{{"device", "logout"}};
    const auto out =
        runTask(client().request<EmptyReply>("POST", "/api/auth/logout.php", body, account.token));
    QVERIFY2(out.ok(), qPrintable(out.errorText()));
    const HttpRequest r = m_fake.lastRequest();
    QCOMPARE(r.method, QByteArray("POST"));
    QCOMPARE(r.target, QByteArray("/api/auth/logout.php"));
    QCOMPARE(r.body, QByteArray(R"({"device":"logout"})"));
    QCOMPARE(headerOf(r, "Content-Type"), QByteArray("application/json"));
    QCOMPARE(headerOf(r, "Accept"), QByteArray("application/json"));
    QCOMPARE(headerOf(r, "User-Agent"), QByteArray("Penroost-Derud/0.1 (Mac/iOS)"));
    QCOMPARE(headerOf(r, "Authorization"), "Bearer " + account.token.toUtf8());

    // Our four fields keep their order among whatever the network stack adds.
    QList<QByteArray> ours;
    for (const auto &name : r.headerNames()) {
        const QByteArray lower = name.toLower();
        if (lower == "content-type" || lower == "accept" || lower == "user-agent" || lower == "authorization")
            ours.append(lower);
    }
    QCOMPARE(ours, (QList<QByteArray>{"content-type", "accept", "user-agent", "authorization"}));
}

void TestRequest::noAuthorizationWithoutToken()
{
    const JSONObject body{{"email", "nobody@example.com"}, {"password", "x"}};
    const auto out = runTask(client().request<EmptyReply>("POST", "/api/auth/login.php", body));
    QVERIFY(!out.ok());
    QVERIFY(!m_fake.lastRequest().header("Authorization").has_value());
}

void TestRequest::emptyTokenStillSendsBearer()
{
    const auto out =
        runTask(client().request<EmptyReply>("GET", "/api/workspaces.php", std::nullopt, QString()));
    QVERIFY(out.finished);
    // HTTP drops the trailing blank on the wire; the field is still sent.
    QCOMPARE(headerOf(m_fake.lastRequest(), "Authorization").trimmed(), QByteArray("Bearer"));
}

void TestRequest::deleteWithoutBodyKeepsContentType()
{
    m_fake.setFault("/api/pages.php", FakeService::Fault::http(200, "{}"));
    const auto out =
        runTask(client().request<EmptyReply>("DELETE", "/api/pages.php?page_id=42", std::nullopt, "t"));
    QVERIFY2(out.ok(), qPrintable(out.errorText()));
    const HttpRequest r = m_fake.lastRequest();
    QCOMPARE(r.method, QByteArray("DELETE"));
    QCOMPARE(r.body, QByteArray());
    QCOMPARE(headerOf(r, "Content-Type"), QByteArray("application/json"));
    QCOMPARE(r.header("Content-Length").value_or("0"), QByteArray("0"));
}

void TestRequest::pathAndQueryUnchanged()
{
    m_fake.setFault("/api/search.php", FakeService::Fault::http(200, "{}"));
    const QString path = QStringLiteral("/api/search.php?workspace_id=7&q=R%26D%20C++&x=a=b");
    const auto out = runTask(client().request<EmptyReply>("GET", path, std::nullopt, "t"));
    QVERIFY2(out.ok(), qPrintable(out.errorText()));
    QCOMPARE(m_fake.lastRequest().target, path.toUtf8());
}

void TestRequest::successStatusesDecode_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::newRow("200 {}") << 200 << QByteArray("{}") << true;
    QTest::newRow("201 {}") << 201 << QByteArray("{}") << true;
    QTest::newRow("200 true") << 200 << QByteArray("true") << true;
    QTest::newRow("200 array") << 200 << QByteArray("[1,2]") << true;
    QTest::newRow("299 {}") << 299 << QByteArray("{}") << true;
    QTest::newRow("200 empty") << 200 << QByteArray() << false;
    QTest::newRow("201 empty") << 201 << QByteArray() << false;
    QTest::newRow("204 no content") << 204 << QByteArray() << false;
    QTest::newRow("200 malformed") << 200 << QByteArray("{") << false;
    QTest::newRow("200 html") << 200 << QByteArray("<html></html>") << false;
}

void TestRequest::successStatusesDecode()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    m_fake.setFault("/api/ai.php", FakeService::Fault::http(status, body));
    const auto out = runTask(client().request<EmptyReply>("POST", "/api/ai.php", JSONObject{}, "t"));
    QVERIFY(out.finished);
    QCOMPARE(out.ok(), ok);
    if (!ok) {
        QCOMPARE(int(out.apiError()->kind()), int(APIError::Kind::Decoding));
        QCOMPARE(out.apiError()->errorDescription(), QStringLiteral("Couldn't read the server's response."));
    }
}

void TestRequest::missingRequiredMemberIsDecoding()
{
    m_fake.setFault("/api/auth/login.php", FakeService::Fault::http(200, R"({"user":{"id":1}})"));
    const auto out = runTask(client().request<UserReply>("POST", "/api/auth/login.php", JSONObject{}));
    QVERIFY(out.finished);
    QVERIFY(out.apiError());
    QCOMPARE(int(out.apiError()->kind()), int(APIError::Kind::Decoding));
}

void TestRequest::unauthorizedIgnoresBody()
{
    m_fake.setFault("/api/sync.php", FakeService::Fault::http(401, R"({"error":"token expired"})"));
    const auto out = postSync(client());
    const auto e = out.apiError();
    QVERIFY(e);
    QCOMPARE(int(e->kind()), int(APIError::Kind::Http));
    QCOMPARE(e->status(), 401);
    QCOMPARE(e->body(), std::optional<QString>(QStringLiteral("Unauthorized")));
    QCOMPARE(e->errorDescription(), QStringLiteral("Please sign in again."));
}

void TestRequest::httpErrorsCarryBodyText_data()
{
    QTest::addColumn<FakeService::Fault>("fault");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("hasText");
    QTest::addColumn<QString>("message");
    QTest::newRow("403 json") << FakeService::Fault::http(403, R"({"error":"t"})") << 403 << true
                              << "You don't have permission to do that. (t)";
    QTest::newRow("500 html page") << FakeService::Fault::htmlPage(500) << 500 << true
                                   << "Server problem. Please try again.";
    QTest::newRow("409 invalid utf-8")
        << FakeService::Fault::invalidUtf8(409) << 409 << false << "That conflicts with the current state.";
    QTest::newRow("404 empty") << FakeService::Fault::http(404, "") << 404 << true << "Not found.";
    QTest::newRow("302 is not followed")
        << FakeService::Fault::http(302, "") << 302 << true << "Request failed.";
}

void TestRequest::httpErrorsCarryBodyText()
{
    QFETCH(FakeService::Fault, fault);
    QFETCH(int, status);
    QFETCH(bool, hasText);
    QFETCH(QString, message);
    m_fake.setFault("/api/comments.php", fault);
    const auto out =
        runTask(client().request<EmptyReply>("GET", "/api/comments.php?page_id=1", std::nullopt, "t"));
    const auto e = out.apiError();
    QVERIFY(e);
    QCOMPARE(int(e->kind()), int(APIError::Kind::Http));
    QCOMPARE(e->status(), status);
    QCOMPARE(e->body().has_value(), hasText);
    QCOMPARE(e->errorDescription(), message);
}

void TestRequest::closedPortIsNetwork()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    m_client = std::make_unique<APIClient>(QStringLiteral("http://127.0.0.1:%1").arg(port), m_network);
    const auto out = runTask(client().request<EmptyReply>("GET", "/api/workspaces.php", std::nullopt, "t"));
    const auto e = out.apiError();
    QVERIFY(e);
    QCOMPARE(int(e->kind()), int(APIError::Kind::Network));
    QCOMPARE(e->networkError(), QNetworkReply::ConnectionRefusedError);
    QVERIFY(!e->errorDescription().isEmpty());
}

void TestRequest::droppedConnectionIsNetwork()
{
    m_fake.setFault("/api/sync.php", FakeService::Fault::drop());
    const auto out = postSync(client());
    const auto e = out.apiError();
    QVERIFY(e);
    QCOMPARE(int(e->kind()), int(APIError::Kind::Network));
}

void TestRequest::timeoutIsNetwork()
{
    client().setTimeouts(std::chrono::milliseconds(200), std::chrono::milliseconds(400));
    m_fake.setFault("/api/sync.php", FakeService::Fault::delay(3000));
    const auto out = postSync(client());
    const auto e = out.apiError();
    QVERIFY(e);
    QCOMPARE(int(e->kind()), int(APIError::Kind::Network));
    QCOMPARE(e->networkError(), QNetworkReply::TimeoutError);
    QCOMPARE(e->errorDescription(), QStringLiteral("The request timed out."));
}

void TestRequest::cancelAbortsInFlight()
{
    m_fake.setFault("/api/sync.php", FakeService::Fault::delay(5000));
    CancelToken cancel;
    QTimer::singleShot(100, &cancel, &CancelToken::cancel);
    QElapsedTimer clock;
    clock.start();
    const auto out = postSync(client(), &cancel);
    const auto e = out.apiError();
    QVERIFY(e);
    QCOMPARE(e->networkError(), QNetworkReply::OperationCanceledError);
    QVERIFY(clock.elapsed() < 4000);

    // Once cancelled, later calls with the same token give way at once until it is reset.
    const auto again = postSync(client(), &cancel);
    QCOMPARE(again.apiError()->networkError(), QNetworkReply::OperationCanceledError);
    cancel.reset();
    m_fake.clearFaults();
    m_fake.setFault("/api/sync.php", FakeService::Fault::http(200, "{}"));
    QVERIFY(postSync(client(), &cancel).ok());
}

// A hundredth of the real limits: 30 s of silence, 60 s in all.
void TestRequest::clientGoingAwayEndsItsExchanges()
{
    m_fake.setFault("/api/sync.php", FakeService::Fault::delay(5000));
    auto task = client().request<EmptyReply>("POST", "/api/sync.php", JSONObject{}, "t");
    QTRY_COMPARE(m_fake.requestsTo("/api/sync.php").size(), 1);
    m_client.reset();
    const auto out = runTask(std::move(task), 1000);
    QVERIFY(out.finished);
    const auto e = out.apiError();
    QVERIFY(e);
    QCOMPARE(e->networkError(), QNetworkReply::OperationCanceledError);
}

void TestRequest::requestsKeepTheirLimits_data()
{
    QTest::addColumn<FakeService::Fault>("fault");
    QTest::addColumn<bool>("succeeds");
    QTest::newRow("answer after 10 s") << answered(100) << true;
    QTest::newRow("reply streaming for 50 s") << answered(0, 6, 100) << true;
    QTest::newRow("35 s of silence") << answered(350) << false;
    QTest::newRow("reply streaming for 70 s") << answered(0, 8, 100) << false;
}

void TestRequest::requestsKeepTheirLimits()
{
    QFETCH(FakeService::Fault, fault);
    QFETCH(bool, succeeds);
    client().setTimeouts(std::chrono::milliseconds(300), std::chrono::milliseconds(600));
    m_fake.setFault("/api/sync.php", fault);
    const auto out = postSync(client());
    QVERIFY(out.finished);
    if (succeeds) {
        QVERIFY2(out.ok(), qPrintable(out.errorText()));
        return;
    }
    const auto e = out.apiError();
    QVERIFY(e);
    QCOMPARE(e->networkError(), QNetworkReply::TimeoutError);
}

void TestRequest::redirectsStayWithTheService_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("location"); // with the ports of the service and of the other server
    QTest::addColumn<bool>("followed");
    QTest::newRow("same origin") << "GET" << 302 << "http://127.0.0.1:{service}/api/moved-here.php" << true;
    QTest::newRow("same origin, relative") << "GET" << 307 << "/api/moved-here.php" << true;
    QTest::newRow("other port") << "GET" << 302 << "http://127.0.0.1:{other}/api/moved-here.php" << false;
    QTest::newRow("other host") << "POST" << 307 << "http://localhost:{service}/api/moved-here.php" << false;
    QTest::newRow("other scheme") << "GET" << 301 << "https://127.0.0.1:{service}/api/moved-here.php"
                                  << false;
}

void TestRequest::redirectsStayWithTheService()
{
    QFETCH(QString, method);
    QFETCH(int, status);
    QFETCH(QString, location);
    QFETCH(bool, followed);
    m_redirectStatus = status;
    m_location = location.replace(QStringLiteral("{service}"), QString::number(m_fake.port()))
                     .replace(QStringLiteral("{other}"), QString::number(m_elsewhere.port()))
                     .toUtf8();
    m_elsewhereRequests = 0;

    std::optional<AnyEncodable> body;
    if (method == QLatin1String("POST"))
        body = JSONObject{{"title", JSONValue(QStringLiteral("Kept"))}};
    const auto out = runTask(client().request<EmptyReply>(method, MovedPath, body, "t"));
    QVERIFY(out.finished);
    const QList<HttpRequest> arrived = m_fake.requestsTo(MovedHerePath);
    if (followed) {
        QVERIFY2(out.ok(), qPrintable(out.errorText()));
        QCOMPARE(arrived.size(), 1);
        QCOMPARE(headerOf(arrived.first(), "Authorization"), QByteArray("Bearer t"));
        QCOMPARE(arrived.first().method, method.toLatin1());
        QCOMPARE(arrived.first().body, m_fake.requestsTo(MovedPath).first().body);
        return;
    }
    const auto e = out.apiError();
    QVERIFY(e);
    QCOMPARE(int(e->kind()), int(APIError::Kind::Network));
    QCOMPARE(e->errorDescription(),
             QStringLiteral("The service sent the request to another address; it was not followed."));
    QCOMPARE(arrived.size(), 0);
    QCOMPARE(m_elsewhereRequests, 0);
}

// A hundredth of the real limit: a request waits up to 60 s for the network.
void TestRequest::offlineRequestWaitsForTheNetwork_data()
{
    QTest::addColumn<int>("networkBackAfterMs"); // -1: never
    QTest::addColumn<int>("cancelAfterMs");      // -1: never
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::newRow("network back within the limit") << 250 << -1 << QNetworkReply::NoError;
    QTest::newRow("network stays away") << -1 << -1 << QNetworkReply::TimeoutError;
    QTest::newRow("cancelled while waiting") << -1 << 100 << QNetworkReply::OperationCanceledError;
}

void TestRequest::offlineRequestWaitsForTheNetwork()
{
    QFETCH(int, networkBackAfterMs);
    QFETCH(int, cancelAfterMs);
    QFETCH(QNetworkReply::NetworkError, error);
    client().setTimeouts(std::chrono::milliseconds(300), std::chrono::milliseconds(600));
    Connectivity &network = m_network;
    network.report(false);
    const auto restore = qScopeGuard([&network] { network.report(true); });

    int sentWhileOffline = -1;
    if (networkBackAfterMs >= 0) {
        QTimer::singleShot(networkBackAfterMs, this, [&] {
            sentWhileOffline = int(m_fake.requests().size());
            network.report(true);
        });
    }
    CancelToken cancel;
    if (cancelAfterMs >= 0)
        QTimer::singleShot(cancelAfterMs, &cancel, &CancelToken::cancel);
    QElapsedTimer clock;
    clock.start();
    m_fake.setFault("/api/sync.php", FakeService::Fault::http(200, "{}"));
    const auto out = postSync(client(), &cancel);
    QVERIFY(out.finished);
    if (error == QNetworkReply::NoError) {
        QVERIFY2(out.ok(), qPrintable(out.errorText()));
        QCOMPARE(sentWhileOffline, 0);
        QCOMPARE(m_fake.requestsTo("/api/sync.php").size(), 1);
        return;
    }
    const auto e = out.apiError();
    QVERIFY(e);
    QCOMPARE(int(e->kind()), int(APIError::Kind::Network));
    QCOMPARE(e->networkError(), error);
    QCOMPARE(m_fake.requests().size(), 0);
    if (error == QNetworkReply::TimeoutError)
        QVERIFY2(clock.elapsed() >= 550, qPrintable(QString::number(clock.elapsed())));
}

void TestRequest::unparsablePathSendsNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("space") << "/api/pages.php?q=a b";
    QTest::newRow("bad escape") << "/api/pages.php?q=%zz";
    QTest::newRow("port overflow") << ":99999/api/pages.php";
}

void TestRequest::unparsablePathSendsNothing()
{
    QFETCH(QString, path);
    const auto out = runTask(client().request<EmptyReply>("GET", path, std::nullopt, "t"));
    const auto e = out.apiError();
    QVERIFY(e);
    QCOMPARE(int(e->kind()), int(APIError::Kind::Other));
    QCOMPARE(e->errorDescription(), QStringLiteral("Invalid URL: ") + path);
    QTest::qWait(50);
    QCOMPARE(m_fake.requests().size(), 0);
}

void TestRequest::unwritableBodySendsNothing()
{
    const JSONObject body{{"x", JSONValue(std::nan(""))}};
    const auto out = runTask(client().request<EmptyReply>("POST", "/api/ai.php", body, "t"));
    QVERIFY(out.finished && out.error);
    QVERIFY(!out.apiError()); // the encoder's own error, unchanged
    QVERIFY_THROWS_EXCEPTION(EncodeError, std::rethrow_exception(out.error));
    QTest::qWait(50);
    QCOMPARE(m_fake.requests().size(), 0);
}

void TestRequest::signUpAndLogInRoundTrip()
{
    const JSONObject signup{
        {"email", "round@example.com"}, {"password", "secret12"}, {"name", "Round"}, {"device_label", "Mac"}};
    const auto up = runTask(client().request<UserReply>("POST", "/api/auth/signup.php", signup));
    QVERIFY2(up.ok(), qPrintable(up.errorText()));
    QVERIFY(!up.value->token.isEmpty());

    const JSONObject login{{"email", "round@example.com"}, {"password", "secret12"}};
    const auto in = runTask(client().request<UserReply>("POST", "/api/auth/login.php", login));
    QVERIFY2(in.ok(), qPrintable(in.errorText()));
    QCOMPARE(in.value->id, up.value->id);
    QVERIFY(in.value->token != up.value->token);

    const auto again = runTask(client().request<UserReply>("POST", "/api/auth/signup.php", signup));
    QCOMPARE(again.apiError()->status(), 409);
}

QTEST_GUILESS_MAIN(TestRequest)
#include "tst_request.moc"
