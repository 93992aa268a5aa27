#include "api/service_client.h"
#include "fake-service/fake_service.h"
#include "support/device_services.h"
#include "support/task_outcome.h"

#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

const QString kToken = QStringLiteral("tok-abc");

using Send = std::function<void()>;

template <typename MakeTask>
Send sending(MakeTask make)
{
    // What the fake received is under test here, not the outcome.
    return [make] { (void)runTask(make()); };
}

#define SEND(expr) sending([this] { return expr; })

const QStringList kPaths = {
    "/api/auth/login.php",
    "/api/auth/signup.php",
    "/api/auth/logout.php",
    "/api/pages.php",
    "/api/blocks.php",
    "/api/sync.php",
    "/api/bookmark-fetch.php",
    "/api/comments.php",
    "/api/workspaces.php",
    "/api/folders.php",
    "/api/page-status.php",
    "/api/search.php",
    "/api/databases.php",
    "/api/database-rows.php",
    "/api/share.php",
    "/api/publish.php",
    "/api/suggestions.php",
    "/api/versions.php",
    "/api/ai.php",
};

QList<QByteArray> ourHeaderOrder(const HttpRequest &r, const QList<QByteArray> &names)
{
    QList<QByteArray> seen;
    for (const auto &name : r.headerNames()) {
        if (names.contains(name.toLower()))
            seen.append(name.toLower());
    }
    return seen;
}

} // namespace

Q_DECLARE_METATYPE(Send)
Q_DECLARE_METATYPE(FakeService::Fault)
Q_DECLARE_METATYPE(APIError::Kind)

class TestServiceClient : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void catalogueSendsMethodPathAndBody_data();
    void catalogueSendsMethodPathAndBody();
    void searchTextReachesServiceAsTyped_data();
    void searchTextReachesServiceAsTyped();
    void malformedReplyIsDecoding();

    void restoreRequestIsExact();
    void restoreFailuresAreReported_data();
    void restoreFailuresAreReported();

    // Each family end to end against the fake's own routes: its replies decode into their types.
    void accountsEndToEnd();
    void pagesAndTrashEndToEnd();
    void blocksAndSyncEndToEnd();
    void foldersEndToEnd();
    void searchEndToEnd();
    void bookmarkEndToEnd();
    void commentsEndToEnd();
    void sharingEndToEnd();
    void publishingEndToEnd();
    void suggestionsEndToEnd();
    void versionsEndToEnd();
    void aiEndToEnd();
    void databasesEndToEnd();

private:
    // The client, its session signed in with `token`.
    ServiceClient &as(const QString &token);
    FakeService::Account freshAccount(QString *email = nullptr);
    qint64 createPage(const FakeService::Account &account, const QString &title);

    FakeService m_fake;
    int m_accounts = 0;
    QTemporaryDir m_dir;
    std::unique_ptr<DeviceServices> m_world; // a fresh one per test, at the fake
};

ServiceClient &TestServiceClient::as(const QString &token)
{
    m_world->setToken(token);
    return m_world->client;
}

// Runs one call and hands back its value, failing the test (by returning empty) when it threw.
#define EXPECT_OK(var, task)                                                                                 \
    const auto var##Outcome = runTask(task);                                                                 \
    QVERIFY2(var##Outcome.ok(), qPrintable(var##Outcome.errorText()));                                       \
    const auto &var = *var##Outcome.value

FakeService::Account TestServiceClient::freshAccount(QString *email)
{
    const int n = ++m_accounts;
    const QString address = QStringLiteral("user%1@example.com").arg(n);
    if (email)
        *email = address;
    return m_fake.createAccount(address, QStringLiteral("secret%1").arg(n), QStringLiteral("User %1").arg(n));
}

qint64 TestServiceClient::createPage(const FakeService::Account &account, const QString &title)
{
    const auto out = runTask(as(account.token).createPage({account.workspaceId, {}, title, "", 0}));
    return out.ok() ? out.value->page.id : 0;
}

void TestServiceClient::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestServiceClient::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
    m_fake.setOffline(false);
    m_world.reset();
    m_world = std::make_unique<DeviceServices>(m_dir.filePath(QStringLiteral("settings.ini")),
                                               std::make_shared<MemorySecretBackend>(), m_fake.origin());
}

