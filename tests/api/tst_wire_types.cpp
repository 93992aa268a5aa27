#include "api/wire/ai.h"
#include "api/wire/auth.h"
#include "api/wire/blocks.h"
#include "api/wire/collab.h"
#include "api/wire/databases.h"
#include "api/wire/folders.h"
#include "api/wire/library.h"
#include "api/wire/pages.h"
#include "api/wire/sync.h"
#include "json/json_coder.h"

#include <QHash>
#include <QTest>

#include <functional>
#include <limits>

namespace {

using Decoder = std::function<void(const QByteArray &)>;

template <typename T>
Decoder decoderFor()
{
    return [](const QByteArray &json) { (void)sharedJSONDecode<T>(json); };
}

// Every reply type by name, so rows can name the type they decode.
const QHash<QString, Decoder> &decoders()
{
    static const QHash<QString, Decoder> all = {
        {"AuthResp", decoderFor<AuthResp>()},
        {"UploadResp", decoderFor<UploadResp>()},
        {"WorkspacesResp", decoderFor<WorkspacesResp>()},
        {"FoldersResp", decoderFor<FoldersResp>()},
        {"FolderResp", decoderFor<FolderResp>()},
        {"PageDTO", decoderFor<PageDTO>()},
        {"PageResp", decoderFor<PageResp>()},
        {"PagesResp", decoderFor<PagesResp>()},
        {"PageCreateReq", decoderFor<PageCreateReq>()},
        {"PagePatchReq", decoderFor<PagePatchReq>()},
        {"SearchResp", decoderFor<SearchResp>()},
        {"BlockDTO", decoderFor<BlockDTO>()},
        {"BlocksResp", decoderFor<BlocksResp>()},
        {"BlocksUpsertReq", decoderFor<BlocksUpsertReq>()},
        {"BlocksUpsertResp", decoderFor<BlocksUpsertResp>()},
        {"SyncResp", decoderFor<SyncResp>()},
        {"SyncOpDTO", decoderFor<SyncOpDTO>()},
        {"CommentsResp", decoderFor<CommentsResp>()},
        {"CommentCreateResp", decoderFor<CommentCreateResp>()},
        {"ShareListResp", decoderFor<ShareListResp>()},
        {"PublishResp", decoderFor<PublishResp>()},
        {"VersionsResp", decoderFor<VersionsResp>()},
        {"AIResp", decoderFor<AIResp>()},
        {"DatabasesResp", decoderFor<DatabasesResp>()},
        {"DatabaseResp", decoderFor<DatabaseResp>()},
        {"DBRowResp", decoderFor<DBRowResp>()},
        {"BookmarkPreviewResp", decoderFor<BookmarkPreviewResp>()},
        {"LibraryPagesResp", decoderFor<LibraryPagesResp>()},
        {"PageStatusesResp", decoderFor<PageStatusesResp>()},
        {"ShareInviteResp", decoderFor<ShareInviteResp>()},
        {"VersionRestoreOK", decoderFor<VersionRestoreOK>()},
        {"SuggestionsResp", decoderFor<SuggestionsResp>()},
    };
    return all;
}

// Valid replies, each a base that the failure rows below break in one place.
const QByteArray kAuth = R"({"token":"t","user":{"id":1,"name":"Ann","email":"a@x.io"},"workspace_id":3})";
const QByteArray kPage = R"({"id":1,"workspace_id":2,"title":"T","position":0})";
const QByteArray kBlock = R"({"id":1,"page_id":2,"type":"text","content":{},"position":0})";
const QByteArray kComment = R"({"id":1,"page_id":2,"body":"b","created_at":"2024-01-01 10:00:00"})";
const QByteArray kShare =
    R"({"id":1,"shared_with_user_id":2,"email":"e@x.io","name":"N","permissions":["view"],"created_at":"c"})";
const QByteArray kInvite = R"({"id":1,"email":"e@x.io","permissions":[],"created_at":"c"})";
const QByteArray kDatabase = R"({"id":1,"page_id":2,"name":"Tasks","columns":[{"id":"c1","name":"Name",)"
                             R"("type":"text"}],"rows":[{"id":5,"position":0,"data":{"c1":"x"}}]})";
const QByteArray kSuggestion =
    R"({"id":1,"page_id":2,"user_id":3,"kind":"edit","status":"pending","created_at":"c"})";

QByteArray replace(QByteArray json, const QByteArray &from, const QByteArray &to)
{
    Q_ASSERT(json.contains(from));
    return json.replace(from, to);
}

QByteArray wrap(const char *key, const QByteArray &inner)
{
    return QByteArray("{\"") + key + "\":" + inner + "}";
}

template <typename T>
JSONObject written(const T &value)
{
    return parseJSONObject(sharedJSONEncode(value));
}

} // namespace

