#include "json/json_coder.h"
#include "json/json_value.h"

#include <QTest>
#include <QTimeZone>

#include <cmath>
#include <limits>

using Kind = JSONValue::Kind;

class TestJsonValue : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readsEachKind_data();
    void readsEachKind();
    void nestedArrayKeepsKinds();
    void nullMemberStaysInObject();
    void malformedTextFails_data();
    void malformedTextFails();
    void numbersReadExactOrRefused_data();
    void numbersReadExactOrRefused();
    void wholeDoubleWritesAsIntAndReadsBackAsInt();
    void writesShortestRoundTrip_data();
    void writesShortestRoundTrip();
    void refusesNonFiniteDoubles_data();
    void refusesNonFiniteDoubles();
    void equalityNeverCrossesKinds_data();
    void equalityNeverCrossesKinds();
    void reorderedObjectsEqualAndHashAlike();
    void signedZeroesEqualAndHashAlike();
    void copiesAreIndependent();
    void fieldReadersApplyTheIntegerRule_data();
    void fieldReadersApplyTheIntegerRule();
    void datesRoundTripToTheSecond();
    void datesReadOnlyWhenTheyWriteBack_data();
    void datesReadOnlyWhenTheyWriteBack();
    void fastDateTextMatchesQt_data();
    void fastDateTextMatchesQt();
};

void TestJsonValue::readsEachKind_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("true") << QByteArray("true") << int(Kind::Bool) << QByteArray("true");
    QTest::newRow("false") << QByteArray("false") << int(Kind::Bool) << QByteArray("false");
    QTest::newRow("one is int, not bool") << QByteArray("1") << int(Kind::Int) << QByteArray("1");
    QTest::newRow("zero is int") << QByteArray("0") << int(Kind::Int) << QByteArray("0");
    QTest::newRow("1.5") << QByteArray("1.5") << int(Kind::Double) << QByteArray("1.5");
    QTest::newRow("string digit") << QByteArray("\"1\"") << int(Kind::String) << QByteArray("\"1\"");
    QTest::newRow("1.0 is whole") << QByteArray("1.0") << int(Kind::Int) << QByteArray("1");
    QTest::newRow("1e3 is whole") << QByteArray("1e3") << int(Kind::Int) << QByteArray("1000");
    QTest::newRow("2.5e0") << QByteArray("2.5e0") << int(Kind::Double) << QByteArray("2.5");
    QTest::newRow("-0.0 whole") << QByteArray("-0.0") << int(Kind::Int) << QByteArray("0");
    QTest::newRow("int64 max") << QByteArray("9223372036854775807") << int(Kind::Int)
                               << QByteArray("9223372036854775807");
    QTest::newRow("int64 min") << QByteArray("-9223372036854775808") << int(Kind::Int)
                               << QByteArray("-9223372036854775808");
    QTest::newRow("int64 max + 1") << QByteArray("9223372036854775808") << int(Kind::Double)
                                   << QByteArray("9223372036854776000.0");
    QTest::newRow("uint64 max") << QByteArray("18446744073709551615") << int(Kind::Double)
                                << QByteArray("18446744073709553000.0");
    QTest::newRow("null") << QByteArray("null") << int(Kind::Null) << QByteArray("null");
    QTest::newRow("empty array") << QByteArray("[]") << int(Kind::Array) << QByteArray("[]");
    QTest::newRow("empty object") << QByteArray(" {} ") << int(Kind::Object) << QByteArray("{}");
    QTest::newRow("unicode escape") << QByteArray("\"caf\\u00e9 \\ud83d\\ude00\"") << int(Kind::String)
                                    << QByteArray("\"café 😀\"");
}

void TestJsonValue::readsEachKind()
{
    QFETCH(QByteArray, json);
    QFETCH(int, kind);
    QFETCH(QByteArray, written);
    const JSONValue v = JSONValue::parse(json);
    QCOMPARE(int(v.kind()), kind);
    QCOMPARE(v.serialize(), written);
}

void TestJsonValue::nestedArrayKeepsKinds()
{
    const JSONValue v = JSONValue::parse(R"([1, "a", null, [true]])");
    QVERIFY(v.isArray());
    const auto &a = v.toArray();
    QCOMPARE(a.size(), size_t(4));
    QVERIFY(a[0].isInt());
    QVERIFY(a[1].isString());
    QVERIFY(a[2].isNull());
    QVERIFY(a[3].isArray());
    QVERIFY(a[3].toArray().at(0).isBool());
    QCOMPARE(v, JSONValue(JSONArray{1, "a", nullptr, JSONArray{true}}));
}

