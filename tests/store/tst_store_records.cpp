#include "json/json_coder.h"
#include "store/store_state.h"

#include <QRegularExpression>
#include <QTest>

namespace {

QDateTime at(const char *iso)
{
    return *json::parseDate(QString::fromLatin1(iso));
}

FNWorkspace workspace()
{
    return {.localID = QStringLiteral("W-1"),
            .serverID = 7,
            .name = QStringLiteral("Team"),
            .role = QStringLiteral("owner"),
            .ownerUserID = 3,
            .createdAt = at("2026-01-31T09:15:00Z")};
}

FNFolder folder()
{
    return {.localID = QStringLiteral("F-1"),
            .serverID = 11,
            .workspaceServerID = 7,
            .parentFolderServerID = 10,
            .name = QStringLiteral("Plans"),
            .icon = QStringLiteral("📁"),
            .position = 2,
            .createdAt = at("2026-01-01T00:00:00Z"),
            .updatedAt = at("2026-01-02T00:00:00Z"),
            .deletedAt = at("2026-01-03T00:00:00Z")};
}

FNPage page()
{
    return {.localID = QStringLiteral("P-1"),
            .serverID = 42,
            .workspaceServerID = 7,
            .parentPageServerID = 41,
            .folderServerID = 11,
            .title = QStringLiteral("Ünïcode \"quoted\"\n"),
            .icon = QStringLiteral("📝"),
            .position = -1,
            .coverURL = QStringLiteral("https://x.example/c.png"),
            .coverOffsetX = 50,
            .coverOffsetY = 100,
            .createdAt = at("2026-01-01T00:00:00Z"),
            .updatedAt = at("2026-01-05T12:00:01Z"),
            .deletedAt = std::nullopt};
}

FNBlock block()
{
    return {.localID = QStringLiteral("B-1"),
            .serverID = 9007199254740993,
            .pageServerID = 42,
            .pageLocalID = QStringLiteral("P-1"),
            .parentBlockServerID = 0,
            .parentBlockLocalID = QString(),
            .type = QStringLiteral("todo"),
            .contentJSON = QStringLiteral(R"({"text":"a","checked":true})"),
            .position = 3,
            .indentLevel = 1,
            .createdAt = at("2026-01-01T00:00:00Z"),
            .updatedAt = at("2026-01-01T00:00:00Z"),
            .deletedAt = std::nullopt};
}

FNSyncOp syncOp()
{
    return {.localID = QStringLiteral("O-1"),
            .entity = QStringLiteral("page"),
            .op = QStringLiteral("create"),
            .refLocalID = QStringLiteral("P-1"),
            .payloadJSON = QStringLiteral(R"({"title":"x"})"),
            .createdAt = at("2026-01-01T00:00:00Z"),
            .attempts = 2,
            .lastError = QStringLiteral("Server problem."),
            .nextRetryAt = at("2026-01-01T00:00:04Z")};
}

template <typename T>
QByteArray encode(const T &v)
{
    return sharedJSONEncode(v);
}

QByteArray withoutKey(const QByteArray &json, const QString &key)
{
    JSONObject object = parseJSONObject(json);
    object.erase(key);
    return serializeJSONObject(object);
}

QByteArray replaced(QByteArray json, const char *from, const char *to)
{
    if (!json.contains(from))
        qFatal("sample lacks %s", from);
    return json.replace(from, to);
}

// Encodes one sample of the named kind, or decodes bytes as that kind.
QByteArray sampleOf(const QString &kind)
{
    if (kind == QLatin1String("workspace"))
        return encode(workspace());
    if (kind == QLatin1String("folder"))
        return encode(folder());
    if (kind == QLatin1String("page"))
        return encode(page());
    if (kind == QLatin1String("block"))
        return encode(block());
    if (kind == QLatin1String("op"))
        return encode(syncOp());
    if (kind == QLatin1String("status"))
        return encode(FNPageStatus{.published = true, .sharedCount = 2});
    return encode(StoreState{});
}

void decodeAs(const QString &kind, const QByteArray &json)
{
    if (kind == QLatin1String("workspace"))
        sharedJSONDecode<FNWorkspace>(json);
    else if (kind == QLatin1String("folder"))
        sharedJSONDecode<FNFolder>(json);
    else if (kind == QLatin1String("page"))
        sharedJSONDecode<FNPage>(json);
    else if (kind == QLatin1String("block"))
        sharedJSONDecode<FNBlock>(json);
    else if (kind == QLatin1String("op"))
        sharedJSONDecode<FNSyncOp>(json);
    else if (kind == QLatin1String("status"))
        sharedJSONDecode<FNPageStatus>(json);
    else
        sharedJSONDecode<StoreState>(json);
}

} // namespace