void TestServiceClient::catalogueSendsMethodPathAndBody_data()
{
    QTest::addColumn<Send>("send");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("body"); // empty: no body at all
    QTest::addColumn<bool>("authorized");

    const qint64 big = 9007199254740993; // past the exact range of a double

    QTest::newRow("login") << SEND(as(kToken).login({"a@x.io", "pw", "Mac"})) << QByteArray("POST")
                           << QByteArray("/api/auth/login.php")
                           << QByteArray(R"({"email":"a@x.io","password":"pw","device_label":"Mac"})")
                           << false;
    QTest::newRow("signup") << SEND(as(kToken).signup({"a@x.io", "pw", "Ann", "Mac"})) << QByteArray("POST")
                            << QByteArray("/api/auth/signup.php")
                            << QByteArray(
                                   R"({"email":"a@x.io","password":"pw","name":"Ann","device_label":"Mac"})")
                            << false;
    QTest::newRow("logout") << SEND(as(kToken).logout(kToken)) << QByteArray("POST")
                            << QByteArray("/api/auth/logout.php") << QByteArray(R"({"device":"logout"})")
                            << true;
    QTest::newRow("create page") << SEND(as(kToken).createPage({7, {}, "T", "", 2})) << QByteArray("POST")
                                 << QByteArray("/api/pages.php")
                                 << QByteArray(R"({"workspace_id":7,"title":"T","icon":"","position":2})")
                                 << true;
    QTest::newRow("patch page") << SEND(as(kToken).patchPage({9, "New", {}, {}, {}, {}, {}, {}}))
                                << QByteArray("PATCH") << QByteArray("/api/pages.php")
                                << QByteArray(R"({"page_id":9,"title":"New"})") << true;
    QTest::newRow("delete page") << SEND(as(kToken).deletePage(42)) << QByteArray("DELETE")
                                 << QByteArray("/api/pages.php?page_id=42") << QByteArray() << true;
    QTest::newRow("upsert blocks")
        << SEND(as(kToken).upsertBlocks({3, {{"L1", 5, "text", {{"text", "a"}}, 0, {}}}}))
        << QByteArray("POST") << QByteArray("/api/blocks.php")
        << QByteArray(
               R"({"page_id":3,"blocks":[{"client_id":"L1","id":5,"type":"text","content":{"text":"a"},)"
               R"("position":0}]})")
        << true;
    QTest::newRow("delete block") << SEND(as(kToken).deleteBlock(big)) << QByteArray("DELETE")
                                  << QByteArray("/api/blocks.php?block_id=9007199254740993") << QByteArray()
                                  << true;
    QTest::newRow("sync") << SEND(as(kToken).sync({1700000000123})) << QByteArray("POST")
                          << QByteArray("/api/sync.php") << QByteArray(R"({"since_ts":1700000000123})")
                          << true;
    QTest::newRow("fetch blocks") << SEND(as(kToken).fetchBlocks(8)) << QByteArray("GET")
                                  << QByteArray("/api/blocks.php?page_id=8") << QByteArray() << true;
    QTest::newRow("fetch bookmark") << SEND(as(kToken).fetchBookmark("https://e.com/a?b=1&c"))
                                    << QByteArray("POST") << QByteArray("/api/bookmark-fetch.php")
                                    << QByteArray(R"({"url":"https://e.com/a?b=1&c"})") << true;
    QTest::newRow("create comment") << SEND(as(kToken).createComment({2, 8, "b", 0, 3, "abc"}))
                                    << QByteArray("POST") << QByteArray("/api/comments.php")
                                    << QByteArray(
                                           R"({"page_id":2,"block_id":8,"body":"b","selection_start":0,)"
                                           R"("selection_length":3,"selection_text":"abc"})")
                                    << true;
    QTest::newRow("list comments") << SEND(as(kToken).listComments(2)) << QByteArray("GET")
                                   << QByteArray("/api/comments.php?page_id=2") << QByteArray() << true;
    QTest::newRow("list workspaces") << SEND(as(kToken).listWorkspaces()) << QByteArray("GET")
                                     << QByteArray("/api/workspaces.php") << QByteArray() << true;
    QTest::newRow("list folders") << SEND(as(kToken).listFolders(7)) << QByteArray("GET")
                                  << QByteArray("/api/folders.php?workspace_id=7") << QByteArray() << true;
    QTest::newRow("list pages") << SEND(as(kToken).listPages(7)) << QByteArray("GET")
                                << QByteArray("/api/pages.php?workspace_id=7") << QByteArray() << true;
    QTest::newRow("page statuses") << SEND(as(kToken).pageStatuses(7)) << QByteArray("GET")
                                   << QByteArray("/api/page-status.php?workspace_id=7") << QByteArray()
                                   << true;
    QTest::newRow("search") << SEND(as(kToken).search(7, "notes")) << QByteArray("GET")
                            << QByteArray("/api/search.php?workspace_id=7&q=notes") << QByteArray() << true;
    QTest::newRow("create folder") << SEND(as(kToken).createFolder({7, 3, "F", "📁"})) << QByteArray("POST")
                                   << QByteArray("/api/folders.php")
                                   << QByteArray(
                                          R"({"workspace_id":7,"parent_folder_id":3,"name":"F","icon":"📁"})")
                                   << true;
    QTest::newRow("re-parent folder")
        << SEND(as(kToken).patchFolder({5, {}, {}, {}, 3})) << QByteArray("PATCH")
        << QByteArray("/api/folders.php") << QByteArray(R"({"folder_id":5,"parent_folder_id":3})") << true;
    QTest::newRow("move page to top level")
        << SEND(as(kToken).movePage({12, {}})) << QByteArray("PATCH")
        << QByteArray("/api/folders.php?move_page=1") << QByteArray(R"({"page_id":12})") << true;
    QTest::newRow("delete folder") << SEND(as(kToken).deleteFolder(5)) << QByteArray("DELETE")
                                   << QByteArray("/api/folders.php?folder_id=5") << QByteArray() << true;
    QTest::newRow("list trash") << SEND(as(kToken).listTrash(7)) << QByteArray("GET")
                                << QByteArray("/api/pages.php?workspace_id=7&trash=1") << QByteArray()
                                << true;
    QTest::newRow("purge page") << SEND(as(kToken).purgePage(42)) << QByteArray("DELETE")
                                << QByteArray("/api/pages.php?page_id=42&permanent=1") << QByteArray()
                                << true;
    QTest::newRow("list databases") << SEND(as(kToken).listDatabases(2)) << QByteArray("GET")
                                    << QByteArray("/api/databases.php?page_id=2") << QByteArray() << true;
    QTest::newRow("create database")
        << SEND(as(kToken).createDatabase({2, "Tasks", std::vector<DBColumnDTO>{{"c1", "Name", "text", {}}}}))
        << QByteArray("POST") << QByteArray("/api/databases.php")
        << QByteArray(R"({"page_id":2,"name":"Tasks","columns":[{"id":"c1","name":"Name","type":"text"}]})")
        << true;
    QTest::newRow("create row") << SEND(as(kToken).createRow({6, {}, 4})) << QByteArray("POST")
                                << QByteArray("/api/database-rows.php")
                                << QByteArray(R"({"database_id":6,"data":{},"position":4})") << true;
    QTest::newRow("patch row") << SEND(as(kToken).patchRow({5, JSONObject{{"c1", "x"}}, {}}))
                               << QByteArray("PATCH") << QByteArray("/api/database-rows.php")
                               << QByteArray(R"({"row_id":5,"data":{"c1":"x"}})") << true;
    QTest::newRow("list shares") << SEND(as(kToken).listShares(2)) << QByteArray("GET")
                                 << QByteArray("/api/share.php?page_id=2") << QByteArray() << true;
    QTest::newRow("share") << SEND(as(kToken).share({2, "e@x.io", "edit", {}})) << QByteArray("POST")
                           << QByteArray("/api/share.php")
                           << QByteArray(R"({"page_id":2,"email":"e@x.io","role":"edit"})") << true;
    QTest::newRow("remove share") << SEND(as(kToken).removeShare(2, 31)) << QByteArray("DELETE")
                                  << QByteArray("/api/share.php?page_id=2&share_id=31") << QByteArray()
                                  << true;
    QTest::newRow("remove invite") << SEND(as(kToken).removeInvite(2, 32)) << QByteArray("DELETE")
                                   << QByteArray("/api/share.php?page_id=2&invite_id=32") << QByteArray()
                                   << true;
    QTest::newRow("get publish") << SEND(as(kToken).getPublish(2)) << QByteArray("GET")
                                 << QByteArray("/api/publish.php?page_id=2") << QByteArray() << true;
    QTest::newRow("publish") << SEND(as(kToken).publish({2, "pw", true, false})) << QByteArray("POST")
                             << QByteArray("/api/publish.php")
                             << QByteArray(R"({"page_id":2,"password":"pw","allow_comments":true,)"
                                           R"("include_subpages":false})")
                             << true;
    QTest::newRow("unpublish") << SEND(as(kToken).unpublish(2)) << QByteArray("DELETE")
                               << QByteArray("/api/publish.php?page_id=2") << QByteArray() << true;
    QTest::newRow("list suggestions") << SEND(as(kToken).listSuggestions(2)) << QByteArray("GET")
                                      << QByteArray("/api/suggestions.php?page_id=2") << QByteArray() << true;
    QTest::newRow("decide suggestion") << SEND(as(kToken).decideSuggestion({4, "accepted"}))
                                       << QByteArray("PATCH") << QByteArray("/api/suggestions.php")
                                       << QByteArray(R"({"suggestion_id":4,"status":"accepted"})") << true;
    QTest::newRow("list versions") << SEND(as(kToken).listVersions(2)) << QByteArray("GET")
                                   << QByteArray("/api/versions.php?page_id=2") << QByteArray() << true;
    QTest::newRow("restore version") << SEND(as(kToken).restoreVersion({11})) << QByteArray("PATCH")
                                     << QByteArray("/api/versions.php")
                                     << QByteArray(R"({"version_id":11,"restore":true})") << true;
    QTest::newRow("run AI") << SEND(as(kToken).runAI({"ask", 2, {}, "why?", {}})) << QByteArray("POST")
                            << QByteArray("/api/ai.php")
                            << QByteArray(R"({"action":"ask","page_id":2,"prompt":"why?"})") << true;
}

void TestServiceClient::catalogueSendsMethodPathAndBody()
{
    QFETCH(Send, send);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, body);
    QFETCH(bool, authorized);

    for (const QString &path : kPaths)
        m_fake.setFault(path, FakeService::Fault::http(200, "{}"));
    send();

    QCOMPARE(m_fake.requests().size(), 1);
    const HttpRequest r = m_fake.lastRequest();
    QCOMPARE(r.method, method);
    QCOMPARE(r.target, target);
    if (body.isEmpty())
        QCOMPARE(r.body, QByteArray());
    else
        QCOMPARE(parseJSONObject(r.body), parseJSONObject(body));
    QCOMPARE(r.header("Content-Type").value_or(""), QByteArray("application/json"));
    if (authorized)
        QCOMPARE(r.header("Authorization").value_or(""), "Bearer " + kToken.toUtf8());
    else
        QVERIFY(!r.header("Authorization").has_value());
}

