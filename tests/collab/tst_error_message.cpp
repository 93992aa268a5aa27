#include "collab/error_message.h"
#include "json/json_limits.h"

#include <QTest>

class TestErrorMessage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void bodies_data();
    void bodies();
};

void TestErrorMessage::bodies_data()
{
    QTest::addColumn<std::optional<QString>>("body");
    QTest::addColumn<std::optional<QString>>("message");

    const auto text = [](const char *s) { return std::optional<QString>(QString::fromUtf8(s)); };
    const std::optional<QString> none;

    QTest::newRow("no body") << none << none;
    QTest::newRow("error string") << text(R"({"error":"Page not found."})") << text("Page not found.");
    QTest::newRow("kept as sent") << text(R"({"error":"  two\nlines  "})") << text("  two\nlines  ");
    QTest::newRow("empty string") << text(R"({"error":""})") << text("");
    QTest::newRow("beside other members") << text(R"({"ok":false,"error":"Nope","code":3})") << text("Nope");
    QTest::newRow("escaped unicode") << text(R"({"error":"caf\u00e9 \ud83d\ude00"})")
                                     << std::optional<QString>(QString::fromUtf8("café 😀"));
    QTest::newRow("long, not cut") << std::optional<QString>(
                                          QStringLiteral(R"({"error":"%1"})").arg(QString(300, u'x')))
                                   << std::optional<QString>(QString(300, u'x'));
    QTest::newRow("html page") << text("<html><body>502 Bad Gateway</body></html>") << none;
    QTest::newRow("Unauthorized text") << text("Unauthorized") << none;
    QTest::newRow("empty body") << text("") << none;
    QTest::newRow("top-level string") << text(R"("error")") << none;
    QTest::newRow("top-level array") << text(R"([{"error":"x"}])") << none;
    QTest::newRow("empty object") << text("{}") << none;
    QTest::newRow("other key case") << text(R"({"Error":"x"})") << none;
    QTest::newRow("null") << text(R"({"error":null})") << none;
    QTest::newRow("number") << text(R"({"error":404})") << none;
    QTest::newRow("object") << text(R"({"error":{"message":"x"}})") << none;
    QTest::newRow("truncated JSON") << text(R"({"error":"x")") << none;
    QTest::newRow("trailing garbage") << text(R"({"error":"x"} tail)") << none;
    const auto deep = [](int levels) {
        return std::optional<QString>(QStringLiteral(R"({"error":"Deep","x":%1%2})")
                                          .arg(QString(levels - 1, u'['), QString(levels - 1, u']')));
    };
    QTest::newRow("nested to the limit") << deep(json::kMaxDepth) << text("Deep");
    QTest::newRow("nested one past the limit") << deep(json::kMaxDepth + 1) << none;
    QTest::newRow("nested 200,000 deep") << deep(200000) << none;
    QTest::newRow("lone surrogate") << std::optional<QString>(QStringLiteral(R"({"error":"a)") +
                                                              QChar(0xD800) + QStringLiteral(R"("})"))
                                    << none;
}

void TestErrorMessage::bodies()
{
    QFETCH(std::optional<QString>, body);
    QFETCH(std::optional<QString>, message);
    QCOMPARE(errorMessage(body), message);
}

QTEST_MAIN(TestErrorMessage)
#include "tst_error_message.moc"
