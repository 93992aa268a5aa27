#include "api/any_encodable.h"
#include "api/api_error.h"
#include "json/json_coder.h"

#include <QTest>

class TestAPIError : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void httpMessages_data();
    void httpMessages();
    void otherCases();
    void anyEncodableWritesTheWrappedValue();
};

void TestAPIError::httpMessages_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("hasBody");
    QTest::addColumn<QString>("message");

    const QString failed = QStringLiteral("Request failed.");
    const QString server = QStringLiteral("Server problem. Please try again.");
    const QString denied = QStringLiteral("You don't have permission to do that.");

    // The status table and its boundaries.
    QTest::newRow("400") << 400 << "" << false << "The server rejected the request.";
    QTest::newRow("401") << 401 << "" << false << "Please sign in again.";
    QTest::newRow("403") << 403 << "" << false << denied;
    QTest::newRow("404") << 404 << "" << false << "Not found.";
    QTest::newRow("409") << 409 << "" << false << "That conflicts with the current state.";
    QTest::newRow("413") << 413 << "" << false << "That's too big to upload.";
    QTest::newRow("415") << 415 << "" << false << "That file type isn't supported.";
    QTest::newRow("429") << 429 << "" << false << "Too many requests. Try again in a moment.";
    QTest::newRow("418") << 418 << "" << false << failed;
    QTest::newRow("499") << 499 << "" << false << failed;
    QTest::newRow("500") << 500 << "" << false << server;
    QTest::newRow("599") << 599 << "" << false << server;
    QTest::newRow("600") << 600 << "" << false << failed;
    QTest::newRow("negative") << -1 << "" << false << failed;
    QTest::newRow("302") << 302 << "" << false << failed;

    // The server's own text, and every shape that gives none.
    QTest::newRow("error member") << 403 << R"({"error":"t"})" << true << denied + " (t)";
    QTest::newRow("leading blank lines") << 403 << "\n\n  \t{\"error\":\"t\"}\n" << true << denied + " (t)";
    QTest::newRow("suffix on 500") << 500 << R"({"error":"db down"})" << true << server + " (db down)";
    QTest::newRow("unauthorized text") << 401 << "Unauthorized" << true << "Please sign in again.";
    QTest::newRow("401 keeps a JSON suffix") << 401 << R"({"error":"expired"})" << true
                                             << "Please sign in again. (expired)";
    QTest::newRow("error is number") << 403 << R"({"error":5})" << true << denied;
    QTest::newRow("error is null") << 403 << R"({"error":null})" << true << denied;
    QTest::newRow("error is empty") << 403 << R"({"error":""})" << true << denied;
    QTest::newRow("no error member") << 403 << R"({"message":"t"})" << true << denied;
    QTest::newRow("array") << 403 << R"(["error","t"])" << true << denied;
    QTest::newRow("plain text") << 403 << "nope" << true << denied;
    QTest::newRow("empty body") << 403 << "" << true << denied;
    QTest::newRow("whitespace body") << 403 << " \n " << true << denied;
    QTest::newRow("html page") << 500 << "<html><body>{\"error\":\"x\"}</body></html>" << true << server;
    QTest::newRow("HTML upper case inside") << 500 << R"({"error":"see <HTML> page"})" << true << server;
    QTest::newRow("doctype mixed case") << 500 << R"({"error":"<!DocType x"})" << true << server;
    QTest::newRow("starts with <") << 500 << "  <error>{}</error>" << true << server;
    QTest::newRow("bare string") << 403 << R"("t")" << true << denied;
}

void TestAPIError::httpMessages()
{
    QFETCH(int, status);
    QFETCH(QString, body);
    QFETCH(bool, hasBody);
    QFETCH(QString, message);
    const auto e = APIError::http(status, hasBody ? std::optional<QString>(body) : std::nullopt);
    QCOMPARE(e.errorDescription(), message);
    QCOMPARE(QString::fromUtf8(e.what()), message);
}

void TestAPIError::otherCases()
{
    QCOMPARE(APIError::decoding(QStringLiteral("\"id\": expected an integer")).errorDescription(),
             QStringLiteral("Couldn't read the server's response."));
    QCOMPARE(APIError::other(QStringLiteral("Bad response")).errorDescription(), QStringLiteral("Bad response"));
    QCOMPARE(APIError::noToken().errorDescription(), QStringLiteral("Not signed in."));
    QCOMPARE(APIError::network(QNetworkReply::ConnectionRefusedError, QStringLiteral("Connection refused"))
                 .errorDescription(),
             QStringLiteral("Connection refused"));
}

void TestAPIError::anyEncodableWritesTheWrappedValue()
{
    const JSONObject body{{"device", "logout"}, {"n", 3}, {"list", JSONArray{1.5, nullptr}}};
    QCOMPARE(sharedJSONEncode(AnyEncodable(body)), serializeJSONObject(body));
    QCOMPARE(sharedJSONEncode(AnyEncodable(JSONValue(true))), QByteArray("true"));
}

QTEST_GUILESS_MAIN(TestAPIError)
#include "tst_api_error.moc"
