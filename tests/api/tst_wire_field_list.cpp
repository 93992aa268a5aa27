#include "api/wire/auth.h"
#include "api/wire/blocks.h"
#include "api/wire/collab.h"
#include "api/wire/databases.h"
#include "api/wire/folders.h"
#include "api/wire/library.h"
#include "api/wire/pages.h"
#include "api/wire/sync.h"
#include "json/json_coder.h"
#include "platform/diag.h"

#include <QHash>
#include <QTest>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <functional>

// Reading, writing, equality and hashing derived from each wire type's field list, checked key by key
// against full replies written by hand in the order the service and the outbox expect.
namespace {

struct WireType {
    std::function<QByteArray(const QByteArray &)> reencode; // throws DecodeError
    std::function<bool(const QByteArray &)> sameValueAfterRoundTrip;
    QList<QByteArray> keys; // from the field list, in order
};

template <typename T>
WireType wireType()
{
    WireType t;
    t.reencode = [](const QByteArray &json) { return sharedJSONEncode(sharedJSONDecode<T>(json)); };
    t.sameValueAfterRoundTrip = [](const QByteArray &json) {
        const T value = sharedJSONDecode<T>(json);
        const T back = sharedJSONDecode<T>(sharedJSONEncode(value));
        return back == value && qHash(back) == qHash(value);
    };
    std::apply([&](const auto &...f) { (t.keys.append(QByteArray(f.key)), ...); }, T::kFields);
    return t;
}

struct Sample {
    const char *type;
    WireType wire;
    QByteArray json; // every field present, compact, in field order
    QList<QByteArray> required;
};

const QList<Sample> &samples()
{
    static const QList<Sample> all = {
        {"PageDTO",
         wireType<PageDTO>(),
         R"({"id":1,"workspace_id":2,"parent_page_id":3,"folder_id":4,"title":"T","icon":"📄","position":5,)"
         R"("cover_url":"https://x/c.png","cover_offset_x":50,"cover_offset_y":40,"created_by_user_id":9,)"
         R"("created_at":"c","updated_at":"u"})",
         {"id", "workspace_id", "title", "position"}},
        {"PagePatchReq",
         wireType<PagePatchReq>(),
         R"({"page_id":9,"title":"T","icon":"i","position":1,"parent_page_id":2,"cover_url":"",)"
         R"("cover_offset_x":50,"cover_offset_y":0})",
         {"page_id"}},
        {"AuthResp",
         wireType<AuthResp>(),
         R"({"token":"t","user":{"id":1,"name":"Ann","email":"a@x.io"},)"
         R"("workspace_id":3})",
         {"token", "user"}},
        {"FolderDTO",
         wireType<FolderDTO>(),
         R"({"id":1,"workspace_id":2,"parent_folder_id":3,"name":"F","icon":"📁","position":0,"created_at":"c",)"
         R"("updated_at":"u"})",
         {"id", "workspace_id", "name", "position"}},
        {"BlockUpsertItem",
         wireType<BlockUpsertItem>(),
         R"({"client_id":"L1","id":44,"type":"todo","content":{"checked":true,"items":[1,"a",null]},)"
         R"("position":2,"parent_block_id":40})",
         {"client_id", "type", "content", "position"}},
        {"BlocksUpsertReq",
         wireType<BlocksUpsertReq>(),
         R"({"page_id":3,"blocks":[{"client_id":"L1","type":"text","content":{},"position":0}]})",
         {"page_id", "blocks"}},
        {"SyncOpDTO",
         wireType<SyncOpDTO>(),
         R"({"entity_type":"block","entity_id":8,"op":"update","payload":{"text":"x"},"server_ts":4})",
         {"entity_type", "entity_id", "op", "server_ts"}},
        {"SyncResp",
         wireType<SyncResp>(),
         R"({"ops":[{"entity_type":"page","entity_id":1,"op":"delete","server_ts":4}],"server_ts":5,)"
         R"("capped":true})",
         {"ops", "server_ts"}},
        {"PageStatusesResp",
         wireType<PageStatusesResp>(),
         R"({"statuses":{"12":{"published":true,"shared_count":3}}})",
         {"statuses"}},
        {"CommentDTO",
         wireType<CommentDTO>(),
         R"({"id":1,"page_id":2,"block_id":3,"user_id":4,"user_name":"Ann","guest_name":"G","body":"b",)"
         R"("selection_start":0,"selection_length":3,"selection_text":"abc","resolved_at":"r","created_at":"c"})",
         {"id", "page_id", "body", "created_at"}},
        {"SuggestionDTO",
         wireType<SuggestionDTO>(),
         R"({"id":1,"page_id":2,"block_id":3,"user_id":4,"user_name":"Ann","kind":"edit","payload":{"t":"x"},)"
         R"("status":"pending","created_at":"c","decided_at":"d"})",
         {"id", "page_id", "user_id", "kind", "status", "created_at"}},
        {"ShareItemDTO",
         wireType<ShareItemDTO>(),
         R"({"id":1,"shared_with_user_id":2,"email":"e@x.io","name":"N","permissions":["view","comment"],)"
         R"("role":"editor","created_at":"c"})",
         {"id", "shared_with_user_id", "email", "name", "permissions", "created_at"}},
        {"PublishResp",
         wireType<PublishResp>(),
         R"({"published":true,"slug":"s","url":"https://x/p/s","allow_comments":1,"include_subpages":0,)"
         R"("view_count":12,"has_password":false})",
         {"published"}},
        {"VersionRestoreReq",
         wireType<VersionRestoreReq>(),
         R"({"version_id":11,"restore":false})",
         {"version_id", "restore"}},
        {"DatabaseDTO",
         wireType<DatabaseDTO>(),
         R"({"id":1,"page_id":2,"name":"Tasks","columns":[{"id":"c1","name":"Status","type":"select",)"
         R"("options":["Todo","Done"]}],"rows":[{"id":5,"position":0,"data":{"c1":"Todo"}}]})",
         {"id", "page_id", "name", "columns", "rows"}},
        {"DBRowDTO",
         wireType<DBRowDTO>(),
         R"({"id":5,"database_id":1,"position":0,"data":{"c1":"Todo","c2":2.5},"linked_page_id":7,)"
         R"("created_at":"c","updated_at":"u"})",
         {"id", "position", "data"}},
        {"DBRowPatchReq",
         wireType<DBRowPatchReq>(),
         R"({"row_id":5,"data":{"c3":true},"position":2})",
         {"row_id"}},
    };
    return all;
}

const Sample &sample(const QString &type)
{
    for (const auto &s : samples()) {
        if (type == QLatin1String(s.type))
            return s;
    }
    qFatal("no sample for %s", qPrintable(type));
}

QByteArray compact(const rapidjson::Document &doc)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc.Accept(writer);
    return QByteArray(buffer.GetString(), qsizetype(buffer.GetSize()));
}