void TestServiceClient::searchTextReachesServiceAsTyped_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("two words") << "two words" << QByteArray("two%20words");
    QTest::newRow("ampersand") << "R&D" << QByteArray("R%26D");
    QTest::newRow("plus signs") << "C++" << QByteArray("C%2B%2B");
    QTest::newRow("smuggled parameter") << "x&workspace_id=9" << QByteArray("x%26workspace_id%3D9");
    QTest::newRow("hash and percent") << "#1 50%" << QByteArray("%231%2050%25");
    QTest::newRow("slash, question mark, colon, at") << "a/b?c:d@e" << QByteArray("a%2Fb%3Fc%3Ad%40e");
    QTest::newRow("non-ASCII as UTF-8") << "café 日本" << QByteArray("caf%C3%A9%20%E6%97%A5%E6%9C%AC");
    QTest::newRow("unreserved pass") << "Az09-._~" << QByteArray("Az09-._~");
}

void TestServiceClient::searchTextReachesServiceAsTyped()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, encoded);
    m_fake.setFault("/api/search.php", FakeService::Fault::http(200, R"({"pages":[]})"));

    const auto out = runTask(as(kToken).search(7, text));
    QVERIFY2(out.ok(), qPrintable(out.errorText()));
    const HttpRequest r = m_fake.lastRequest();
    QCOMPARE(r.target, "/api/search.php?workspace_id=7&q=" + encoded);
    QCOMPARE(r.queryValue("q"), text);
    QCOMPARE(r.queryValue("workspace_id"), QString("7"));
}