class TestWireTypes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void validRepliesDecode_data();
    void validRepliesDecode();
    void requiredKeyMissingOrNullFails_data();
    void requiredKeyMissingOrNullFails();
    void integerFieldRefusesOtherKinds_data();
    void integerFieldRefusesOtherKinds();
    void boolFieldRefusesNumbers_data();
    void boolFieldRefusesNumbers();
    void wrongKindFails_data();
    void wrongKindFails();
    void oneBadElementFailsWholeList_data();
    void oneBadElementFailsWholeList();

    void optionalsMissingOrNullReadAbsent();
    void writingLeavesOutAbsentOptionals_data();
    void writingLeavesOutAbsentOptionals();

    void publishStateDefaultsAndFlags();
    void int64IdsExact_data();
    void int64IdsExact();
    void unknownKeysIgnored();
    void pageStatusesKeyedByDecimalId();
    void roundTripsOfStoredBodies();
    void equalityAndHashing();
};

// The bases themselves, and the documented permissive shapes, must read.
void TestWireTypes::validRepliesDecode_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("auth") << "AuthResp" << kAuth;
    QTest::newRow("auth without workspace_id") << "AuthResp" << replace(kAuth, R"(,"workspace_id":3)", "");
    QTest::newRow("page, minimal") << "PageDTO" << kPage;
    QTest::newRow("whole numbers written as 1.0 and 1e3")
        << "PageDTO" << replace(kPage, R"("id":1,)", R"("id":1e3,)");
    QTest::newRow("upload with only url") << "UploadResp" << QByteArray(R"({"url":"https://x/f.png"})");
    QTest::newRow("empty search") << "SearchResp" << QByteArray(R"({"pages":[]})");
    QTest::newRow("sync, no capped, empty ops") << "SyncResp" << QByteArray(R"({"ops":[],"server_ts":5})");
    QTest::newRow("sync, capped null, payload null")
        << "SyncResp"
        << QByteArray(R"({"ops":[{"entity_type":"page","entity_id":1,"op":"delete","payload":null,)"
                      R"("server_ts":4}],"server_ts":5,"capped":null})");
    QTest::newRow("empty comments") << "CommentsResp" << QByteArray(R"({"comments":[]})");
    QTest::newRow("empty versions") << "VersionsResp" << QByteArray(R"({"versions":[]})");
    QTest::newRow("share list, two empty lists")
        << "ShareListResp" << QByteArray(R"({"shares":[],"invites":[]})");
    QTest::newRow("database with empty lists")
        << "DatabaseResp" << wrap("database", R"({"id":1,"page_id":2,"name":"D","columns":[],"rows":[]})");
    QTest::newRow("restore ok: any object") << "VersionRestoreOK" << QByteArray(R"({"done":1})");
    QTest::newRow("invite reply: empty object") << "ShareInviteResp" << QByteArray("{}");
    QTest::newRow("bookmark preview: all null")
        << "BookmarkPreviewResp" << QByteArray(R"({"url":null,"title":null})");
    QTest::newRow("AI reply: empty object") << "AIResp" << QByteArray("{}");
    QTest::newRow("suggestions") << "SuggestionsResp" << wrap("suggestions", "[" + kSuggestion + "]");
}