// The sample with the member `key` changed by `change`, written compactly with the order kept.
QByteArray edited(const QByteArray &json, const QByteArray &key,
                  const std::function<void(rapidjson::Document &, rapidjson::Value::MemberIterator)> &change)
{
    rapidjson::Document doc;
    doc.Parse(json.constData(), size_t(json.size()));
    Q_ASSERT(!doc.HasParseError());
    const auto it = doc.FindMember(key.constData());
    Q_ASSERT(it != doc.MemberEnd());
    change(doc, it);
    return compact(doc);
}

// A value of another JSON kind than `v`.
void replaceKind(rapidjson::Document &doc, rapidjson::Value &v)
{
    if (v.IsString())
        v.SetInt(5);
    else if (v.IsNumber())
        v.SetString("5", doc.GetAllocator());
    else if (v.IsBool())
        v.SetInt(1);
    else if (v.IsObject())
        v.SetArray();
    else
        v.SetObject();
}

const QByteArray kGoodOp = R"({"entity_type":"page","entity_id":1,"op":"delete","server_ts":4})";
const QByteArray kBadOp = R"({"entity_type":"page","entity_id":"2","op":"delete","server_ts":4})";

} // namespace

class TestWireFieldList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void samplesListEveryField();
    void eachKey_data();
    void eachKey();
    void skippedItemsAreNotedOnlyWhenTheRestReads_data();
    void skippedItemsAreNotedOnlyWhenTheRestReads();
};