void TestServiceClient::malformedReplyIsDecoding()
{
    // An id sent as text fails the whole reply, whatever else it holds.
    m_fake.setFault(
        "/api/pages.php",
        FakeService::Fault::http(200, R"({"page":{"id":"1","workspace_id":2,"title":"T","position":0}})"));
    const auto out = runTask(as(kToken).createPage({7, {}, "T", "", 0}));
    QVERIFY(!out.ok());
    QVERIFY(out.apiError());
    QCOMPARE(out.apiError()->kind(), APIError::Kind::Decoding);
}

void TestServiceClient::restoreRequestIsExact()
{
    m_fake.setFault("/api/pages.php", FakeService::Fault::http(200, "not json at all"));
    const auto out = runTask(as(kToken).restorePage(9007199254740993));
    QVERIFY2(out.ok(), qPrintable(out.errorText()));

    const HttpRequest r = m_fake.lastRequest();
    QCOMPARE(r.method, QByteArray("PATCH"));
    QCOMPARE(r.target, QByteArray("/api/pages.php"));
    const JSONObject body = parseJSONObject(r.body);
    QCOMPARE(body, (JSONObject{{"page_id", qint64(9007199254740993)}, {"restore", 1}}));
    QVERIFY(body.at("restore").isInt()); // the integer 1, not true

    QCOMPARE(r.header("Content-Type").value_or(""), QByteArray("application/json"));
    QCOMPARE(r.header("Authorization").value_or(""), "Bearer " + kToken.toUtf8());
    QCOMPARE(r.header("User-Agent").value_or(""), QByteArray(APIClient::kUserAgent));
    QVERIFY(!r.header("Accept").has_value());
    QCOMPARE(ourHeaderOrder(r, {"content-type", "authorization", "user-agent"}),
             (QList<QByteArray>{"content-type", "authorization", "user-agent"}));
}