class TestStoreRecords : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void writesKeysInFieldOrder_data();
    void writesKeysInFieldOrder();
    void everyKindRoundTrips();
    void requiredKeyMissingFails_data();
    void requiredKeyMissingFails();
    void wrongKindFails_data();
    void wrongKindFails();
    void absentOptionalsReadAndWriteAbsent();
    void unknownKeysAndOrderIgnored();
    void fractionsOfASecondAreNotKept();
    void equalityCoversEveryField();
    void defaultsMakeIdAndTimes();
    void oldStateFileReadsAndWritesBack();
    void unansweredIsWrittenOnlyWhenSet_data();
    void unansweredIsWrittenOnlyWhenSet();
};

void TestStoreRecords::writesKeysInFieldOrder_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("workspace") << encode(workspace())
                               << QByteArray(R"({"localID":"W-1","serverID":7,"name":"Team","role":"owner",)"
                                             R"("ownerUserID":3,"createdAt":"2026-01-31T09:15:00Z"})");
    QTest::newRow("folder, deleted")
        << encode(folder())
        << QByteArray(R"({"localID":"F-1","serverID":11,"workspaceServerID":7,"parentFolderServerID":10,)"
                      R"("name":"Plans","icon":"📁","position":2,"createdAt":"2026-01-01T00:00:00Z",)"
                      R"("updatedAt":"2026-01-02T00:00:00Z","deletedAt":"2026-01-03T00:00:00Z"})");
    QTest::newRow("page, live")
        << encode(page())
        << QByteArray(R"({"localID":"P-1","serverID":42,"workspaceServerID":7,"parentPageServerID":41,)"
                      R"("folderServerID":11,"title":"Ünïcode \"quoted\"\n","icon":"📝","position":-1,)"
                      R"("coverURL":"https://x.example/c.png","coverOffsetX":50,"coverOffsetY":100,)"
                      R"("createdAt":"2026-01-01T00:00:00Z","updatedAt":"2026-01-05T12:00:01Z"})");
    QTest::newRow("block, content as text")
        << encode(block())
        << QByteArray(R"({"localID":"B-1","serverID":9007199254740993,"pageServerID":42,"pageLocalID":"P-1",)"
                      R"("parentBlockServerID":0,"parentBlockLocalID":"","type":"todo",)"
                      R"("contentJSON":"{\"text\":\"a\",\"checked\":true}","position":3,"indentLevel":1,)"
                      R"("createdAt":"2026-01-01T00:00:00Z","updatedAt":"2026-01-01T00:00:00Z"})");
    QTest::newRow("op with retry fields")
        << encode(syncOp())
        << QByteArray(R"({"localID":"O-1","entity":"page","op":"create","refLocalID":"P-1",)"
                      R"("payloadJSON":"{\"title\":\"x\"}","createdAt":"2026-01-01T00:00:00Z","attempts":2,)"
                      R"("lastError":"Server problem.","nextRetryAt":"2026-01-01T00:00:04Z"})");
    QTest::newRow("empty state")
        << encode(StoreState{})
        << QByteArray(R"({"workspaces":[],"currentWorkspaceID":0,"folders":[],"pages":[],"blocks":[],)"
                      R"("outbox":[],"cursorServerTs":0,"pageStatuses":{},"expandedRowIDs":[]})");
    StoreState small;
    small.pageStatuses.insert(QStringLiteral("42"), {.published = true, .sharedCount = 3});
    small.expandedRowIDs = {QStringLiteral("F-1")};
    small.currentWorkspaceID = 7;
    small.cursorServerTs = 1730000000123;
    QTest::newRow("state with statuses")
        << encode(small)
        << QByteArray(
               R"({"workspaces":[],"currentWorkspaceID":7,"folders":[],"pages":[],"blocks":[],)"
               R"("outbox":[],"cursorServerTs":1730000000123,)"
               R"("pageStatuses":{"42":{"published":true,"sharedCount":3}},"expandedRowIDs":["F-1"]})");
}