void TestWireTypes::validRepliesDecode()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, json);
    try {
        decoders().value(type)(json);
    } catch (const DecodeError &e) {
        QFAIL(qPrintable(e.message()));
    }
}

static void expectDecodeFailure()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, json);
    QVERIFY2(decoders().contains(type), qPrintable(type));
    QVERIFY_THROWS_EXCEPTION(DecodeError, decoders().value(type)(json));
}

void TestWireTypes::requiredKeyMissingOrNullFails_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("auth without user")
        << "AuthResp" << replace(kAuth, R"("user":{"id":1,"name":"Ann","email":"a@x.io"},)", "");
    QTest::newRow("auth user without email") << "AuthResp" << replace(kAuth, R"(,"email":"a@x.io")", "");
    QTest::newRow("auth token null") << "AuthResp" << replace(kAuth, R"("token":"t")", R"("token":null)");
    QTest::newRow("upload without url") << "UploadResp" << QByteArray(R"({"path":"/f","size":3})");
    QTest::newRow("page without title") << "PageDTO" << replace(kPage, R"("title":"T",)", "");
    QTest::newRow("page position null")
        << "PageDTO" << replace(kPage, R"("position":0)", R"("position":null)");
    QTest::newRow("page update reply without page") << "PageResp" << QByteArray(R"({"ok":true})");
    QTest::newRow("folder without workspace_id")
        << "FolderResp" << wrap("folder", R"({"id":1,"name":"F","position":0})");
    QTest::newRow("block without content")
        << "BlocksResp" << wrap("blocks", "[" + replace(kBlock, R"("content":{},)", "") + "]");
    QTest::newRow("upsert ack without id")
        << "BlocksUpsertResp" << QByteArray(R"({"blocks":[{"client_id":"a","position":0}]})");
    QTest::newRow("sync without server_ts") << "SyncResp" << QByteArray(R"({"ops":[]})");
    QTest::newRow("comment without body")
        << "CommentCreateResp" << wrap("comment", replace(kComment, R"("body":"b",)", ""));
    QTest::newRow("comment without created_at")
        << "CommentCreateResp"
        << wrap("comment", replace(kComment, R"(,"created_at":"2024-01-01 10:00:00")", ""));
    QTest::newRow("share permissions null")
        << "ShareListResp"
        << QByteArray(R"({"shares":[)" + replace(kShare, R"(["view"])", "null") + R"(],"invites":[]})");
    QTest::newRow("share list without invites") << "ShareListResp" << QByteArray(R"({"shares":[]})");
    QTest::newRow("invite without permissions")
        << "ShareListResp"
        << QByteArray(R"({"shares":[],"invites":[)" + replace(kInvite, R"("permissions":[],)", "") + "]}");
    QTest::newRow("publish without published") << "PublishResp" << QByteArray(R"({"slug":"s"})");
    QTest::newRow("version without created_at")
        << "VersionsResp" << QByteArray(R"({"versions":[{"id":1,"page_id":2}]})");
    QTest::newRow("database without rows")
        << "DatabaseResp" << wrap("database", replace(kDatabase, R"(,"rows":[)", R"(,"x":[)"));
    QTest::newRow("row without data") << "DBRowResp" << QByteArray(R"({"row":{"id":5,"position":0}})");
    QTest::newRow("row without position") << "DBRowResp" << QByteArray(R"({"row":{"id":5,"data":{}}})");
    QTest::newRow("column without type")
        << "DatabaseResp" << wrap("database", replace(kDatabase, R"(,"type":"text")", ""));
    QTest::newRow("status without shared_count")
        << "PageStatusesResp" << QByteArray(R"({"statuses":{"4":{"published":true}}})");
    QTest::newRow("suggestion without user_id")
        << "SuggestionsResp" << wrap("suggestions", "[" + replace(kSuggestion, R"("user_id":3,)", "") + "]");
    QTest::newRow("library pages null") << "LibraryPagesResp" << QByteArray(R"({"pages":null})");
}

