#include "api/api_client.h"
#include "api/wire/common.h"
#include "fake-service/fake_service.h"
#include "json/json_limits.h"
#include "platform/connectivity.h"
#include "platform/diag.h"
#include "platform/settings.h"
#include "store/local_store.h"
#include "store/template_store.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kLimit = json::kMaxDepth;
constexpr int kVeryDeep = 200000;

// `levels` arrays, one inside the other, around `inner`.
QByteArray nested(int levels, const QByteArray &inner = QByteArray())
{
    return QByteArray(levels, '[') + inner + QByteArray(levels, ']');
}

// A value built in code, `levels` arrays deep.
JSONValue nestedValue(int levels)
{
    JSONValue v;
    for (int i = 0; i < levels; ++i) {
        JSONArray a;
        a.push_back(std::move(v));
        v = JSONValue(std::move(a));
    }
    return v;
}

// A pulled block on page 8; its content is `content`.
QByteArray blockOp(qint64 id, const QByteArray &content)
{
    return R"({"entity_type":"block","entity_id":)" + QByteArray::number(id) +
           R"(,"op":"upsert","payload":{"page_id":8,"type":"text","position":)" + QByteArray::number(id) +
           R"(,"content":)" + content + R"(},"server_ts":3})";
}

// A block's content with the text and an array nested so that the whole content is `levels` deep.
QByteArray deepContent(const QByteArray &text, int levels)
{
    return R"({"text":")" + text + R"(","deep":)" + nested(levels - 1) + "}";
}

const FNBlock *blockWithServerID(LocalStore &store, qint64 id)
{
    return store.blockWithServerID(id);
}

// A state file holding only cursor 77, with `extra` as one more top-level member.
QByteArray stateFile(const QByteArray &extra)
{
    return R"({"workspaces":[],"currentWorkspaceID":0,"folders":[],"pages":[],"blocks":[],"outbox":[],)"
           R"("cursorServerTs":77,"pageStatuses":{},"expandedRowIDs":[],"extra":)" +
           extra + "}";
}

const QString HugePath = QStringLiteral("/api/huge.php");

} // namespace

class TestJsonLimits : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void replyDepth_data();
    void replyDepth();
    void valueDepth_data();
    void valueDepth();
    void pullSkipsUnreadableOps_data();
    void pullSkipsUnreadableOps();
    void stateFileDepth_data();
    void stateFileDepth();
    void settingsValueDepth_data();
    void settingsValueDepth();
    void replySizeCap_data();
    void replySizeCap();

private:
    FakeService m_fake;
    FakeService::Account m_account;
    HttpResponse m_huge; // what HugePath answers
    Connectivity m_network;
    std::unique_ptr<APIClient> m_client; // a fresh one per test, at the fake
};

void TestJsonLimits::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount("limits@example.com", "secret12", "Limits");
    m_fake.routeRaw(
        "GET", HugePath, [this](const FakeService::Call &) { return m_huge; }, FakeService::Access::Public);
}

void TestJsonLimits::init()
{
    m_fake.clearFaults();
    m_client = std::make_unique<APIClient>(m_fake.origin(), m_network);
}

// Replies through the real request function: too deep is a decoding error for a 2xx body, and an
// error body too deep still gives the HTTP error with its status, only without the body's message.
void TestJsonLimits::replyDepth_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");

    const int decoding = int(APIError::Kind::Decoding);
    const int http = int(APIError::Kind::Http);
    const QString server = QStringLiteral("Server problem. Please try again.");
    const auto errorBody = [](int levels) { return R"({"error":"Nope","deep":)" + nested(levels - 1) + "}"; };

    QTest::newRow("2xx at the limit") << 200 << nested(kLimit) << true << 0 << QString();
    QTest::newRow("2xx one past") << 200 << nested(kLimit + 1) << false << decoding
                                  << "Couldn't read the server's response.";
    QTest::newRow("2xx past, inside an object")
        << 200 << "{\"ok\":true,\"x\":" + nested(kLimit) + "}" << false << decoding
        << "Couldn't read the server's response.";
    QTest::newRow("2xx very deep") << 200 << nested(kVeryDeep) << false << decoding
                                   << "Couldn't read the server's response.";
    QTest::newRow("2xx very deep, unclosed")
        << 200 << QByteArray(kVeryDeep, '[') << false << decoding << "Couldn't read the server's response.";
    QTest::newRow("500 at the limit") << 500 << errorBody(kLimit) << false << http << server + " (Nope)";
    QTest::newRow("500 one past") << 500 << errorBody(kLimit + 1) << false << http << server;
    QTest::newRow("500 very deep") << 500 << errorBody(kVeryDeep) << false << http << server;
}

