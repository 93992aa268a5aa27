#include "api/api_client.h"
#include "api/service_endpoints.h"
#include "fake-service/fake_service.h"
#include "support/task_outcome.h"

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

#define SEND(expr) sending([] { return expr; })

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

class TestServiceEndpoints : public QObject
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
    FakeService::Account freshAccount(QString *email = nullptr);
    qint64 createPage(const FakeService::Account &account, const QString &title);

    FakeService m_fake;
    int m_accounts = 0;
};

// Runs one call and hands back its value, failing the test (by returning empty) when it threw.
#define EXPECT_OK(var, task)                                                                                 \
    const auto var##Outcome = runTask(task);                                                                 \
    QVERIFY2(var##Outcome.ok(), qPrintable(var##Outcome.errorText()));                                       \
    const auto &var = *var##Outcome.value

FakeService::Account TestServiceEndpoints::freshAccount(QString *email)
{
    const int n = ++m_accounts;
    const QString address = QStringLiteral("user%1@example.com").arg(n);
    if (email)
        *email = address;
    return m_fake.createAccount(address, QStringLiteral("secret%1").arg(n), QStringLiteral("User %1").arg(n));
}

qint64 TestServiceEndpoints::createPage(const FakeService::Account &account, const QString &title)
{
    const auto out =
        runTask(ServiceEndpoints::createPage(account.token, {account.workspaceId, {}, title, "", 0}));
    return out.ok() ? out.value->page.id : 0;
}

void TestServiceEndpoints::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestServiceEndpoints::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
    m_fake.setOffline(false);
    APIClient::setBaseURL(m_fake.origin());
}