void TestWireTypes::requiredKeyMissingOrNullFails()
{
    expectDecodeFailure();
}

void TestWireTypes::integerFieldRefusesOtherKinds_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("json");
    const struct {
        const char *name;
        const char *value;
    } bad[] = {{"fraction", "1.5"}, {"string", R"("1")"}, {"true", "true"}};
    for (const auto &b : bad) {
        QTest::addRow("page id %s", b.name)
            << "PageDTO" << replace(kPage, R"("id":1)", QByteArray("\"id\":") + b.value);
        QTest::addRow("page position %s", b.name)
            << "PageDTO" << replace(kPage, R"("position":0)", QByteArray("\"position\":") + b.value);
        QTest::addRow("optional cover offset %s", b.name)
            << "PageDTO"
            << replace(kPage, R"("position":0)", QByteArray(R"("position":0,"cover_offset_x":)") + b.value);
        QTest::addRow("sync server_ts %s", b.name)
            << "SyncResp" << QByteArray(R"({"ops":[],"server_ts":)") + b.value + "}";
        QTest::addRow("publish view_count %s", b.name)
            << "PublishResp" << QByteArray(R"({"published":true,"view_count":)") + b.value + "}";
        QTest::addRow("AI remaining_today %s", b.name)
            << "AIResp" << QByteArray(R"({"remaining_today":)") + b.value + "}";
    }
    QTest::newRow("publish allow_comments false")
        << "PublishResp" << QByteArray(R"({"published":true,"allow_comments":false})");
    QTest::newRow("publish include_subpages true")
        << "PublishResp" << QByteArray(R"({"published":true,"include_subpages":true})");
    QTest::newRow("id beyond 64 bits")
        << "PageDTO" << replace(kPage, R"("id":1)", R"("id":9223372036854775808)");
}

void TestWireTypes::integerFieldRefusesOtherKinds()
{
    expectDecodeFailure();
}

void TestWireTypes::boolFieldRefusesNumbers_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("sync capped 1") << "SyncResp" << QByteArray(R"({"ops":[],"server_ts":5,"capped":1})");
    QTest::newRow("published 1") << "PublishResp" << QByteArray(R"({"published":1})");
    QTest::newRow("has_password 0") << "PublishResp" << QByteArray(R"({"published":true,"has_password":0})");
    QTest::newRow("status published 1")
        << "PageStatusesResp" << QByteArray(R"({"statuses":{"4":{"published":1,"shared_count":0}}})");
    QTest::newRow("invite ok 1") << "ShareInviteResp" << QByteArray(R"({"ok":1})");
    QTest::newRow("restore ok as text") << "VersionRestoreOK" << QByteArray(R"({"ok":"true"})");
}

void TestWireTypes::boolFieldRefusesNumbers()
{
    expectDecodeFailure();
}

void TestWireTypes::wrongKindFails_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("number for text") << "PageDTO" << replace(kPage, R"("title":"T")", R"("title":5)");
    QTest::newRow("content an array")
        << "BlocksResp" << wrap("blocks", "[" + replace(kBlock, R"("content":{})", R"("content":[])") + "]");
    QTest::newRow("payload an array")
        << "SyncOpDTO"
        << QByteArray(R"({"entity_type":"page","entity_id":1,"op":"update","payload":[],"server_ts":4})");
    QTest::newRow("list an object") << "PagesResp" << QByteArray(R"({"pages":{}})");
    QTest::newRow("reply an array") << "WorkspacesResp" << QByteArray("[]");
    QTest::newRow("optional text a number") << "BookmarkPreviewResp" << QByteArray(R"({"title":3})");
    QTest::newRow("restore reply not an object") << "VersionRestoreOK" << QByteArray("true");
}

void TestWireTypes::wrongKindFails()
{
    expectDecodeFailure();
}