void TestStoreRecords::writesKeysInFieldOrder()
{
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, expected);
    QCOMPARE(json, expected);
}

void TestStoreRecords::everyKindRoundTrips()
{
    StoreState s;
    s.workspaces = {workspace()};
    s.currentWorkspaceID = 7;
    s.folders = {folder()};
    s.pages = {page()};
    s.blocks = {block()};
    FNSyncOp bare;
    bare.entity = QStringLiteral("block");
    bare.op = QStringLiteral("delete");
    bare.createdAt = at("2026-02-01T00:00:00Z");
    s.outbox = {syncOp(), bare};
    s.cursorServerTs = -5;
    s.pageStatuses.insert(QStringLiteral("42"), {.published = false, .sharedCount = 9});
    s.expandedRowIDs = {QStringLiteral("F-1"), QStringLiteral("F-2")};

    const StoreState back = sharedJSONDecode<StoreState>(encode(s));
    QCOMPARE(back, s);
    QCOMPARE(encode(back), encode(s));
}

void TestStoreRecords::requiredKeyMissingFails_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("key");

    const std::pair<const char *, QStringList> kinds[] = {
        {"workspace", {"localID", "serverID", "name", "role", "ownerUserID", "createdAt"}},
        {"folder",
         {"localID", "serverID", "workspaceServerID", "parentFolderServerID", "name", "icon", "position",
          "createdAt", "updatedAt"}},
        {"page",
         {"localID", "serverID", "workspaceServerID", "parentPageServerID", "folderServerID", "title", "icon",
          "position", "coverURL", "coverOffsetX", "coverOffsetY", "createdAt", "updatedAt"}},
        {"block",
         {"localID", "serverID", "pageServerID", "pageLocalID", "parentBlockServerID", "parentBlockLocalID",
          "type", "contentJSON", "position", "indentLevel", "createdAt", "updatedAt"}},
        {"op", {"localID", "entity", "op", "refLocalID", "payloadJSON", "createdAt", "attempts"}},
        {"status", {"published", "sharedCount"}},
        {"state",
         {"workspaces", "currentWorkspaceID", "folders", "pages", "blocks", "outbox", "cursorServerTs",
          "pageStatuses", "expandedRowIDs"}},
    };
    for (const auto &[kind, keys] : kinds) {
        for (const auto &key : keys)
            QTest::addRow("%s %s", kind, qPrintable(key)) << QString::fromLatin1(kind) << key;
    }
}

void TestStoreRecords::requiredKeyMissingFails()
{
    QFETCH(QString, kind);
    QFETCH(QString, key);
    const QByteArray full = sampleOf(kind);
    decodeAs(kind, full);
    const QByteArray json = withoutKey(full, key);
    QVERIFY(json.size() < full.size());
    QVERIFY_THROWS_EXCEPTION(DecodeError, decodeAs(kind, json));
}