void TestServiceClient::restoreFailuresAreReported_data()
{
    QTest::addColumn<FakeService::Fault>("fault");
    QTest::addColumn<APIError::Kind>("kind");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("body");
    QTest::newRow("404") << FakeService::Fault::http(404, R"({"error":"Page not found"})")
                         << APIError::Kind::Http << 404 << R"({"error":"Page not found"})";
    QTest::newRow("500") << FakeService::Fault::http(500, "boom") << APIError::Kind::Http << 500 << "boom";
    QTest::newRow("401") << FakeService::Fault::http(401, R"({"error":"x"})") << APIError::Kind::Http << 401
                         << "Unauthorized";
    QTest::newRow("dropped") << FakeService::Fault::drop() << APIError::Kind::Network << 0 << QString();
}

void TestServiceClient::restoreFailuresAreReported()
{
    QFETCH(FakeService::Fault, fault);
    QFETCH(APIError::Kind, kind);
    QFETCH(int, status);
    QFETCH(QString, body);
    m_fake.setFault("/api/pages.php", fault);

    const auto out = runTask(as(kToken).restorePage(5));
    QVERIFY(out.finished);
    QVERIFY(out.apiError());
    QCOMPARE(out.apiError()->kind(), kind);
    if (kind == APIError::Kind::Http) {
        QCOMPARE(out.apiError()->status(), status);
        QCOMPARE(out.apiError()->body(), body);
    }
}

void TestServiceClient::accountsEndToEnd()
{
    EXPECT_OK(signedUp, as(kToken).signup({"new@example.com", "secret99", "New", "Mac"}));
    QVERIFY(!signedUp.token.isEmpty());
    QCOMPARE(signedUp.user.email, QString("new@example.com"));
    QCOMPARE(signedUp.user.name, QString("New"));

    EXPECT_OK(loggedIn, as(kToken).login({"new@example.com", "secret99", "Mac"}));
    QCOMPARE(loggedIn.user, signedUp.user);

    EXPECT_OK(workspaces, as(loggedIn.token).listWorkspaces());
    QVERIFY(!workspaces.workspaces.empty());
    if (signedUp.workspace_id)
        QCOMPARE(workspaces.workspaces.front().id, *signedUp.workspace_id);

    QVERIFY(runTask(as(loggedIn.token).logout(loggedIn.token)).ok());
    const auto after = runTask(as(loggedIn.token).listWorkspaces());
    QVERIFY(after.apiError());
    QCOMPARE(after.apiError()->status(), 401);
}