void TestJsonLimits::replyDepth()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(int, kind);
    QFETCH(QString, message);
    m_fake.setFault("/api/workspaces.php", FakeService::Fault::http(status, body));
    const auto out = runTask(m_client->request<EmptyReply>("GET", "/api/workspaces.php", std::nullopt, "t"));
    QVERIFY(out.finished);
    QCOMPARE(out.ok(), ok);
    if (ok)
        return;
    const auto error = out.apiError();
    QVERIFY2(error, qPrintable(out.errorText()));
    QCOMPARE(int(error->kind()), kind);
    if (error->kind() == APIError::Kind::Http)
        QCOMPARE(error->status(), status);
    QCOMPARE(error->errorDescription(), message);
}

// Block content and other whole values: read at the limit, refused past it; a value built in code
// deeper than the limit refuses to be written instead of running out of stack.
void TestJsonLimits::valueDepth_data()
{
    QTest::addColumn<int>("levels");
    QTest::addColumn<bool>("readable");

    QTest::newRow("at the limit") << kLimit << true;
    QTest::newRow("one past") << kLimit + 1 << false;
    QTest::newRow("twice the limit") << 2 * kLimit << false;
}

void TestJsonLimits::valueDepth()
{
    QFETCH(int, levels);
    QFETCH(bool, readable);

    const QByteArray content = R"({"text":"x","deep":)" + nested(levels - 1) + "}";
    bool read = true;
    try {
        QCOMPARE(parseJSONObject(content).at(QStringLiteral("text")).toString(), QStringLiteral("x"));
    } catch (const DecodeError &) {
        read = false;
    }
    QCOMPARE(read, readable);

    const JSONValue built = nestedValue(levels);
    bool written = true;
    try {
        QCOMPARE(JSONValue::parse(built.serialize()), built);
    } catch (const EncodeError &) {
        written = false;
    }
    QCOMPARE(written, readable);
}

// One op that cannot be read is left out; the others and the cursor still apply, so the same reply
// does not come back on every pull. A reply broken at the top fails whole.
void TestJsonLimits::pullSkipsUnreadableOps_data()
{
    QTest::addColumn<QByteArray>("odd"); // the op between two good blocks
    QTest::addColumn<QByteArray>("serverTs");
    QTest::addColumn<bool>("applied"); // the cycle succeeds and the good ops apply
    QTest::addColumn<bool>("oddApplied");

    // Reply, ops array, op and payload hold the content four levels down.
    const int contentAtLimit = kLimit - 4;
    QTest::newRow("content at the limit")
        << blockOp(81, deepContent("odd", contentAtLimit)) << QByteArray("9") << true << true;
    QTest::newRow("content one past")
        << blockOp(81, deepContent("odd", contentAtLimit + 1)) << QByteArray("9") << true << false;
    QTest::newRow("content 60,000 deep")
        << blockOp(81, deepContent("odd", 60000)) << QByteArray("9") << true << false;
    QTest::newRow("wrong-typed id") << QByteArray(R"({"entity_type":"block","entity_id":"81","op":"upsert",)"
                                                  R"("payload":{"page_id":8},"server_ts":3})")
                                    << QByteArray("9") << true << false;
    QTest::newRow("missing op") << QByteArray(R"({"entity_type":"block","entity_id":81,"server_ts":3})")
                                << QByteArray("9") << true << false;
    QTest::newRow("not an object") << QByteArray("[1]") << QByteArray("9") << true << false;
    QTest::newRow("cursor of the wrong kind")
        << blockOp(81, R"({"text":"odd"})") << QByteArray("\"9\"") << false << false;
}

void TestJsonLimits::pullSkipsUnreadableOps()
{
    QFETCH(QByteArray, odd);
    QFETCH(QByteArray, serverTs);
    QFETCH(bool, applied);
    QFETCH(bool, oddApplied);

    const QByteArray page = R"({"entity_type":"page","entity_id":8,"op":"create","payload":{"title":"P"},)"
                            R"("server_ts":2})";
    const QByteArray reply = R"({"ops":[)" + page + ',' + blockOp(80, R"({"text":"first"})") + ',' + odd +
                             ',' + blockOp(82, R"({"text":"last"})") + R"(],"server_ts":)" + serverTs + "}";
    auto fault = FakeService::Fault::http(200, reply);
    fault.remaining = 1;
    m_fake.setFault("/api/sync.php", fault);

    TestDevice device(m_fake.origin(), m_account.token);
    DiagCapture diag;
    QCOMPARE(device.sync(), applied);

    LocalStore &store = device.store();
    QCOMPARE(store.state().cursorServerTs, qint64(applied ? 9 : 0));
    QCOMPARE(device.pageWithServerID(8) != nullptr, applied);
    for (const auto &[id, text] : {std::pair{80, "first"}, std::pair{82, "last"}}) {
        const FNBlock *b = blockWithServerID(store, id);
        QCOMPARE(b != nullptr, applied);
        if (b)
            QCOMPARE(TestDevice::textOf(*b), QString::fromLatin1(text));
    }
    const FNBlock *b = blockWithServerID(store, 81);
    QCOMPARE(b != nullptr, oddApplied);
    if (b)
        QCOMPARE(TestDevice::textOf(*b), QStringLiteral("odd"));
    const bool skipped = applied && !oddApplied;
    QCOMPARE(diag.lines().filter(QStringLiteral("skipped unreadable op 2")).size(), skipped ? 1 : 0);
}