void TestStoreRecords::wrongKindFails_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("json");

    const QByteArray b = encode(block());
    QTest::newRow("serverID as text")
        << "block" << replaced(b, R"("serverID":9007199254740993)", R"("serverID":"9")");
    QTest::newRow("position with a fraction")
        << "block" << replaced(b, R"("position":3)", R"("position":3.5)");
    QTest::newRow("indentLevel as bool")
        << "block" << replaced(b, R"("indentLevel":1)", R"("indentLevel":true)");
    QTest::newRow("serverID beyond 64 bits")
        << "block" << replaced(b, R"("serverID":9007199254740993)", R"("serverID":18446744073709551615)");
    QTest::newRow("type as number") << "block" << replaced(b, R"("type":"todo")", R"("type":5)");
    QTest::newRow("required key null")
        << "block" << replaced(b, R"("indentLevel":1)", R"("indentLevel":null)");
    QTest::newRow("date not ISO") << "block"
                                  << replaced(b, R"("createdAt":"2026-01-01T00:00:00Z")",
                                              R"("createdAt":"yesterday")");
    QTest::newRow("date as number") << "block"
                                    << replaced(b, R"("createdAt":"2026-01-01T00:00:00Z")",
                                                R"("createdAt":1700000000)");
    QTest::newRow("deletedAt as number")
        << "folder"
        << replaced(encode(folder()), R"("deletedAt":"2026-01-03T00:00:00Z")", R"("deletedAt":0)");
    QTest::newRow("lastError as number")
        << "op" << replaced(encode(syncOp()), R"("lastError":"Server problem.")", R"("lastError":500)");
    QTest::newRow("published as number") << "status" << QByteArray(R"({"published":1,"sharedCount":0})");
    QTest::newRow("status as array") << "state"
                                     << replaced(encode(StoreState{}), R"("pageStatuses":{})",
                                                 R"("pageStatuses":{"42":[true,1]})");
    QTest::newRow("expanded id as number")
        << "state" << replaced(encode(StoreState{}), R"("expandedRowIDs":[])", R"("expandedRowIDs":[7])");
    QTest::newRow("one bad block fails the state")
        << "state"
        << replaced(encode(StoreState{}), R"("blocks":[])",
                    QByteArray(R"("blocks":[)" + withoutKey(b, QStringLiteral("type")) + "]").constData());
    QTest::newRow("not an object") << "state" << QByteArray("[]");
    QTest::newRow("truncated") << "state" << encode(StoreState{}).chopped(1);
    QTest::newRow("empty") << "state" << QByteArray();
}

void TestStoreRecords::wrongKindFails()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, json);
    QVERIFY_THROWS_EXCEPTION(DecodeError, decodeAs(kind, json));
}

void TestStoreRecords::absentOptionalsReadAndWriteAbsent()
{
    QByteArray p = encode(page());
    p.replace(R"("updatedAt":"2026-01-05T12:00:01Z")",
              R"("updatedAt":"2026-01-05T12:00:01Z","deletedAt":null)");
    const FNPage live = sharedJSONDecode<FNPage>(p);
    QVERIFY(!live.deletedAt);
    QVERIFY(!encode(live).contains("deletedAt"));

    FNSyncOp fresh = syncOp();
    fresh.lastError.reset();
    fresh.nextRetryAt.reset();
    const QByteArray json = encode(fresh);
    QVERIFY(!json.contains("lastError"));
    QVERIFY(!json.contains("nextRetryAt"));
    QVERIFY(!json.contains("null"));
    const FNSyncOp back = sharedJSONDecode<FNSyncOp>(
        replaced(json, R"("attempts":2)", R"("attempts":2,"lastError":null,"nextRetryAt":null)"));
    QCOMPARE(back, fresh);
}

void TestStoreRecords::unknownKeysAndOrderIgnored()
{
    const QByteArray json =
        R"({"extra":{"nested":[1,2]},"deletedAt":null,"updatedAt":"2026-01-02T00:00:00Z",)"
        R"("createdAt":"2026-01-01T00:00:00Z","position":2,"icon":"📁","name":"Plans",)"
        R"("parentFolderServerID":10,"workspaceServerID":7,"serverID":11,"localID":"F-1"})";
    FNFolder expected = folder();
    expected.deletedAt.reset();
    QCOMPARE(sharedJSONDecode<FNFolder>(json), expected);

    QByteArray state = encode(StoreState{});
    state.insert(1, R"("version":3,)");
    QCOMPARE(sharedJSONDecode<StoreState>(state), StoreState{});
}