void TestServiceClient::pagesAndTrashEndToEnd()
{
    const auto account = freshAccount();
    EXPECT_OK(created, as(account.token).createPage({account.workspaceId, {}, "Plans", "📄", 0}));
    const qint64 pageId = created.page.id;
    QVERIFY(pageId > 0);
    QCOMPARE(created.page.workspace_id, account.workspaceId);

    PagePatchReq cover;
    cover.page_id = pageId;
    cover.cover_url = QString("https://example.com/c.png");
    cover.cover_offset_x = 20;
    cover.cover_offset_y = 80;
    EXPECT_OK(patched, as(account.token).patchPage(cover));
    QCOMPARE(patched.page.cover_url, cover.cover_url);
    QCOMPARE(patched.page.cover_offset_y, 80);
    QCOMPARE(patched.page.title, QString("Plans"));

    EXPECT_OK(listed, as(account.token).listPages(account.workspaceId));
    QCOMPARE(listed.pages.size(), size_t(1));
    QCOMPARE(listed.pages.front(), patched.page);
    EXPECT_OK(statuses, as(account.token).pageStatuses(account.workspaceId));
    for (auto it = statuses.statuses.cbegin(); it != statuses.statuses.cend(); ++it)
        QCOMPARE(it.key(), QString::number(pageId));

    QVERIFY(runTask(as(account.token).deletePage(pageId)).ok());
    EXPECT_OK(trash, as(account.token).listTrash(account.workspaceId));
    QCOMPARE(trash.pages.size(), size_t(1));
    QCOMPARE(trash.pages.front().id, pageId);

    const auto restored = runTask(as(account.token).restorePage(pageId));
    QVERIFY2(restored.ok(), qPrintable(restored.errorText()));
    EXPECT_OK(back, as(account.token).listPages(account.workspaceId));
    QCOMPARE(back.pages.size(), size_t(1));

    QVERIFY(runTask(as(account.token).deletePage(pageId)).ok());
    QVERIFY(runTask(as(account.token).purgePage(pageId)).ok());
    EXPECT_OK(emptied, as(account.token).listTrash(account.workspaceId));
    QVERIFY(emptied.pages.empty());
    // A purged page cannot come back, and the restore says so.
    const auto gone = runTask(as(account.token).restorePage(pageId));
    QVERIFY(gone.apiError());
    QCOMPARE(gone.apiError()->kind(), APIError::Kind::Http);
}

void TestServiceClient::blocksAndSyncEndToEnd()
{
    const auto account = freshAccount();
    const qint64 pageId = createPage(account, "Blocks");
    QVERIFY(pageId > 0);

    const JSONObject content{{"text", "hello"}, {"checked", false}};
    EXPECT_OK(acks, as(account.token)
                        .upsertBlocks(
                            {pageId,
                             {{"local-1", {}, "todo", content, 0, {}}, {"local-2", {}, "text", {}, 1, {}}}}));
    QCOMPARE(acks.blocks.size(), size_t(2));
    QCOMPARE(acks.blocks[0].client_id, QString("local-1"));
    QVERIFY(acks.blocks[0].id > 0 && acks.blocks[1].id > 0 && acks.blocks[0].id != acks.blocks[1].id);

    EXPECT_OK(blocks, as(account.token).fetchBlocks(pageId));
    QCOMPARE(blocks.blocks.size(), size_t(2));
    const auto first = std::find_if(blocks.blocks.begin(), blocks.blocks.end(),
                                    [&](const BlockDTO &b) { return b.id == acks.blocks[0].id; });
    QVERIFY(first != blocks.blocks.end());
    QCOMPARE(first->content, content);
    QCOMPARE(first->type, QString("todo"));

    QVERIFY(runTask(as(account.token).deleteBlock(acks.blocks[1].id)).ok());
    EXPECT_OK(pulled, as(account.token).sync({0}));
    QVERIFY(pulled.server_ts > 0);
    const auto changes = [&](const QString &type, qint64 id) {
        return std::count_if(pulled.ops.begin(), pulled.ops.end(), [&](const SyncOpDTO &op) {
            return op.entity_type == type && op.entity_id == id;
        });
    };
    QVERIFY(changes("page", pageId) > 0);
    QVERIFY(changes("block", acks.blocks[0].id) > 0);
    QVERIFY(changes("block", acks.blocks[1].id) > 0);

    EXPECT_OK(nothingNew, as(account.token).sync({pulled.server_ts}));
    QVERIFY(nothingNew.ops.empty());
}