// "state.json" nested too deep is set aside like any unreadable file; the store starts empty.
void TestJsonLimits::stateFileDepth_data()
{
    QTest::addColumn<QByteArray>("extra");
    QTest::addColumn<bool>("loaded");

    // The top-level object holds the extra member one level down.
    QTest::newRow("at the limit") << nested(kLimit - 1) << true;
    QTest::newRow("one past") << nested(kLimit) << false;
    QTest::newRow("very deep") << nested(kVeryDeep) << false;
}

void TestJsonLimits::stateFileDepth()
{
    QFETCH(QByteArray, extra);
    QFETCH(bool, loaded);

    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("state.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(stateFile(extra));
    file.close();

    DiagCapture diag;
    LocalStore store(dir.path());
    QCOMPARE(store.state().cursorServerTs, qint64(loaded ? 77 : 0));
    QCOMPARE(QFile::exists(path), loaded);
    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("state.json.unreadable-*")});
    QCOMPARE(aside.size(), loaded ? 0 : 1);
    if (!loaded) {
        QFile kept(QDir(dir.path()).filePath(aside.first()));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), stateFile(extra));
    }
}

// A settings value nested too deep reads as unreadable: the getters give nothing and the stored
// templates are kept aside rather than lost.
void TestJsonLimits::settingsValueDepth_data()
{
    QTest::addColumn<int>("levels");
    QTest::addColumn<bool>("loaded");

    // List, template, then the extra member's arrays.
    QTest::newRow("at the limit") << kLimit - 2 << true;
    QTest::newRow("one past") << kLimit - 1 << false;
    QTest::newRow("very deep") << kVeryDeep << false;
}

void TestJsonLimits::settingsValueDepth()
{
    QFETCH(int, levels);
    QFETCH(bool, loaded);

    const auto settings = Settings::temporary();
    const QByteArray templates =
        R"([{"id":"t1","name":"N","title":"T","icon":"","blocks":[],"extra":)" + nested(levels) + "}]";
    const QString key = QStringLiteral("pn.templates");
    settings->setJSONText(key, templates);
    QVERIFY(!settings->string(key));
    QVERIFY(!settings->integer(key));
    QVERIFY(!settings->boolean(key));

    DiagCapture diag;
    TemplateStore store(*settings);
    QCOMPARE(store.templates().size(), size_t(loaded ? 1 : 0));
    QCOMPARE(settings->jsonText(QStringLiteral("pn.templates.unreadable")).has_value(), !loaded);
}

// A reply over the cap is refused as a network error: at once by its declared length, or by counting
// a chunked body as it comes. Both bodies trickle in far slower than the time allowed, so only a
// refusal before the end finishes in time.
void TestJsonLimits::replySizeCap_data()
{
    QTest::addColumn<qint64>("cap");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("chunked");
    QTest::addColumn<int>("pieces");
    QTest::addColumn<bool>("ok");

    constexpr int kSlowPieces = 200; // 40 ms apart: eight seconds for the whole body
    QTest::newRow("length at the cap") << qint64(4096) << 4096 << false << 0 << true;
    QTest::newRow("length one past") << qint64(4096) << 4097 << false << 0 << false;
    QTest::newRow("length past, refused before the body")
        << qint64(150000) << 200000 << false << kSlowPieces << false;
    QTest::newRow("chunked at the cap") << qint64(4096) << 4096 << true << 0 << true;
    QTest::newRow("chunked one past") << qint64(4096) << 4097 << true << 0 << false;
    QTest::newRow("chunked past, refused as it comes")
        << qint64(4096) << 200000 << true << kSlowPieces << false;
}

void TestJsonLimits::replySizeCap()
{
    QFETCH(qint64, cap);
    QFETCH(int, size);
    QFETCH(bool, chunked);
    QFETCH(int, pieces);
    QFETCH(bool, ok);

    m_client->setMaxReplyBytes(cap);
    // A JSON string padded to exactly `size` bytes.
    m_huge = HttpResponse::json(200, '"' + QByteArray(size - 2, 'x') + '"');
    m_huge.chunked = chunked;
    m_huge.streamPieces = pieces;
    m_huge.streamIntervalMs = 40;

    const auto out =
        runTask(m_client->request<EmptyReply>("GET", HugePath, std::nullopt, std::nullopt), 2500);
    QVERIFY2(out.finished, "the reply was read to its end");
    QCOMPARE(out.ok(), ok);
    if (ok)
        return;
    const auto error = out.apiError();
    QVERIFY2(error, qPrintable(out.errorText()));
    QCOMPARE(error->kind(), APIError::Kind::Network);
    QCOMPARE(error->errorDescription(),
             QStringLiteral("The service's reply was too large, so it was not read."));
}

QTEST_GUILESS_MAIN(TestJsonLimits)
#include "tst_json_limits.moc"