// A sample that misses a field would leave that field untested below.
void TestWireFieldList::samplesListEveryField()
{
    for (const auto &s : samples()) {
        rapidjson::Document doc;
        doc.Parse(s.json.constData(), size_t(s.json.size()));
        QVERIFY2(!doc.HasParseError(), s.type);
        QList<QByteArray> keys;
        for (const auto &m : doc.GetObject())
            keys.append(QByteArray(m.name.GetString(), m.name.GetStringLength()));
        QCOMPARE(keys, s.wire.keys);
    }
}

// For every field of every sample: a required key missing, null or of another kind fails the whole value;
// an optional one missing or null reads as absent and is left out when written. What reads is written back
// byte for byte and reads back as an equal value with an equal hash.
void TestWireFieldList::eachKey_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QByteArray>("written"); // empty when the value must be refused

    for (const auto &s : samples()) {
        QTest::addRow("%s: whole", s.type) << s.type << s.json << s.json;
        for (const auto &key : s.wire.keys) {
            const bool required = s.required.contains(key);
            const QByteArray without =
                edited(s.json, key, [](rapidjson::Document &doc, auto it) { doc.EraseMember(it); });
            const QByteArray null =
                edited(s.json, key, [](rapidjson::Document &, auto it) { it->value.SetNull(); });
            const QByteArray otherKind =
                edited(s.json, key, [](rapidjson::Document &doc, auto it) { replaceKind(doc, it->value); });
            QTest::addRow("%s: without %s", s.type, key.constData())
                << s.type << without << (required ? QByteArray() : without);
            QTest::addRow("%s: %s null", s.type, key.constData())
                << s.type << null << (required ? QByteArray() : without);
            QTest::addRow("%s: %s of another kind", s.type, key.constData())
                << s.type << otherKind << QByteArray();
        }
    }
}

void TestWireFieldList::eachKey()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, written);
    const WireType &wire = sample(type).wire;
    if (written.isEmpty()) {
        QVERIFY_THROWS_EXCEPTION(DecodeError, wire.reencode(json));
        return;
    }
    try {
        QCOMPARE(wire.reencode(json), written);
        QVERIFY(wire.sameValueAfterRoundTrip(json));
    } catch (const DecodeError &e) {
        QFAIL(qPrintable(e.message()));
    }
}

// An unreadable op is left out with a note so the cursor moves on; but when the reply fails whole, no op
// was skipped, so nothing may be noted.
void TestWireFieldList::skippedItemsAreNotedOnlyWhenTheRestReads_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("opsRead"); // -1: the reply is refused
    QTest::addColumn<QString>("note");

    QTest::newRow("one unreadable op")
        << QByteArray(R"({"ops":[)" + kGoodOp + ',' + kBadOp + ',' + kGoodOp + R"(],"server_ts":5})") << 2
        << "SyncResp: skipped unreadable op 1 (";
    QTest::newRow("an op that is not an object")
        << QByteArray(R"({"ops":[7,)" + kGoodOp + R"(],"server_ts":5})") << 1
        << "SyncResp: skipped unreadable op 0 (";
    QTest::newRow("cursor missing") << QByteArray(R"({"ops":[)" + kBadOp + "]}") << -1 << QString();
    QTest::newRow("cursor of another kind")
        << QByteArray(R"({"ops":[)" + kBadOp + R"(],"server_ts":"5"})") << -1 << QString();
    QTest::newRow("capped of another kind")
        << QByteArray(R"({"ops":[)" + kBadOp + R"(],"server_ts":5,"capped":1})") << -1 << QString();
}

void TestWireFieldList::skippedItemsAreNotedOnlyWhenTheRestReads()
{
    QFETCH(QByteArray, json);
    QFETCH(int, opsRead);
    QFETCH(QString, note);
    DiagCapture diag;
    if (opsRead < 0) {
        QVERIFY_THROWS_EXCEPTION(DecodeError, sharedJSONDecode<SyncResp>(json));
        QVERIFY(!diag.contains(QStringLiteral("skipped")));
        return;
    }
    const auto reply = sharedJSONDecode<SyncResp>(json);
    QCOMPARE(int(reply.ops.size()), opsRead);
    QCOMPARE(reply.server_ts, 5);
    QCOMPARE(diag.lines().filter(QStringLiteral("skipped unreadable op")).size(), 1);
    QVERIFY2(diag.contains(note), qPrintable(diag.lines().join('\n')));
}

QTEST_GUILESS_MAIN(TestWireFieldList)
#include "tst_wire_field_list.moc"