void TestServiceClient::foldersEndToEnd()
{
    const auto account = freshAccount();
    EXPECT_OK(outer, as(account.token).createFolder({account.workspaceId, {}, "Outer", "📁"}));
    EXPECT_OK(inner, as(account.token).createFolder({account.workspaceId, {}, "Inner", "🗂"}));
    QVERIFY(!outer.folder.parent_folder_id);

    QVERIFY(runTask(as(account.token).patchFolder({inner.folder.id, "Renamed", {}, {}, {}})).ok());
    QVERIFY(runTask(as(account.token).patchFolder({inner.folder.id, {}, {}, {}, outer.folder.id})).ok());
    const qint64 pageId = createPage(account, "Filed");
    QVERIFY(runTask(as(account.token).movePage({pageId, inner.folder.id})).ok());

    EXPECT_OK(folders, as(account.token).listFolders(account.workspaceId));
    QCOMPARE(folders.folders.size(), size_t(2));
    const auto moved = std::find_if(folders.folders.begin(), folders.folders.end(),
                                    [&](const FolderDTO &f) { return f.id == inner.folder.id; });
    QVERIFY(moved != folders.folders.end());
    QCOMPARE(moved->name, QString("Renamed"));
    QCOMPARE(moved->parent_folder_id, outer.folder.id);
    EXPECT_OK(filed, as(account.token).listPages(account.workspaceId));
    QCOMPARE(filed.pages.front().folder_id, inner.folder.id);

    QVERIFY(runTask(as(account.token).movePage({pageId, {}})).ok());
    EXPECT_OK(top, as(account.token).listPages(account.workspaceId));
    QVERIFY(!top.pages.front().folder_id);

    QVERIFY(runTask(as(account.token).deleteFolder(outer.folder.id)).ok());
    EXPECT_OK(left, as(account.token).listFolders(account.workspaceId));
    QVERIFY(std::none_of(left.folders.begin(), left.folders.end(),
                         [&](const FolderDTO &f) { return f.id == outer.folder.id; }));
}

void TestServiceClient::searchEndToEnd()
{
    const auto account = freshAccount();
    const qint64 wanted = createPage(account, "R&D budget");
    createPage(account, "Holiday");

    EXPECT_OK(hits, as(account.token).search(account.workspaceId, "R&D"));
    QCOMPARE(hits.pages.size(), size_t(1));
    QCOMPARE(hits.pages.front().id, wanted);
    QCOMPARE(hits.pages.front().title, QString("R&D budget"));

    // Text that looks like another parameter stays text and cannot switch the workspace.
    const auto other = freshAccount();
    createPage(other, "secret");
    const QString smuggled = QStringLiteral("x&workspace_id=") + QString::number(other.workspaceId);
    EXPECT_OK(none, as(account.token).search(account.workspaceId, smuggled));
    QVERIFY(none.pages.empty());
}

void TestServiceClient::bookmarkEndToEnd()
{
    const auto account = freshAccount();
    EXPECT_OK(preview, as(account.token).fetchBookmark("https://example.com/articles/owls"));
    QVERIFY(preview.title && !preview.title->isEmpty());
}

void TestServiceClient::commentsEndToEnd()
{
    const auto account = freshAccount();
    const qint64 pageId = createPage(account, "Discussed");
    EXPECT_OK(added, as(account.token).createComment({pageId, {}, "Looks good", {}, {}, {}}));
    QCOMPARE(added.comment.body, QString("Looks good"));
    QCOMPARE(added.comment.page_id, pageId);
    QVERIFY(!added.comment.block_id);

    EXPECT_OK(listed, as(account.token).listComments(pageId));
    QCOMPARE(listed.comments.size(), size_t(1));
    QCOMPARE(listed.comments.front().id, added.comment.id);
}

void TestServiceClient::sharingEndToEnd()
{
    const auto owner = freshAccount();
    QString friendEmail;
    const auto friendAccount = freshAccount(&friendEmail);
    const qint64 pageId = createPage(owner, "Shared");

    EXPECT_OK(shared, as(owner.token).share({pageId, friendEmail, "comment", {}}));
    QCOMPARE(shared.ok, true);
    EXPECT_OK(invited, as(owner.token).share({pageId, "stranger@example.com", "view", {}}));
    QCOMPARE(invited.ok, true);

    EXPECT_OK(access, as(owner.token).listShares(pageId));
    QCOMPARE(access.shares.size(), size_t(1));
    QCOMPARE(access.shares.front().shared_with_user_id, friendAccount.userId);
    QVERIFY(!access.shares.front().permissions.empty());
    QCOMPARE(access.invites.size(), size_t(1));
    QCOMPARE(access.invites.front().email, QString("stranger@example.com"));

    QVERIFY(runTask(as(owner.token).removeShare(pageId, access.shares.front().id)).ok());
    QVERIFY(runTask(as(owner.token).removeInvite(pageId, access.invites.front().id)).ok());
    EXPECT_OK(none, as(owner.token).listShares(pageId));
    QVERIFY(none.shares.empty() && none.invites.empty());
}