void TestStoreRecords::fractionsOfASecondAreNotKept()
{
    FNBlock b = block();
    b.updatedAt = QDateTime::fromMSecsSinceEpoch(b.updatedAt.toMSecsSinceEpoch() + 750, Qt::UTC);
    const QByteArray json = encode(b);
    QVERIFY(json.contains(R"("updatedAt":"2026-01-01T00:00:00Z")"));
    const FNBlock back = sharedJSONDecode<FNBlock>(json);
    QVERIFY(back != b);
    QCOMPARE(back.updatedAt, block().updatedAt);

    // A date with an offset is the same instant, written in UTC.
    const FNBlock shifted = sharedJSONDecode<FNBlock>(replaced(json, R"("createdAt":"2026-01-01T00:00:00Z")",
                                                               R"("createdAt":"2026-01-01T02:00:00+02:00")"));
    QCOMPARE(shifted.createdAt, block().createdAt);
}

void TestStoreRecords::equalityCoversEveryField()
{
    FNPage a = page();
    FNPage b = page();
    QCOMPARE(a, b);
    QCOMPARE(qHash(a), qHash(b));
    b.updatedAt = b.updatedAt.addSecs(1);
    QVERIFY(a != b);

    // The same instant in another time zone is equal.
    b = page();
    b.updatedAt = b.updatedAt.toOffsetFromUtc(3600);
    QCOMPARE(a, b);

    FNSyncOp x = syncOp();
    FNSyncOp y = syncOp();
    y.attempts += 1;
    QVERIFY(x != y);
    y = syncOp();
    y.nextRetryAt.reset();
    QVERIFY(x != y);
    QVERIFY(qHash(x) != qHash(y));

    FNFolder live = folder();
    live.deletedAt.reset();
    QVERIFY(live != folder());
}

void TestStoreRecords::defaultsMakeIdAndTimes()
{
    static const QRegularExpression uuid(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    const FNBlock a;
    const FNBlock b;
    QVERIFY2(uuid.match(a.localID).hasMatch(), qPrintable(a.localID));
    QCOMPARE(a.id(), a.localID);
    QVERIFY(a.localID != b.localID);
    QVERIFY(a.createdAt >= before && a.updatedAt >= before);
    QVERIFY(!a.deletedAt);
    QVERIFY(uuid.match(FNSyncOp{}.id()).hasMatch());
    QVERIFY(uuid.match(FNWorkspace{}.id()).hasMatch());
}

// moc misreads the escapes in this literal when it stands before the class.
namespace {

// A "state.json" as the build before the field lists wrote it: every kind of record, a deleted folder,
// a live page, an op waiting for a retry and one whose send went unanswered, text that needs escapes.
const QByteArray kOldStateFile =
    R"({"workspaces":[{"localID":"W-1","serverID":7,"name":"Team","role":"owner","ownerUserID":3,)"
    R"("createdAt":"2026-01-31T09:15:00Z"}],"currentWorkspaceID":7,)"
    R"("folders":[{"localID":"F-1","serverID":11,"workspaceServerID":7,"parentFolderServerID":10,)"
    R"("name":"Plans","icon":"📁","position":2,"createdAt":"2026-01-01T00:00:00Z",)"
    R"("updatedAt":"2026-01-02T00:00:00Z","deletedAt":"2026-01-03T00:00:00Z"}],)"
    R"("pages":[{"localID":"P-1","serverID":42,"workspaceServerID":7,"parentPageServerID":41,)"
    R"("folderServerID":11,"title":"Ünïcode \"quoted\"\n","icon":"📝","position":-1,)"
    R"("coverURL":"https://x.example/c.png","coverOffsetX":50,"coverOffsetY":100,)"
    R"("createdAt":"2026-01-01T00:00:00Z","updatedAt":"2026-01-05T12:00:01Z"}],)"
    R"("blocks":[{"localID":"B-1","serverID":9007199254740993,"pageServerID":42,"pageLocalID":"P-1",)"
    R"("parentBlockServerID":0,"parentBlockLocalID":"","type":"todo",)"
    R"("contentJSON":"{\"text\":\"a\",\"checked\":true}","position":3,"indentLevel":1,)"
    R"("createdAt":"2026-01-01T00:00:00Z","updatedAt":"2026-01-01T00:00:00Z"}],)"
    R"("outbox":[{"localID":"O-1","entity":"page","op":"create","refLocalID":"P-1",)"
    R"("payloadJSON":"{\"title\":\"x\"}","createdAt":"2026-01-01T00:00:00Z","attempts":2,)"
    R"("lastError":"Server problem.","nextRetryAt":"2026-01-01T00:00:04Z"},)"
    R"({"localID":"O-2","entity":"block","op":"upsert","refLocalID":"P-1","payloadJSON":"{}",)"
    R"("createdAt":"2026-01-01T00:00:05Z","attempts":1,"unanswered":true}],)"
    R"("cursorServerTs":1730000000123,"pageStatuses":{"142":{"published":false,"sharedCount":0},)"
    R"("42":{"published":true,"sharedCount":3}},"expandedRowIDs":["F-1","P-1"]})";

StoreState oldState()
{
    FNSyncOp unanswered{.localID = QStringLiteral("O-2"),
                        .entity = QStringLiteral("block"),
                        .op = QStringLiteral("upsert"),
                        .refLocalID = QStringLiteral("P-1"),
                        .payloadJSON = QStringLiteral("{}"),
                        .createdAt = at("2026-01-01T00:00:05Z"),
                        .attempts = 1,
                        .lastError = std::nullopt,
                        .nextRetryAt = std::nullopt,
                        .unanswered = true};
    StoreState s{.workspaces = {workspace()},
                 .currentWorkspaceID = 7,
                 .folders = {folder()},
                 .pages = {page()},
                 .blocks = {block()},
                 .outbox = {syncOp(), unanswered},
                 .cursorServerTs = 1730000000123,
                 .pageStatuses = {{QStringLiteral("42"), {.published = true, .sharedCount = 3}},
                                  {QStringLiteral("142"), {.published = false, .sharedCount = 0}}},
                 .expandedRowIDs = {QStringLiteral("F-1"), QStringLiteral("P-1")}};
    return s;
}

} // namespace