void TestJsonValue::nullMemberStaysInObject()
{
    const JSONObject o = parseJSONObject(R"({"a": null, "b": 2})");
    QCOMPARE(o.size(), size_t(2));
    QVERIFY(o.at("a").isNull());
    QCOMPARE(serializeJSONObject(o), QByteArray(R"({"a":null,"b":2})"));
}

void TestJsonValue::malformedTextFails_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("trailing garbage") << QByteArray("{} x");
    QTest::newRow("unquoted key") << QByteArray("{a:1}");
    QTest::newRow("NaN literal") << QByteArray("NaN");
    QTest::newRow("invalid utf-8 in string") << QByteArray("\"\xff\xfe\"");
    QTest::newRow("number too big") << QByteArray("1e400");
}

void TestJsonValue::malformedTextFails()
{
    QFETCH(QByteArray, json);
    QVERIFY_THROWS_EXCEPTION(DecodeError, JSONValue::parse(json));
}

// Each number sits in an array and an object too, where a reply or a saved state carries it.
void TestJsonValue::numbersReadExactOrRefused_data()
{
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QByteArray>("written"); // empty: refused at reading

    const QByteArray digits88 = QByteArray("1234567890").repeated(8) + "12345678";
    QTest::newRow("348 zeros after the point, then 1")
        << "0." + QByteArray(348, '0') + "1" << QByteArray("0");
    QTest::newRow("0e39") << QByteArray("0e39") << QByteArray("0");
    QTest::newRow("21 digits after the point")
        << QByteArray("0.184467440737095516159") << QByteArray("0.1844674407370955");
    QTest::newRow("88-digit fraction e308")
        << "0." + digits88 + "e308" << QByteArray("1.2345678901234568e307");
    QTest::newRow("88-digit mantissa e308") << digits88 + "e308" << QByteArray();
    QTest::newRow("2e308") << QByteArray("2e308") << QByteArray();
    QTest::newRow("-2e308") << QByteArray("-2e308") << QByteArray();
    QTest::newRow("21 whole digits e300") << "1" + QByteArray(20, '0') + ".5e300" << QByteArray();
    QTest::newRow("largest double") << QByteArray("1.7976931348623157e308")
                                    << QByteArray("1.7976931348623157e308");
    QTest::newRow("smallest double") << QByteArray("4.9e-324") << QByteArray("5e-324");
    QTest::newRow("below the smallest double") << QByteArray("1e-400") << QByteArray("0");
    QTest::newRow("below it, negative") << QByteArray("-9900e-330") << QByteArray("0");
    QTest::newRow("below it, digits after the first") << QByteArray("0.00102e-330") << QByteArray("0");
    QTest::newRow("below even a long double") << QByteArray("1e-99999") << QByteArray("0");
    QTest::newRow("past a double after 600 zeros") << "0." + QByteArray(600, '0') + "2e909" << QByteArray();
    QTest::newRow("2^53 + 1 stays exact") << QByteArray("9007199254740993") << QByteArray("9007199254740993");
    QTest::newRow("-(2^53 + 1) stays exact")
        << QByteArray("-9007199254740993") << QByteArray("-9007199254740993");
}

void TestJsonValue::numbersReadExactOrRefused()
{
    QFETCH(QByteArray, number);
    QFETCH(QByteArray, written);
    const auto placings = {+[](const QByteArray &n) { return n; },
                           +[](const QByteArray &n) { return "[1," + n + "]"; },
                           +[](const QByteArray &n) { return R"({"a":)" + n + "}"; }};
    for (const auto place : placings) {
        if (written.isEmpty()) {
            try {
                JSONValue::parse(place(number));
                QFAIL("read a number no double holds");
            } catch (const DecodeError &e) {
                QVERIFY2(e.message().contains(QLatin1String("Malformed JSON at offset ")) &&
                             e.message().contains(QLatin1String("Number too big")),
                         qPrintable(e.message()));
            }
        } else {
            QCOMPARE(JSONValue::parse(place(number)), JSONValue::parse(place(written)));
            QCOMPARE(JSONValue::parse(place(number)).serialize(), place(written));
        }
    }
}

void TestJsonValue::wholeDoubleWritesAsIntAndReadsBackAsInt()
{
    const JSONValue written(2.0);
    QCOMPARE(written.serialize(), QByteArray("2"));
    const JSONValue back = JSONValue::parse(written.serialize());
    QVERIFY(back.isInt());
    QVERIFY(back != written); // int 2 is not double 2.0
}

void TestJsonValue::writesShortestRoundTrip_data()
{
    QTest::addColumn<double>("value");
    QTest::newRow("0.1") << 0.1;
    QTest::newRow("1/3") << 1.0 / 3.0;
    QTest::newRow("tiny") << 5e-324;
    QTest::newRow("huge") << 1.7976931348623157e308;
    QTest::newRow("negative fraction") << -123.456;
}