void TestServiceClient::publishingEndToEnd()
{
    const auto account = freshAccount();
    const qint64 pageId = createPage(account, "Public");
    EXPECT_OK(before, as(account.token).getPublish(pageId));
    QVERIFY(!before.published);

    EXPECT_OK(published, as(account.token).publish({pageId, "pw", true, false}));
    QVERIFY(published.published);
    QVERIFY(published.url && !published.url->isEmpty());
    EXPECT_OK(state, as(account.token).getPublish(pageId));
    QVERIFY(state.commentsAllowed());
    QVERIFY(!state.subpagesIncluded());
    QVERIFY(state.passwordSet());
    EXPECT_OK(badges, as(account.token).pageStatuses(account.workspaceId));
    QVERIFY(badges.statuses.contains(QString::number(pageId)));
    QVERIFY(badges.statuses.value(QString::number(pageId)).published);

    QVERIFY(runTask(as(account.token).unpublish(pageId)).ok());
    EXPECT_OK(after, as(account.token).getPublish(pageId));
    QVERIFY(!after.published);
}

void TestServiceClient::suggestionsEndToEnd()
{
    const auto account = freshAccount();
    const qint64 pageId = createPage(account, "Before");
    const qint64 id =
        m_fake.seedSuggestion(pageId, account.userId, "title_change", JSONObject{{"title", "After"}});

    EXPECT_OK(listed, as(account.token).listSuggestions(pageId));
    QCOMPARE(listed.suggestions.size(), size_t(1));
    QCOMPARE(listed.suggestions.front().id, id);
    QCOMPARE(listed.suggestions.front().status, QString("pending"));

    QVERIFY(runTask(as(account.token).decideSuggestion({id, "accepted"})).ok());
    EXPECT_OK(pages, as(account.token).listPages(account.workspaceId));
    QCOMPARE(pages.pages.front().title, QString("After"));
}

void TestServiceClient::versionsEndToEnd()
{
    const auto account = freshAccount();
    const qint64 pageId = createPage(account, "First");
    for (const char *title : {"Second", "Third"}) {
        PagePatchReq rename;
        rename.page_id = pageId;
        rename.title = QString::fromUtf8(title);
        QVERIFY(runTask(as(account.token).patchPage(rename)).ok());
    }

    EXPECT_OK(versions, as(account.token).listVersions(pageId));
    QVERIFY(versions.versions.size() >= 2);
    QCOMPARE(versions.versions.front().page_id, pageId);
    const auto oldest =
        std::min_element(versions.versions.begin(), versions.versions.end(),
                         [](const VersionDTO &a, const VersionDTO &b) { return a.id < b.id; });
    EXPECT_OK(ok, as(account.token).restoreVersion({oldest->id}));
    Q_UNUSED(ok);
    EXPECT_OK(pages, as(account.token).listPages(account.workspaceId));
    QVERIFY(pages.pages.front().title != QString("Third"));
}

void TestServiceClient::aiEndToEnd()
{
    const auto account = freshAccount();
    const qint64 pageId = createPage(account, "Essay");
    EXPECT_OK(first, as(account.token).runAI({"improve", pageId, "teh text", {}, {}}));
    QVERIFY(first.text && !first.text->isEmpty());
    QVERIFY(!first.error);
    EXPECT_OK(second, as(account.token).runAI({"improve", pageId, "teh text", {}, {}}));
    QCOMPARE(second.text, first.text);
    if (first.remaining_today && second.remaining_today)
        QCOMPARE(*second.remaining_today, *first.remaining_today - 1);
}

void TestServiceClient::databasesEndToEnd()
{
    const auto account = freshAccount();
    const qint64 pageId = createPage(account, "Tracker");
    const std::vector<DBColumnDTO> columns{{"c1", "Name", "text", {}},
                                           {"c2", "Status", "select", {{"Todo", "Doing", "Done"}}},
                                           {"c3", "Done", "checkbox", {}}};
    EXPECT_OK(created, as(account.token).createDatabase({pageId, "Tasks", columns}));
    QCOMPARE(created.database.columns, columns);
    QVERIFY(created.database.rows.empty());

    EXPECT_OK(row, as(account.token).createRow({created.database.id, {}, 0}));
    QVERIFY(row.row.data.empty());
    const JSONObject data{{"c1", "Write report"}, {"c3", true}};
    QVERIFY(runTask(as(account.token).patchRow({row.row.id, data, {}})).ok());

    EXPECT_OK(listed, as(account.token).listDatabases(pageId));
    QCOMPARE(listed.databases.size(), size_t(1));
    QCOMPARE(listed.databases.front().rows.size(), size_t(1));
    QCOMPARE(listed.databases.front().rows.front().data, data);
}

QTEST_GUILESS_MAIN(TestServiceClient)
#include "tst_service_client.moc"