void TestStoreRecords::oldStateFileReadsAndWritesBack()
{
    const StoreState strict = sharedJSONDecode<StoreState>(kOldStateFile);
    QCOMPARE(strict, oldState());
    QCOMPARE(encode(strict), kOldStateFile);

    rapidjson::Document doc;
    json::parseDocument(doc, kOldStateFile);
    StoreStateDrops dropped;
    QCOMPARE(StoreState::fromJsonByRecord(doc, dropped), oldState());
    QVERIFY2(dropped.isEmpty(), qPrintable(dropped.summary()));
}

void TestStoreRecords::unansweredIsWrittenOnlyWhenSet_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("unanswered");
    QTest::addColumn<QByteArray>("written");

    const QByteArray bare = encode(syncOp());
    const QByteArray marked = replaced(bare, R"("nextRetryAt":"2026-01-01T00:00:04Z")",
                                       R"("nextRetryAt":"2026-01-01T00:00:04Z","unanswered":true)");
    QTest::newRow("missing") << bare << false << bare;
    QTest::newRow("true") << marked << true << marked;
    QTest::newRow("false") << replaced(marked, "true}", "false}") << false << bare;
    QTest::newRow("null") << replaced(marked, "true}", "null}") << false << bare;
    QTest::newRow("a number fails") << replaced(marked, "true}", "1}") << false << QByteArray();
}

void TestStoreRecords::unansweredIsWrittenOnlyWhenSet()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, unanswered);
    QFETCH(QByteArray, written);
    if (written.isEmpty()) {
        QVERIFY_THROWS_EXCEPTION(DecodeError, sharedJSONDecode<FNSyncOp>(stored));
        return;
    }
    const FNSyncOp op = sharedJSONDecode<FNSyncOp>(stored);
    QCOMPARE(op.unanswered, unanswered);
    QCOMPARE(encode(op), written);
}

QTEST_GUILESS_MAIN(TestStoreRecords)
#include "tst_store_records.moc"