void TestServiceEndpoints::catalogueSendsMethodPathAndBody_data()
{
    QTest::addColumn<Send>("send");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("body"); // empty: no body at all
    QTest::addColumn<bool>("authorized");

    const qint64 big = 9007199254740993; // past the exact range of a double
    using S = ServiceEndpoints;

    QTest::newRow("login") << SEND(S::login({"a@x.io", "pw", "Mac"})) << QByteArray("POST")
                           << QByteArray("/api/auth/login.php")
                           << QByteArray(R"({"email":"a@x.io","password":"pw","device_label":"Mac"})")
                           << false;
    QTest::newRow("signup") << SEND(S::signup({"a@x.io", "pw", "Ann", "Mac"})) << QByteArray("POST")
                            << QByteArray("/api/auth/signup.php")
                            << QByteArray(
                                   R"({"email":"a@x.io","password":"pw","name":"Ann","device_label":"Mac"})")
                            << false;
    QTest::newRow("logout") << SEND(S::logout(kToken)) << QByteArray("POST")
                            << QByteArray("/api/auth/logout.php") << QByteArray(R"({"device":"logout"})")
                            << true;
    QTest::newRow("create page") << SEND(S::createPage(kToken, {7, {}, "T", "", 2})) << QByteArray("POST")
                                 << QByteArray("/api/pages.php")
                                 << QByteArray(R"({"workspace_id":7,"title":"T","icon":"","position":2})")
                                 << true;
    QTest::newRow("patch page") << SEND(S::patchPage(kToken, {9, "New", {}, {}, {}, {}, {}, {}}))
                                << QByteArray("PATCH") << QByteArray("/api/pages.php")
                                << QByteArray(R"({"page_id":9,"title":"New"})") << true;
    QTest::newRow("delete page") << SEND(S::deletePage(kToken, 42)) << QByteArray("DELETE")
                                 << QByteArray("/api/pages.php?page_id=42") << QByteArray() << true;
    QTest::newRow("upsert blocks")
        << SEND(S::upsertBlocks(kToken, {3, {{"L1", 5, "text", {{"text", "a"}}, 0, {}}}}))
        << QByteArray("POST") << QByteArray("/api/blocks.php")
        << QByteArray(
               R"({"page_id":3,"blocks":[{"client_id":"L1","id":5,"type":"text","content":{"text":"a"},)"
               R"("position":0}]})")
        << true;
    QTest::newRow("delete block") << SEND(S::deleteBlock(kToken, big)) << QByteArray("DELETE")
                                  << QByteArray("/api/blocks.php?block_id=9007199254740993") << QByteArray()
                                  << true;
    QTest::newRow("sync") << SEND(S::sync(kToken, {1700000000123})) << QByteArray("POST")
                          << QByteArray("/api/sync.php") << QByteArray(R"({"since_ts":1700000000123})")
                          << true;
    QTest::newRow("fetch blocks") << SEND(S::fetchBlocks(kToken, 8)) << QByteArray("GET")
                                  << QByteArray("/api/blocks.php?page_id=8") << QByteArray() << true;
    QTest::newRow("fetch bookmark") << SEND(S::fetchBookmark(kToken, "https://e.com/a?b=1&c"))
                                    << QByteArray("POST") << QByteArray("/api/bookmark-fetch.php")
                                    << QByteArray(R"({"url":"https://e.com/a?b=1&c"})") << true;
    QTest::newRow("create comment") << SEND(S::createComment(kToken, {2, 8, "b", 0, 3, "abc"}))
                                    << QByteArray("POST") << QByteArray("/api/comments.php")
                                    << QByteArray(
                                           R"({"page_id":2,"block_id":8,"body":"b","selection_start":0,)"
                                           R"("selection_length":3,"selection_text":"abc"})")
                                    << true;
    QTest::newRow("list comments") << SEND(S::listComments(kToken, 2)) << QByteArray("GET")
                                   << QByteArray("/api/comments.php?page_id=2") << QByteArray() << true;
    QTest::newRow("list workspaces") << SEND(S::listWorkspaces(kToken)) << QByteArray("GET")
                                     << QByteArray("/api/workspaces.php") << QByteArray() << true;
    QTest::newRow("list folders") << SEND(S::listFolders(kToken, 7)) << QByteArray("GET")
                                  << QByteArray("/api/folders.php?workspace_id=7") << QByteArray() << true;
    QTest::newRow("list pages") << SEND(S::listPages(kToken, 7)) << QByteArray("GET")
                                << QByteArray("/api/pages.php?workspace_id=7") << QByteArray() << true;
    QTest::newRow("page statuses") << SEND(S::pageStatuses(kToken, 7)) << QByteArray("GET")
                                   << QByteArray("/api/page-status.php?workspace_id=7") << QByteArray()
                                   << true;
    QTest::newRow("search") << SEND(S::search(kToken, 7, "notes")) << QByteArray("GET")
                            << QByteArray("/api/search.php?workspace_id=7&q=notes") << QByteArray() << true;
    QTest::newRow("create folder") << SEND(S::createFolder(kToken, {7, 3, "F", "📁"})) << QByteArray("POST")
                                   << QByteArray("/api/folders.php")
                                   << QByteArray(
                                          R"({"workspace_id":7,"parent_folder_id":3,"name":"F","icon":"📁"})")
                                   << true;
    QTest::newRow("re-parent folder")
        << SEND(S::patchFolder(kToken, {5, {}, {}, {}, 3})) << QByteArray("PATCH")
        << QByteArray("/api/folders.php") << QByteArray(R"({"folder_id":5,"parent_folder_id":3})") << true;
    QTest::newRow("move page to top level")
        << SEND(S::movePage(kToken, {12, {}})) << QByteArray("PATCH")
        << QByteArray("/api/folders.php?move_page=1") << QByteArray(R"({"page_id":12})") << true;
    QTest::newRow("delete folder") << SEND(S::deleteFolder(kToken, 5)) << QByteArray("DELETE")
                                   << QByteArray("/api/folders.php?folder_id=5") << QByteArray() << true;
    QTest::newRow("list trash") << SEND(S::listTrash(kToken, 7)) << QByteArray("GET")
                                << QByteArray("/api/pages.php?workspace_id=7&trash=1") << QByteArray()
                                << true;
    QTest::newRow("purge page") << SEND(S::purgePage(kToken, 42)) << QByteArray("DELETE")
                                << QByteArray("/api/pages.php?page_id=42&permanent=1") << QByteArray()
                                << true;
    QTest::newRow("list databases") << SEND(S::listDatabases(kToken, 2)) << QByteArray("GET")
                                    << QByteArray("/api/databases.php?page_id=2") << QByteArray() << true;
    QTest::newRow("create database")
        << SEND(S::createDatabase(kToken, {2, "Tasks", std::vector<DBColumnDTO>{{"c1", "Name", "text", {}}}}))
        << QByteArray("POST") << QByteArray("/api/databases.php")
        << QByteArray(R"({"page_id":2,"name":"Tasks","columns":[{"id":"c1","name":"Name","type":"text"}]})")
        << true;
    QTest::newRow("create row") << SEND(S::createRow(kToken, {6, {}, 4})) << QByteArray("POST")
                                << QByteArray("/api/database-rows.php")
                                << QByteArray(R"({"database_id":6,"data":{},"position":4})") << true;
    QTest::newRow("patch row") << SEND(S::patchRow(kToken, {5, JSONObject{{"c1", "x"}}, {}}))
                               << QByteArray("PATCH") << QByteArray("/api/database-rows.php")
                               << QByteArray(R"({"row_id":5,"data":{"c1":"x"}})") << true;
    QTest::newRow("list shares") << SEND(S::listShares(kToken, 2)) << QByteArray("GET")
                                 << QByteArray("/api/share.php?page_id=2") << QByteArray() << true;
    QTest::newRow("share") << SEND(S::share(kToken, {2, "e@x.io", "edit", {}})) << QByteArray("POST")
                           << QByteArray("/api/share.php")
                           << QByteArray(R"({"page_id":2,"email":"e@x.io","role":"edit"})") << true;
    QTest::newRow("remove share") << SEND(S::removeShare(kToken, 2, 31)) << QByteArray("DELETE")
                                  << QByteArray("/api/share.php?page_id=2&share_id=31") << QByteArray()
                                  << true;
    QTest::newRow("remove invite") << SEND(S::removeInvite(kToken, 2, 32)) << QByteArray("DELETE")
                                   << QByteArray("/api/share.php?page_id=2&invite_id=32") << QByteArray()
                                   << true;
    QTest::newRow("get publish") << SEND(S::getPublish(kToken, 2)) << QByteArray("GET")
                                 << QByteArray("/api/publish.php?page_id=2") << QByteArray() << true;
    QTest::newRow("publish") << SEND(S::publish(kToken, {2, "pw", true, false})) << QByteArray("POST")
                             << QByteArray("/api/publish.php")
                             << QByteArray(R"({"page_id":2,"password":"pw","allow_comments":true,)"
                                           R"("include_subpages":false})")
                             << true;
    QTest::newRow("unpublish") << SEND(S::unpublish(kToken, 2)) << QByteArray("DELETE")
                               << QByteArray("/api/publish.php?page_id=2") << QByteArray() << true;
    QTest::newRow("list suggestions") << SEND(S::listSuggestions(kToken, 2)) << QByteArray("GET")
                                      << QByteArray("/api/suggestions.php?page_id=2") << QByteArray() << true;
    QTest::newRow("decide suggestion") << SEND(S::decideSuggestion(kToken, {4, "accepted"}))
                                       << QByteArray("PATCH") << QByteArray("/api/suggestions.php")
                                       << QByteArray(R"({"suggestion_id":4,"status":"accepted"})") << true;
    QTest::newRow("list versions") << SEND(S::listVersions(kToken, 2)) << QByteArray("GET")
                                   << QByteArray("/api/versions.php?page_id=2") << QByteArray() << true;
    QTest::newRow("restore version") << SEND(S::restoreVersion(kToken, {11})) << QByteArray("PATCH")
                                     << QByteArray("/api/versions.php")
                                     << QByteArray(R"({"version_id":11,"restore":true})") << true;
    QTest::newRow("run AI") << SEND(S::runAI(kToken, {"ask", 2, {}, "why?", {}})) << QByteArray("POST")
                            << QByteArray("/api/ai.php")
                            << QByteArray(R"({"action":"ask","page_id":2,"prompt":"why?"})") << true;
}

void TestServiceEndpoints::catalogueSendsMethodPathAndBody()
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

void TestServiceEndpoints::searchTextReachesServiceAsTyped_data()
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

void TestServiceEndpoints::searchTextReachesServiceAsTyped()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, encoded);
    m_fake.setFault("/api/search.php", FakeService::Fault::http(200, R"({"pages":[]})"));

    const auto out = runTask(ServiceEndpoints::search(kToken, 7, text));
    QVERIFY2(out.ok(), qPrintable(out.errorText()));
    const HttpRequest r = m_fake.lastRequest();
    QCOMPARE(r.target, "/api/search.php?workspace_id=7&q=" + encoded);
    QCOMPARE(r.queryValue("q"), text);
    QCOMPARE(r.queryValue("workspace_id"), QString("7"));
}