void TestWireTypes::oneBadElementFailsWholeList_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("json");
    const QByteArray badPage = replace(kPage, R"("title":"T",)", "");
    QTest::newRow("pages") << "PagesResp" << wrap("pages", "[" + kPage + "," + badPage + "]");
    QTest::newRow("library pages") << "LibraryPagesResp" << wrap("pages", "[" + kPage + "," + badPage + "]");
    QTest::newRow("blocks") << "BlocksResp"
                            << wrap("blocks",
                                    "[" + kBlock + "," + replace(kBlock, R"("id":1)", R"("id":"2")") + "]");
    QTest::newRow("workspaces") << "WorkspacesResp"
                                << QByteArray(R"({"workspaces":[{"id":1,"name":"W"},{"id":2}]})");
    QTest::newRow("comments") << "CommentsResp"
                              << wrap("comments", "[" + kComment + "," +
                                                      replace(kComment, R"("body":"b")", R"("body":null)") +
                                                      "]");
    QTest::newRow("permission words")
        << "ShareListResp"
        << QByteArray(R"({"shares":[)" + replace(kShare, R"(["view"])", R"(["view",3])") +
                      R"(],"invites":[]})");
    QTest::newRow("status map") << "PageStatusesResp"
                                << QByteArray(R"({"statuses":{"1":{"published":true,"shared_count":0},)"
                                              R"("2":{"published":true,"shared_count":1.5}}})");
    QTest::newRow("database rows") << "DatabasesResp"
                                   << wrap("databases",
                                           "[" + replace(kDatabase, R"("data":{"c1":"x"})", R"("data":"x")") +
                                               "]");
    QTest::newRow("search hits") << "SearchResp"
                                 << QByteArray(R"({"pages":[{"id":1,"title":"a"},{"id":2}]})");
}

void TestWireTypes::oneBadElementFailsWholeList()
{
    expectDecodeFailure();
}

void TestWireTypes::optionalsMissingOrNullReadAbsent()
{
    const auto page = sharedJSONDecode<PageDTO>(R"({"id":1,"workspace_id":2,"title":"T","position":0,)"
                                                R"("icon":null,"folder_id":null,"cover_url":null})");
    QVERIFY(!page.icon && !page.folder_id && !page.cover_url && !page.parent_page_id && !page.updated_at);
    // Written back, only the four present keys remain: no nulls.
    QCOMPARE(written(page), parseJSONObject(kPage));

    const auto block = sharedJSONDecode<BlockDTO>(
        replace(kBlock, R"("position":0)", R"("position":0,"parent_block_id":null)"));
    QVERIFY(!block.parent_block_id);
    QVERIFY(!written(block).count(QStringLiteral("parent_block_id")));

    const auto resp = sharedJSONDecode<PublishResp>(R"({"published":false,"slug":null,"url":null})");
    QVERIFY(!resp.slug && !resp.url);
}