void TestJsonValue::writesShortestRoundTrip()
{
    QFETCH(double, value);
    const JSONValue back = JSONValue::parse(JSONValue(value).serialize());
    QVERIFY(back.isDouble());
    QCOMPARE(back.toDouble(), value);
}

void TestJsonValue::refusesNonFiniteDoubles_data()
{
    QTest::addColumn<double>("value");
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("+inf") << std::numeric_limits<double>::infinity();
    QTest::newRow("-inf") << -std::numeric_limits<double>::infinity();
}

void TestJsonValue::refusesNonFiniteDoubles()
{
    QFETCH(double, value);
    QVERIFY_THROWS_EXCEPTION(EncodeError, JSONValue(value).serialize());
    // Nested too: nothing is written as null.
    const JSONObject o{{"x", JSONValue(value)}};
    QVERIFY_THROWS_EXCEPTION(EncodeError, serializeJSONObject(o));
}

void TestJsonValue::equalityNeverCrossesKinds_data()
{
    QTest::addColumn<JSONValue>("a");
    QTest::addColumn<JSONValue>("b");
    QTest::addColumn<bool>("equal");
    QTest::newRow("int 1 vs double 1.0") << JSONValue(1) << JSONValue(1.0) << false;
    QTest::newRow("bool true vs int 1") << JSONValue(true) << JSONValue(1) << false;
    QTest::newRow("string 1 vs int 1") << JSONValue("1") << JSONValue(1) << false;
    QTest::newRow("null vs null") << JSONValue() << JSONValue(nullptr) << true;
    QTest::newRow("NaN vs NaN") << JSONValue(std::nan("")) << JSONValue(std::nan("")) << false;
    QTest::newRow("composed vs decomposed é")
        << JSONValue(QStringLiteral("\u00e9")) << JSONValue(QStringLiteral("e\u0301")) << true;
    QTest::newRow("array order matters") << JSONValue(JSONArray{1, 2}) << JSONValue(JSONArray{2, 1}) << false;
    QTest::newRow("array length") << JSONValue(JSONArray{1}) << JSONValue(JSONArray{1, 1}) << false;
    QTest::newRow("object missing key")
        << JSONValue(JSONObject{{"a", 1}}) << JSONValue(JSONObject{{"a", 1}, {"b", nullptr}}) << false;
}

void TestJsonValue::equalityNeverCrossesKinds()
{
    QFETCH(JSONValue, a);
    QFETCH(JSONValue, b);
    QFETCH(bool, equal);
    QCOMPARE(a == b, equal);
    QCOMPARE(b == a, equal);
    if (equal)
        QCOMPARE(qHash(a), qHash(b));
}

void TestJsonValue::reorderedObjectsEqualAndHashAlike()
{
    const JSONValue a = JSONValue::parse(R"({"x": 1, "y": [true, {"k": "v"}], "z": null})");
    const JSONValue b = JSONValue::parse(R"({"z": null, "y": [true, {"k": "v"}], "x": 1})");
    QCOMPARE(a, b);
    QCOMPARE(qHash(a), qHash(b));
    QCOMPARE(qHash(a, 7), qHash(b, 7));
    const JSONValue c = JSONValue::parse(R"({"x": 2, "y": [true, {"k": "v"}], "z": null})");
    QVERIFY(a != c);
}

void TestJsonValue::signedZeroesEqualAndHashAlike()
{
    const JSONValue pos(0.0), neg(-0.0);
    QCOMPARE(pos, neg);
    QCOMPARE(qHash(pos), qHash(neg));
}

void TestJsonValue::copiesAreIndependent()
{
    JSONObject o{{"list", JSONArray{1, 2}}};
    const JSONValue original(o);
    o["list"] = JSONArray{3};
    QCOMPARE(original["list"].toArray().size(), size_t(2));
}

void TestJsonValue::fieldReadersApplyTheIntegerRule_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("value");
    QTest::newRow("1") << QByteArray(R"({"n":1})") << true << qint64(1);
    QTest::newRow("1.0") << QByteArray(R"({"n":1.0})") << true << qint64(1);
    QTest::newRow("1e3") << QByteArray(R"({"n":1e3})") << true << qint64(1000);
    QTest::newRow("1.5") << QByteArray(R"({"n":1.5})") << false << qint64(0);
    QTest::newRow("string") << QByteArray(R"({"n":"1"})") << false << qint64(0);
    QTest::newRow("bool") << QByteArray(R"({"n":true})") << false << qint64(0);
    QTest::newRow("too big") << QByteArray(R"({"n":9223372036854775808})") << false << qint64(0);
    QTest::newRow("null") << QByteArray(R"({"n":null})") << false << qint64(0);
    QTest::newRow("missing") << QByteArray(R"({})") << false << qint64(0);
}