void TestServiceEndpoints::malformedReplyIsDecoding()
{
    // An id sent as text fails the whole reply, whatever else it holds.
    m_fake.setFault(
        "/api/pages.php",
        FakeService::Fault::http(200, R"({"page":{"id":"1","workspace_id":2,"title":"T","position":0}})"));
    const auto out = runTask(ServiceEndpoints::createPage(kToken, {7, {}, "T", "", 0}));
    QVERIFY(!out.ok());
    QVERIFY(out.apiError());
    QCOMPARE(out.apiError()->kind(), APIError::Kind::Decoding);
}

void TestServiceEndpoints::restoreRequestIsExact()
{
    m_fake.setFault("/api/pages.php", FakeService::Fault::http(200, "not json at all"));
    const auto out = runTask(ServiceEndpoints::restorePage(kToken, 9007199254740993));
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

void TestServiceEndpoints::restoreFailuresAreReported_data()
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

void TestServiceEndpoints::restoreFailuresAreReported()
{
    QFETCH(FakeService::Fault, fault);
    QFETCH(APIError::Kind, kind);
    QFETCH(int, status);
    QFETCH(QString, body);
    m_fake.setFault("/api/pages.php", fault);

    const auto out = runTask(ServiceEndpoints::restorePage(kToken, 5));
    QVERIFY(out.finished);
    QVERIFY(out.apiError());
    QCOMPARE(out.apiError()->kind(), kind);
    if (kind == APIError::Kind::Http) {
        QCOMPARE(out.apiError()->status(), status);
        QCOMPARE(out.apiError()->body(), body);
    }
}

void TestServiceEndpoints::accountsEndToEnd()
{
    EXPECT_OK(signedUp, ServiceEndpoints::signup({"new@example.com", "secret99", "New", "Mac"}));
    QVERIFY(!signedUp.token.isEmpty());
    QCOMPARE(signedUp.user.email, QString("new@example.com"));
    QCOMPARE(signedUp.user.name, QString("New"));

    EXPECT_OK(loggedIn, ServiceEndpoints::login({"new@example.com", "secret99", "Mac"}));
    QCOMPARE(loggedIn.user, signedUp.user);

    EXPECT_OK(workspaces, ServiceEndpoints::listWorkspaces(loggedIn.token));
    QVERIFY(!workspaces.workspaces.empty());
    if (signedUp.workspace_id)
        QCOMPARE(workspaces.workspaces.front().id, *signedUp.workspace_id);

    QVERIFY(runTask(ServiceEndpoints::logout(loggedIn.token)).ok());
    const auto after = runTask(ServiceEndpoints::listWorkspaces(loggedIn.token));
    QVERIFY(after.apiError());
    QCOMPARE(after.apiError()->status(), 401);
}

void TestServiceEndpoints::pagesAndTrashEndToEnd()
{
    const auto account = freshAccount();
    EXPECT_OK(created,
              ServiceEndpoints::createPage(account.token, {account.workspaceId, {}, "Plans", "📄", 0}));
    const qint64 pageId = created.page.id;
    QVERIFY(pageId > 0);
    QCOMPARE(created.page.workspace_id, account.workspaceId);

    PagePatchReq cover;
    cover.page_id = pageId;
    cover.cover_url = QString("https://example.com/c.png");
    cover.cover_offset_x = 20;
    cover.cover_offset_y = 80;
    EXPECT_OK(patched, ServiceEndpoints::patchPage(account.token, cover));
    QCOMPARE(patched.page.cover_url, cover.cover_url);
    QCOMPARE(patched.page.cover_offset_y, 80);
    QCOMPARE(patched.page.title, QString("Plans"));

    EXPECT_OK(listed, ServiceEndpoints::listPages(account.token, account.workspaceId));
    QCOMPARE(listed.pages.size(), size_t(1));
    QCOMPARE(listed.pages.front(), patched.page);
    EXPECT_OK(statuses, ServiceEndpoints::pageStatuses(account.token, account.workspaceId));
    for (auto it = statuses.statuses.cbegin(); it != statuses.statuses.cend(); ++it)
        QCOMPARE(it.key(), QString::number(pageId));

    QVERIFY(runTask(ServiceEndpoints::deletePage(account.token, pageId)).ok());
    EXPECT_OK(trash, ServiceEndpoints::listTrash(account.token, account.workspaceId));
    QCOMPARE(trash.pages.size(), size_t(1));
    QCOMPARE(trash.pages.front().id, pageId);

    const auto restored = runTask(ServiceEndpoints::restorePage(account.token, pageId));
    QVERIFY2(restored.ok(), qPrintable(restored.errorText()));
    EXPECT_OK(back, ServiceEndpoints::listPages(account.token, account.workspaceId));
    QCOMPARE(back.pages.size(), size_t(1));

    QVERIFY(runTask(ServiceEndpoints::deletePage(account.token, pageId)).ok());
    QVERIFY(runTask(ServiceEndpoints::purgePage(account.token, pageId)).ok());
    EXPECT_OK(emptied, ServiceEndpoints::listTrash(account.token, account.workspaceId));
    QVERIFY(emptied.pages.empty());
    // A purged page cannot come back, and the restore says so.
    const auto gone = runTask(ServiceEndpoints::restorePage(account.token, pageId));
    QVERIFY(gone.apiError());
    QCOMPARE(gone.apiError()->kind(), APIError::Kind::Http);
}

void TestServiceEndpoints::blocksAndSyncEndToEnd()
{
    const auto account = freshAccount();
    const qint64 pageId = createPage(account, "Blocks");
    QVERIFY(pageId > 0);

    const JSONObject content{{"text", "hello"}, {"checked", false}};
    EXPECT_OK(acks, ServiceEndpoints::upsertBlocks(account.token, {pageId,
                                                                   {{"local-1", {}, "todo", content, 0, {}},
                                                                    {"local-2", {}, "text", {}, 1, {}}}}));
    QCOMPARE(acks.blocks.size(), size_t(2));
    QCOMPARE(acks.blocks[0].client_id, QString("local-1"));
    QVERIFY(acks.blocks[0].id > 0 && acks.blocks[1].id > 0 && acks.blocks[0].id != acks.blocks[1].id);

    EXPECT_OK(blocks, ServiceEndpoints::fetchBlocks(account.token, pageId));
    QCOMPARE(blocks.blocks.size(), size_t(2));
    const auto first = std::find_if(blocks.blocks.begin(), blocks.blocks.end(),
                                    [&](const BlockDTO &b) { return b.id == acks.blocks[0].id; });
    QVERIFY(first != blocks.blocks.end());
    QCOMPARE(first->content, content);
    QCOMPARE(first->type, QString("todo"));

    QVERIFY(runTask(ServiceEndpoints::deleteBlock(account.token, acks.blocks[1].id)).ok());
    EXPECT_OK(pulled, ServiceEndpoints::sync(account.token, {0}));
    QVERIFY(pulled.server_ts > 0);
    const auto changes = [&](const QString &type, qint64 id) {
        return std::count_if(pulled.ops.begin(), pulled.ops.end(), [&](const SyncOpDTO &op) {
            return op.entity_type == type && op.entity_id == id;
        });
    };
    QVERIFY(changes("page", pageId) > 0);
    QVERIFY(changes("block", acks.blocks[0].id) > 0);
    QVERIFY(changes("block", acks.blocks[1].id) > 0);

    EXPECT_OK(nothingNew, ServiceEndpoints::sync(account.token, {pulled.server_ts}));
    QVERIFY(nothingNew.ops.empty());
}

void TestServiceEndpoints::foldersEndToEnd()
{
    const auto account = freshAccount();
    EXPECT_OK(outer, ServiceEndpoints::createFolder(account.token, {account.workspaceId, {}, "Outer", "📁"}));
    EXPECT_OK(inner,
              ServiceEndpoints::createFolder(account.token, {account.workspaceId, {}, "Inner", "🗂"}));
    QVERIFY(!outer.folder.parent_folder_id);

    QVERIFY(
        runTask(ServiceEndpoints::patchFolder(account.token, {inner.folder.id, "Renamed", {}, {}, {}})).ok());
    QVERIFY(
        runTask(ServiceEndpoints::patchFolder(account.token, {inner.folder.id, {}, {}, {}, outer.folder.id}))
            .ok());
    const qint64 pageId = createPage(account, "Filed");
    QVERIFY(runTask(ServiceEndpoints::movePage(account.token, {pageId, inner.folder.id})).ok());

    EXPECT_OK(folders, ServiceEndpoints::listFolders(account.token, account.workspaceId));
    QCOMPARE(folders.folders.size(), size_t(2));
    const auto moved = std::find_if(folders.folders.begin(), folders.folders.end(),
                                    [&](const FolderDTO &f) { return f.id == inner.folder.id; });
    QVERIFY(moved != folders.folders.end());
    QCOMPARE(moved->name, QString("Renamed"));
    QCOMPARE(moved->parent_folder_id, outer.folder.id);
    EXPECT_OK(filed, ServiceEndpoints::listPages(account.token, account.workspaceId));
    QCOMPARE(filed.pages.front().folder_id, inner.folder.id);

    QVERIFY(runTask(ServiceEndpoints::movePage(account.token, {pageId, {}})).ok());
    EXPECT_OK(top, ServiceEndpoints::listPages(account.token, account.workspaceId));
    QVERIFY(!top.pages.front().folder_id);

    QVERIFY(runTask(ServiceEndpoints::deleteFolder(account.token, outer.folder.id)).ok());
    EXPECT_OK(left, ServiceEndpoints::listFolders(account.token, account.workspaceId));
    QVERIFY(std::none_of(left.folders.begin(), left.folders.end(),
                         [&](const FolderDTO &f) { return f.id == outer.folder.id; }));
}

void TestServiceEndpoints::searchEndToEnd()
{
    const auto account = freshAccount();
    const qint64 wanted = createPage(account, "R&D budget");
    createPage(account, "Holiday");

    EXPECT_OK(hits, ServiceEndpoints::search(account.token, account.workspaceId, "R&D"));
    QCOMPARE(hits.pages.size(), size_t(1));
    QCOMPARE(hits.pages.front().id, wanted);
    QCOMPARE(hits.pages.front().title, QString("R&D budget"));

    // Text that looks like another parameter stays text and cannot switch the workspace.
    const auto other = freshAccount();
    createPage(other, "secret");
    const QString smuggled = QStringLiteral("x&workspace_id=") + QString::number(other.workspaceId);
    EXPECT_OK(none, ServiceEndpoints::search(account.token, account.workspaceId, smuggled));
    QVERIFY(none.pages.empty());
}

void TestServiceEndpoints::bookmarkEndToEnd()
{
    const auto account = freshAccount();
    EXPECT_OK(preview, ServiceEndpoints::fetchBookmark(account.token, "https://example.com/articles/owls"));
    QVERIFY(preview.title && !preview.title->isEmpty());
}

void TestServiceEndpoints::commentsEndToEnd()
{
    const auto account = freshAccount();
    const qint64 pageId = createPage(account, "Discussed");
    EXPECT_OK(added, ServiceEndpoints::createComment(account.token, {pageId, {}, "Looks good", {}, {}, {}}));
    QCOMPARE(added.comment.body, QString("Looks good"));
    QCOMPARE(added.comment.page_id, pageId);
    QVERIFY(!added.comment.block_id);

    EXPECT_OK(listed, ServiceEndpoints::listComments(account.token, pageId));
    QCOMPARE(listed.comments.size(), size_t(1));
    QCOMPARE(listed.comments.front().id, added.comment.id);
}

void TestServiceEndpoints::sharingEndToEnd()
{
    const auto owner = freshAccount();
    QString friendEmail;
    const auto friendAccount = freshAccount(&friendEmail);
    const qint64 pageId = createPage(owner, "Shared");

    EXPECT_OK(shared, ServiceEndpoints::share(owner.token, {pageId, friendEmail, "comment", {}}));
    QCOMPARE(shared.ok, true);
    EXPECT_OK(invited, ServiceEndpoints::share(owner.token, {pageId, "stranger@example.com", "view", {}}));
    QCOMPARE(invited.ok, true);

    EXPECT_OK(access, ServiceEndpoints::listShares(owner.token, pageId));
    QCOMPARE(access.shares.size(), size_t(1));
    QCOMPARE(access.shares.front().shared_with_user_id, friendAccount.userId);
    QVERIFY(!access.shares.front().permissions.empty());
    QCOMPARE(access.invites.size(), size_t(1));
    QCOMPARE(access.invites.front().email, QString("stranger@example.com"));

    QVERIFY(runTask(ServiceEndpoints::removeShare(owner.token, pageId, access.shares.front().id)).ok());
    QVERIFY(runTask(ServiceEndpoints::removeInvite(owner.token, pageId, access.invites.front().id)).ok());
    EXPECT_OK(none, ServiceEndpoints::listShares(owner.token, pageId));
    QVERIFY(none.shares.empty() && none.invites.empty());
}

void TestServiceEndpoints::publishingEndToEnd()
{
    const auto account = freshAccount();
    const qint64 pageId = createPage(account, "Public");
    EXPECT_OK(before, ServiceEndpoints::getPublish(account.token, pageId));
    QVERIFY(!before.published);

    EXPECT_OK(published, ServiceEndpoints::publish(account.token, {pageId, "pw", true, false}));
    QVERIFY(published.published);
    QVERIFY(published.url && !published.url->isEmpty());
    EXPECT_OK(state, ServiceEndpoints::getPublish(account.token, pageId));
    QVERIFY(state.commentsAllowed());
    QVERIFY(!state.subpagesIncluded());
    QVERIFY(state.passwordSet());
    EXPECT_OK(badges, ServiceEndpoints::pageStatuses(account.token, account.workspaceId));
    QVERIFY(badges.statuses.contains(QString::number(pageId)));
    QVERIFY(badges.statuses.value(QString::number(pageId)).published);

    QVERIFY(runTask(ServiceEndpoints::unpublish(account.token, pageId)).ok());
    EXPECT_OK(after, ServiceEndpoints::getPublish(account.token, pageId));
    QVERIFY(!after.published);
}

void TestServiceEndpoints::suggestionsEndToEnd()
{
    const auto account = freshAccount();
    const qint64 pageId = createPage(account, "Before");
    const qint64 id =
        m_fake.seedSuggestion(pageId, account.userId, "title_change", JSONObject{{"title", "After"}});

    EXPECT_OK(listed, ServiceEndpoints::listSuggestions(account.token, pageId));
    QCOMPARE(listed.suggestions.size(), size_t(1));
    QCOMPARE(listed.suggestions.front().id, id);
    QCOMPARE(listed.suggestions.front().status, QString("pending"));

    QVERIFY(runTask(ServiceEndpoints::decideSuggestion(account.token, {id, "accepted"})).ok());
    EXPECT_OK(pages, ServiceEndpoints::listPages(account.token, account.workspaceId));
    QCOMPARE(pages.pages.front().title, QString("After"));
}

void TestServiceEndpoints::versionsEndToEnd()
{
    const auto account = freshAccount();
    const qint64 pageId = createPage(account, "First");
    for (const char *title : {"Second", "Third"}) {
        PagePatchReq rename;
        rename.page_id = pageId;
        rename.title = QString::fromUtf8(title);
        QVERIFY(runTask(ServiceEndpoints::patchPage(account.token, rename)).ok());
    }

    EXPECT_OK(versions, ServiceEndpoints::listVersions(account.token, pageId));
    QVERIFY(versions.versions.size() >= 2);
    QCOMPARE(versions.versions.front().page_id, pageId);
    const auto oldest =
        std::min_element(versions.versions.begin(), versions.versions.end(),
                         [](const VersionDTO &a, const VersionDTO &b) { return a.id < b.id; });
    EXPECT_OK(ok, ServiceEndpoints::restoreVersion(account.token, {oldest->id}));
    Q_UNUSED(ok);
    EXPECT_OK(pages, ServiceEndpoints::listPages(account.token, account.workspaceId));
    QVERIFY(pages.pages.front().title != QString("Third"));
}

void TestServiceEndpoints::aiEndToEnd()
{
    const auto account = freshAccount();
    const qint64 pageId = createPage(account, "Essay");
    EXPECT_OK(first, ServiceEndpoints::runAI(account.token, {"improve", pageId, "teh text", {}, {}}));
    QVERIFY(first.text && !first.text->isEmpty());
    QVERIFY(!first.error);
    EXPECT_OK(second, ServiceEndpoints::runAI(account.token, {"improve", pageId, "teh text", {}, {}}));
    QCOMPARE(second.text, first.text);
    if (first.remaining_today && second.remaining_today)
        QCOMPARE(*second.remaining_today, *first.remaining_today - 1);
}

void TestServiceEndpoints::databasesEndToEnd()
{
    const auto account = freshAccount();
    const qint64 pageId = createPage(account, "Tracker");
    const std::vector<DBColumnDTO> columns{{"c1", "Name", "text", {}},
                                           {"c2", "Status", "select", {{"Todo", "Doing", "Done"}}},
                                           {"c3", "Done", "checkbox", {}}};
    EXPECT_OK(created, ServiceEndpoints::createDatabase(account.token, {pageId, "Tasks", columns}));
    QCOMPARE(created.database.columns, columns);
    QVERIFY(created.database.rows.empty());

    EXPECT_OK(row, ServiceEndpoints::createRow(account.token, {created.database.id, {}, 0}));
    QVERIFY(row.row.data.empty());
    const JSONObject data{{"c1", "Write report"}, {"c3", true}};
    QVERIFY(runTask(ServiceEndpoints::patchRow(account.token, {row.row.id, data, {}})).ok());

    EXPECT_OK(listed, ServiceEndpoints::listDatabases(account.token, pageId));
    QCOMPARE(listed.databases.size(), size_t(1));
    QCOMPARE(listed.databases.front().rows.size(), size_t(1));
    QCOMPARE(listed.databases.front().rows.front().data, data);
}

QTEST_GUILESS_MAIN(TestServiceEndpoints)
#include "tst_service_endpoints.moc"