void TestWireTypes::writingLeavesOutAbsentOptionals_data()
{
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("login without device label") << sharedJSONEncode(AuthLoginReq{"a@x.io", "pw", {}})
                                                << QByteArray(R"({"email":"a@x.io","password":"pw"})");
    QTest::newRow("sign-up with device label")
        << sharedJSONEncode(AuthSignupReq{"a@x.io", "pw", "Ann", "Mac"})
        << QByteArray(R"({"email":"a@x.io","password":"pw","name":"Ann","device_label":"Mac"})");
    QTest::newRow("page create without parent, empty icon")
        << sharedJSONEncode(PageCreateReq{7, {}, "Untitled", "", 3})
        << QByteArray(R"({"workspace_id":7,"title":"Untitled","icon":"","position":3})");
    QTest::newRow("page move to the top level")
        << sharedJSONEncode(FolderMovePageReq{12, {}}) << QByteArray(R"({"page_id":12})");
    QTest::newRow("page move into a folder")
        << sharedJSONEncode(FolderMovePageReq{12, 4}) << QByteArray(R"({"page_id":12,"folder_id":4})");
    QTest::newRow("folder rename") << sharedJSONEncode(FolderPatchReq{5, "New", {}, {}, {}})
                                   << QByteArray(R"({"folder_id":5,"name":"New"})");
    QTest::newRow("top-level folder create") << sharedJSONEncode(FolderCreateReq{7, {}, "F", "📁"})
                                             << QByteArray(R"({"workspace_id":7,"name":"F","icon":"📁"})");
    PagePatchReq removeCover;
    removeCover.page_id = 9;
    removeCover.cover_url = QString("");
    removeCover.cover_offset_x = 50;
    removeCover.cover_offset_y = 50;
    QTest::newRow("cover removal keeps the empty url")
        << sharedJSONEncode(removeCover)
        << QByteArray(R"({"page_id":9,"cover_url":"","cover_offset_x":50,"cover_offset_y":50})");
    PagePatchReq rename;
    rename.page_id = 9;
    rename.title = QString("T");
    QTest::newRow("page rename") << sharedJSONEncode(rename) << QByteArray(R"({"page_id":9,"title":"T"})");
    QTest::newRow("upsert item without server id or parent")
        << sharedJSONEncode(BlocksUpsertReq{3, {BlockUpsertItem{"L1", {}, "text", {{"text", "hi"}}, 0, {}}}})
        << QByteArray(R"({"page_id":3,"blocks":[{"client_id":"L1","type":"text","content":{"text":"hi"},)"
                      R"("position":0}]})");
    QTest::newRow("pull") << sharedJSONEncode(SyncReq{0}) << QByteArray(R"({"since_ts":0})");
    QTest::newRow("comment from the panel") << sharedJSONEncode(CommentCreateReq{2, {}, "b", {}, {}, {}})
                                            << QByteArray(R"({"page_id":2,"body":"b"})");
    QTest::newRow("comment on a block without selection")
        << sharedJSONEncode(CommentCreateReq{2, 8, "b", {}, {}, {}})
        << QByteArray(R"({"page_id":2,"block_id":8,"body":"b"})");
    QTest::newRow("share never carries permissions")
        << sharedJSONEncode(ShareReq{2, "e@x.io", "view", {}})
        << QByteArray(R"({"page_id":2,"email":"e@x.io","role":"view"})");
    QTest::newRow("publish without password, settings off")
        << sharedJSONEncode(PublishReq{2, {}, false, false})
        << QByteArray(R"({"page_id":2,"allow_comments":false,"include_subpages":false})");
    QTest::newRow("version restore") << sharedJSONEncode(VersionRestoreReq{11})
                                     << QByteArray(R"({"version_id":11,"restore":true})");
    QTest::newRow("AI summarize without a page")
        << sharedJSONEncode(AIReq{"summarize", {}, {}, {}, {}}) << QByteArray(R"({"action":"summarize"})");
    QTest::newRow("AI translate") << sharedJSONEncode(AIReq{"translate", 4, {}, {}, "Spanish"})
                                  << QByteArray(
                                         R"({"action":"translate","page_id":4,"target_lang":"Spanish"})");
    QTest::newRow("database create")
        << sharedJSONEncode(
               DBCreateReq{2, "Tasks",
                           std::vector<DBColumnDTO>{{"c1", "Name", "text", {}},
                                                    {"c2", "Status", "select", {{"Todo", "Done"}}}}})
        << QByteArray(R"({"page_id":2,"name":"Tasks","columns":[{"id":"c1","name":"Name","type":"text"},)"
                      R"({"id":"c2","name":"Status","type":"select","options":["Todo","Done"]}]})");
    QTest::newRow("row create with empty data") << sharedJSONEncode(DBRowCreateReq{6, {}, 0})
                                                << QByteArray(R"({"database_id":6,"data":{},"position":0})");
    QTest::newRow("row patch without position")
        << sharedJSONEncode(DBRowPatchReq{5, JSONObject{{"c3", true}}, {}})
        << QByteArray(R"({"row_id":5,"data":{"c3":true}})");
    QTest::newRow("suggestion decision") << sharedJSONEncode(SuggestionDecideReq{4, "rejected"})
                                         << QByteArray(R"({"suggestion_id":4,"status":"rejected"})");
}