void TestJsonValue::fieldReadersApplyTheIntegerRule()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, ok);
    QFETCH(qint64, value);
    rapidjson::Document doc;
    json::parseDocument(doc, json);
    if (ok) {
        QCOMPARE(json::field<qint64>(doc, "n"), value);
    } else {
        QVERIFY_THROWS_EXCEPTION(DecodeError, json::field<qint64>(doc, "n"));
        // Null and missing read as absent for an optional field; a wrong kind still fails.
        const bool absent = json.contains("null") || json == "{}";
        if (absent)
            QVERIFY(!json::optField<qint64>(doc, "n").has_value());
        else
            QVERIFY_THROWS_EXCEPTION(DecodeError, json::optField<qint64>(doc, "n"));
    }
}

void TestJsonValue::datesRoundTripToTheSecond()
{
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1714555800123, Qt::UTC);
    const QByteArray text = sharedJSONEncode(when);
    QCOMPARE(text, QByteArray("\"2024-05-01T09:30:00Z\""));
    const QDateTime back = sharedJSONDecode<QDateTime>(text);
    QCOMPARE(back, when.addMSecs(-123));
    QCOMPARE(back.timeSpec(), Qt::UTC);
    // Another zone is moved to UTC.
    QCOMPARE(sharedJSONDecode<QDateTime>("\"2024-05-01T11:30:00+02:00\""), back);
}

// A date whose UTC form leaves years 1-9999 would be written as text no reader takes back.
void TestJsonValue::datesReadOnlyWhenTheyWriteBack_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("utc"); // empty: refused

    QTest::newRow("offset carries past 9999") << "9999-12-31T20:00:00-04:00" << QString();
    QTest::newRow("offset carries before year 1") << "0001-01-01T00:30:00+01:00" << QString();
    QTest::newRow("last second of 9999") << "9999-12-31T23:59:59Z"
                                         << "9999-12-31T23:59:59Z";
    QTest::newRow("offset stays inside 9999") << "9999-12-31T23:59:59+01:00"
                                              << "9999-12-31T22:59:59Z";
    QTest::newRow("first second of year 1") << "0001-01-01T00:00:00Z"
                                            << "0001-01-01T00:00:00Z";
    QTest::newRow("offset stays inside year 1") << "0001-01-01T00:30:00-01:00"
                                                << "0001-01-01T01:30:00Z";
}

void TestJsonValue::datesReadOnlyWhenTheyWriteBack()
{
    QFETCH(QString, text);
    QFETCH(QString, utc);
    const QByteArray json = '"' + text.toLatin1() + '"';
    if (utc.isEmpty()) {
        QVERIFY(!json::parseDate(text));
        QVERIFY_THROWS_EXCEPTION(DecodeError, sharedJSONDecode<QDateTime>(json));
        return;
    }
    const QDateTime read = sharedJSONDecode<QDateTime>(json);
    QCOMPARE(sharedJSONEncode(read), '"' + utc.toLatin1() + '"');
    QCOMPARE(sharedJSONDecode<QDateTime>(sharedJSONEncode(read)), read);
}

void TestJsonValue::fastDateTextMatchesQt_data()
{
    QTest::addColumn<qint64>("secs");
    QTest::newRow("epoch") << qint64(0);
    QTest::newRow("before epoch") << qint64(-1);
    QTest::newRow("leap day 2024")
        << QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59), Qt::UTC).toSecsSinceEpoch();
    QTest::newRow("2000-03-01") << QDateTime(QDate(2000, 3, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    QTest::newRow("1900-02-28") << QDateTime(QDate(1900, 2, 28), QTime(12, 0), Qt::UTC).toSecsSinceEpoch();
    QTest::newRow("year 1") << QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    QTest::newRow("9999-12-31")
        << QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC).toSecsSinceEpoch();
}

void TestJsonValue::fastDateTextMatchesQt()
{
    QFETCH(qint64, secs);
    // Every day of a span of years around the start, at an odd second, as well as the row.
    for (qint64 s = secs - 400 * 86400; s <= secs + 400 * 86400; s += 86400 + 7) {
        const QDateTime d = QDateTime::fromSecsSinceEpoch(s, Qt::UTC);
        if (d.date().year() < 1 || d.date().year() > 9999)
            continue;
        QCOMPARE(json::formatDate(d), d.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'")));
    }
    // A local time writes as its UTC instant.
    const QDateTime local = QDateTime::fromSecsSinceEpoch(secs, Qt::OffsetFromUTC, 3600 * 5);
    QCOMPARE(
        json::formatDate(local),
        QDateTime::fromSecsSinceEpoch(secs, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'")));
}

QTEST_GUILESS_MAIN(TestJsonValue)
#include "tst_json_value.moc"