void TestWireTypes::writingLeavesOutAbsentOptionals()
{
    QFETCH(QByteArray, written);
    QFETCH(QByteArray, expected);
    QCOMPARE(parseJSONObject(written), parseJSONObject(expected));
}

void TestWireTypes::publishStateDefaultsAndFlags()
{
    const auto bare = sharedJSONDecode<PublishResp>(R"({"published":true})");
    QVERIFY(bare.published);
    QVERIFY(!bare.commentsAllowed());
    QVERIFY(!bare.subpagesIncluded());
    QCOMPARE(bare.views(), 0);
    QVERIFY(!bare.passwordSet());
    QVERIFY(!bare.slug && !bare.url);

    // Only exactly 1 switches a setting on.
    for (const auto &[flag, on] : {std::pair{0, false}, {1, true}, {2, false}, {-1, false}}) {
        const auto r = sharedJSONDecode<PublishResp>(QByteArray(R"({"published":true,"allow_comments":)") +
                                                     QByteArray::number(flag) + R"(,"include_subpages":)" +
                                                     QByteArray::number(flag) + "}");
        QCOMPARE(r.commentsAllowed(), on);
        QCOMPARE(r.subpagesIncluded(), on);
    }
    const auto full = sharedJSONDecode<PublishResp>(
        R"({"published":true,"slug":"s","url":"https://x/p/s","view_count":12,"has_password":true})");
    QCOMPARE(full.views(), 12);
    QVERIFY(full.passwordSet());
    QCOMPARE(full.url, QString("https://x/p/s"));
}

void TestWireTypes::int64IdsExact_data()
{
    QTest::addColumn<qint64>("id");
    QTest::newRow("2^53 + 1") << qint64(9007199254740993);
    QTest::newRow("max") << std::numeric_limits<qint64>::max();
    QTest::newRow("min") << std::numeric_limits<qint64>::min();
}

void TestWireTypes::int64IdsExact()
{
    QFETCH(qint64, id);
    const QByteArray text = QByteArray::number(id);
    const auto page = sharedJSONDecode<PageDTO>(replace(kPage, R"("id":1)", "\"id\":" + text));
    QCOMPARE(page.id, id);
    QVERIFY(sharedJSONEncode(page).contains("\"id\":" + text + ","));

    const auto status = sharedJSONDecode<PageStatusesResp>(
        R"({"statuses":{")" + text + R"(":{"published":false,"shared_count":)" + text + "}}}");
    QCOMPARE(status.statuses.value(QString::fromLatin1(text)).shared_count, id);
    QVERIFY(sharedJSONEncode(SyncReq{id}).contains(text));
}

void TestWireTypes::unknownKeysIgnored()
{
    const auto auth = sharedJSONDecode<AuthResp>(
        replace(kAuth, R"("token":"t")", R"("token":"t","extra":{"a":[1,null]},"expires":1.5)"));
    QCOMPARE(auth.user, (AuthUser{1, "Ann", "a@x.io"}));
    QCOMPARE(auth.workspace_id, 3);
    const auto page =
        sharedJSONDecode<PageDTO>(replace(kPage, R"("title":"T")", R"("title":"T","deleted":true)"));
    QCOMPARE(page.title, QString("T"));
    QVERIFY(!written(page).count(QStringLiteral("deleted")));
}

void TestWireTypes::pageStatusesKeyedByDecimalId()
{
    const auto r = sharedJSONDecode<PageStatusesResp>(
        R"({"statuses":{"12":{"published":true,"shared_count":3},"40":{"published":false,"shared_count":0}}})");
    QCOMPARE(r.statuses.size(), 2);
    QVERIFY(r.statuses.value("12").published);
    QCOMPARE(r.statuses.value("12").shared_count, 3);
    QVERIFY(!r.statuses.value("40").published);
}

// The outbox stores these bodies as text and the push reads them back: nothing may change on the way.
void TestWireTypes::roundTripsOfStoredBodies()
{
    PagePatchReq patch;
    patch.page_id = 9;
    patch.cover_url = QString("");
    patch.cover_offset_x = 50;
    patch.cover_offset_y = 0;
    const QByteArray patchText = sharedJSONEncode(patch);
    QCOMPARE(sharedJSONEncode(sharedJSONDecode<PagePatchReq>(patchText)), patchText);
    QCOMPARE(sharedJSONDecode<PagePatchReq>(patchText).cover_url, QString(""));

    const QByteArray createText = sharedJSONEncode(PageCreateReq{7, 3, "T", "", 1});
    QCOMPARE(sharedJSONEncode(sharedJSONDecode<PageCreateReq>(createText)), createText);

    const JSONObject content{{"text", "a"},
                             {"items", JSONArray{1, "two", nullptr, JSONArray{true}}},
                             {"meta", JSONObject{{"n", 2.5}}}};
    const BlocksUpsertReq upsert{
        3, {BlockUpsertItem{"L1", 44, "todo", content, 2, 40}, BlockUpsertItem{"L2", {}, "text", {}, 3, {}}}};
    const QByteArray upsertText = sharedJSONEncode(upsert);
    const auto back = sharedJSONDecode<BlocksUpsertReq>(upsertText);
    QCOMPARE(back.blocks.size(), size_t(2));
    QCOMPARE(back.blocks[0].content, content);
    QCOMPARE(sharedJSONEncode(back), upsertText);

    const PageDTO page{1, 2, 3, 4, "T", "📄", 5, "https://x/c.png", 50, 40, 9, "c", "u"};
    QCOMPARE(sharedJSONDecode<PageDTO>(sharedJSONEncode(page)), page);
    const FolderDTO folder{1, 2, 3, "F", "📁", 0, "c", {}};
    QCOMPARE(sharedJSONDecode<FolderDTO>(sharedJSONEncode(folder)), folder);
    const WorkspaceDTO workspace{1, "W", 2, "editor", {}};
    QCOMPARE(sharedJSONDecode<WorkspaceDTO>(sharedJSONEncode(workspace)), workspace);
    const BlockDTO block{1, 2, {}, "text", content, 0};
    QCOMPARE(sharedJSONDecode<BlockDTO>(sharedJSONEncode(block)), block);
    const DBColumnDTO column{"c2", "Status", "select", {{"Todo", "Doing", "Done"}}};
    QCOMPARE(sharedJSONDecode<DBColumnDTO>(sharedJSONEncode(column)), column);
}

void TestWireTypes::equalityAndHashing()
{
    const auto a = sharedJSONDecode<PageDTO>(kPage);
    auto b = a;
    b.icon = QString("📄");
    QVERIFY(a != b);
    b.icon.reset();
    QCOMPARE(qHash(a), qHash(b));

    // Key order in content carries no meaning.
    const auto x =
        sharedJSONDecode<BlockDTO>(replace(kBlock, R"("content":{})", R"("content":{"a":1,"b":"t"})"));
    const auto y =
        sharedJSONDecode<BlockDTO>(replace(kBlock, R"("content":{})", R"("content":{"b":"t","a":1})"));
    QCOMPARE(x, y);
    QCOMPARE(qHash(x), qHash(y));

    const auto db1 = sharedJSONDecode<DatabaseResp>(wrap("database", kDatabase)).database;
    auto db2 = db1;
    QCOMPARE(qHash(db1), qHash(db2));
    db2.rows[0].data[QStringLiteral("c1")] = "y";
    QVERIFY(db1 != db2);
}

QTEST_GUILESS_MAIN(TestWireTypes)
#include "tst_wire_types.moc"
