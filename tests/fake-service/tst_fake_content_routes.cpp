// The fake service's workspaces, folders, pages, trash and search, and its refusals of strangers and
// malformed requests, driven over loopback HTTP with raw JSON, as later suites rely on them.
#include "content_route_fixture.h"

#include <QTest>

class TestFakeContentRoutes : public QObject, private ContentRouteFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void newAccountHasOneWorkspace();
    void folderTree();
    void movePageIntoAndOutOfFolder();
    void pagePatch_data();
    void pagePatch();
    void trashRestorePurge();
    void strangerIsRefused_data();
    void strangerIsRefused();
    void malformedRequests_data();
    void malformedRequests();
    void search_data();
    void search();
    void pageStatuses();
    void faultsStayProgrammable();
};

void TestFakeContentRoutes::init()
{
    startWithLaptop();
}

void TestFakeContentRoutes::cleanup()
{
    stopService();
}

void TestFakeContentRoutes::newAccountHasOneWorkspace()
{
    const FakeHttpClient::Reply r = m_http->get(QStringLiteral("/api/workspaces.php"), m_ann.token);
    QCOMPARE(r.status, 200);
    const JSONArray workspaces = r[QStringLiteral("workspaces")].toArray();
    QCOMPARE(workspaces.size(), size_t(1));
    QCOMPARE(workspaces[0][QStringLiteral("id")].toInt(), m_ann.workspaceId);
    QCOMPARE(workspaces[0][QStringLiteral("name")].toString(), QStringLiteral("Ann's Workspace"));
    QCOMPARE(workspaces[0][QStringLiteral("owner_user_id")].toInt(), m_ann.userId);
    QCOMPARE(workspaces[0][QStringLiteral("role")].toString(), QStringLiteral("owner"));
    QVERIFY(m_ann.workspaceId != m_bob.workspaceId);
}

void TestFakeContentRoutes::folderTree()
{
    const QString path = QStringLiteral("/api/folders.php");
    const QByteArray ws = QByteArray::number(m_ann.workspaceId);
    const FakeHttpClient::Reply top =
        m_http->post(path, R"({"workspace_id":)" + ws + R"(,"name":"Projects","icon":"📁"})", m_ann.token);
    QCOMPARE(top.status, 200);
    const qint64 topId = top[QStringLiteral("folder")][QStringLiteral("id")].toInt();
    QVERIFY(top[QStringLiteral("folder")][QStringLiteral("parent_folder_id")].isNull());
    const FakeHttpClient::Reply child =
        m_http->post(path,
                     R"({"workspace_id":)" + ws + R"(,"parent_folder_id":)" + QByteArray::number(topId) +
                         R"(,"name":"Q3","icon":""})",
                     m_ann.token);
    QCOMPARE(child.status, 200);
    const qint64 childId = child[QStringLiteral("folder")][QStringLiteral("id")].toInt();
    QCOMPARE(child[QStringLiteral("folder")][QStringLiteral("parent_folder_id")].toInt(), topId);

    const QByteArray childKey = R"({"folder_id":)" + QByteArray::number(childId);
    const QByteArray topKey = R"({"folder_id":)" + QByteArray::number(topId);
    QCOMPARE(m_http->patch(path, childKey + R"(,"name":"Q4"})", m_ann.token).status, 200);
    // A folder cannot go inside itself or its own subfolder.
    QCOMPARE(
        m_http
            ->patch(path, topKey + R"(,"parent_folder_id":)" + QByteArray::number(childId) + "}", m_ann.token)
            .status,
        400);
    QCOMPARE(
        m_http->patch(path, topKey + R"(,"parent_folder_id":)" + QByteArray::number(topId) + "}", m_ann.token)
            .status,
        400);
    QCOMPARE(m_http->patch(path, childKey + R"(,"name":"Hijacked"})", m_bob.token).status, 403);

    FakeHttpClient::Reply list = m_http->get(path + QStringLiteral("?workspace_id=") + ws, m_ann.token);
    QCOMPARE(list.status, 200);
    JSONArray folders = list[QStringLiteral("folders")].toArray();
    QCOMPARE(folders.size(), size_t(2));
    QCOMPARE(folders[1][QStringLiteral("name")].toString(), QStringLiteral("Q4"));
    QCOMPARE(folders[1][QStringLiteral("icon")].toString(), QString());
    QCOMPARE(m_http->get(path + QStringLiteral("?workspace_id=") + ws, m_bob.token).status, 403);

    // Deleting a folder keeps what it held, one level up.
    QCOMPARE(m_http->del(path + QStringLiteral("?folder_id=") + QString::number(topId), m_ann.token).status,
             200);
    folders =
        m_http->get(path + QStringLiteral("?workspace_id=") + ws, m_ann.token)[QStringLiteral("folders")]
            .toArray();
    QCOMPARE(folders.size(), size_t(1));
    QVERIFY(folders[0][QStringLiteral("parent_folder_id")].isNull());
    QCOMPARE(m_http->del(path + QStringLiteral("?folder_id=") + QString::number(topId), m_ann.token).status,
             404);
}

void TestFakeContentRoutes::movePageIntoAndOutOfFolder()
{
    const qint64 page = newPage(m_ann, QStringLiteral("Notes"));
    const qint64 folder = newFolder(m_ann, "Inbox");
    const qint64 bobsFolder = newFolder(m_bob, "Mine");
    QVERIFY(page && folder && bobsFolder);
    const QString path = QStringLiteral("/api/folders.php?move_page=1");
    const QByteArray pageKey = R"({"page_id":)" + QByteArray::number(page);
    const auto folderOf = [&] {
        const JSONArray pages =
            m_http
                ->get(QStringLiteral("/api/pages.php?workspace_id=%1").arg(m_ann.workspaceId),
                      m_ann.token)[QStringLiteral("pages")]
                .toArray();
        return pages.at(0)[QStringLiteral("folder_id")];
    };

    const qint64 cursor = lastTs();
    QCOMPARE(m_http->patch(path, pageKey + R"(,"folder_id":)" + QByteArray::number(folder) + "}", m_ann.token)
                 .status,
             200);
    QCOMPARE(folderOf(), JSONValue(folder));
    const JSONArray ops = pull(m_annLaptop, cursor);
    QCOMPARE(ops.size(), size_t(1));
    QCOMPARE(ops[0][QStringLiteral("payload")][QStringLiteral("folder_id")], JSONValue(folder));

    QCOMPARE(m_http->patch(path, pageKey + "}", m_ann.token).status, 200);
    QVERIFY(folderOf().isNull());
    QCOMPARE(
        m_http->patch(path, pageKey + R"(,"folder_id":)" + QByteArray::number(bobsFolder) + "}", m_ann.token)
            .status,
        400);

    // A page whose folder is deleted returns to the top level, and devices hear of it.
    QCOMPARE(m_http->patch(path, pageKey + R"(,"folder_id":)" + QByteArray::number(folder) + "}", m_ann.token)
                 .status,
             200);
    const qint64 beforeDelete = lastTs();
    QCOMPARE(m_http->del(QStringLiteral("/api/folders.php?folder_id=%1").arg(folder), m_ann.token).status,
             200);
    QVERIFY(folderOf().isNull());
    QCOMPARE(pull(m_annLaptop, beforeDelete).size(), size_t(1));
}

void TestFakeContentRoutes::pagePatch_data()
{
    QTest::addColumn<QByteArray>("fields"); // besides page_id; %OTHER% and %FOLDER% stand for ids
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("expected"); // the key's value afterwards, as JSON

    QTest::newRow("rename") << QByteArray(R"("title":"Renamed")") << "title" << QByteArray(R"("Renamed")");
    QTest::newRow("icon") << QByteArray(R"("icon":"🌱")") << "icon" << QByteArray(R"("🌱")");
    QTest::newRow("reorder") << QByteArray(R"("position":7)") << "position" << QByteArray("7");
    QTest::newRow("new cover") << QByteArray(
                                      R"("cover_url":"https://img.example/new.png","cover_offset_x":30)")
                               << "cover_url" << QByteArray(R"("https://img.example/new.png")");
    QTest::newRow("cover removed by empty text")
        << QByteArray(R"("cover_url":"","cover_offset_x":50,"cover_offset_y":50)") << "cover_url"
        << QByteArray("null");
    QTest::newRow("offsets keep the cover") << QByteArray(R"("cover_offset_x":10,"cover_offset_y":20)")
                                            << "cover_url" << QByteArray(R"("https://img.example/old.png")");
    QTest::newRow("offset") << QByteArray(R"("cover_offset_y":20)") << "cover_offset_y" << QByteArray("20");
    QTest::newRow("new parent") << QByteArray(R"("parent_page_id":%OTHER%)") << "parent_page_id"
                                << QByteArray("%OTHER%");
    QTest::newRow("to the top level")
        << QByteArray(R"("parent_page_id":null)") << "parent_page_id" << QByteArray("null");
    QTest::newRow("into a folder") << QByteArray(R"("folder_id":%FOLDER%)") << "folder_id"
                                   << QByteArray("%FOLDER%");
}

void TestFakeContentRoutes::pagePatch()
{
    QFETCH(QByteArray, fields);
    QFETCH(QString, key);
    QFETCH(QByteArray, expected);

    const qint64 parent = newPage(m_ann, QStringLiteral("Parent"));
    const qint64 other = newPage(m_ann, QStringLiteral("Other"));
    const qint64 page = newPage(m_ann, QStringLiteral("Child"), parent);
    const qint64 folder = newFolder(m_ann, "F");
    QCOMPARE(patchPage(page,
                       R"("cover_url":"https://img.example/old.png","cover_offset_x":40,"cover_offset_y":60)",
                       m_ann.token)
                 .status,
             200);
    const auto fill = [&](QByteArray text) {
        return text.replace("%OTHER%", QByteArray::number(other))
            .replace("%FOLDER%", QByteArray::number(folder));
    };

    const qint64 cursor = lastTs();
    const FakeHttpClient::Reply r = patchPage(page, fill(fields), m_ann.token);
    QCOMPARE(r.status, 200);
    const JSONValue want = JSONValue::parse(fill(expected));
    QCOMPARE(r[QStringLiteral("page")][key], want);
    QCOMPARE(r[QStringLiteral("page")][QStringLiteral("id")].toInt(), page);
    // The other device learns the same value, including a null for something taken away.
    const JSONArray ops = pull(m_annLaptop, cursor);
    QCOMPARE(ops.size(), size_t(1));
    QCOMPARE(ops[0][QStringLiteral("op")].toString(), QStringLiteral("update"));
    QVERIFY(ops[0][QStringLiteral("payload")].toObject().count(key));
    QCOMPARE(ops[0][QStringLiteral("payload")][key], want);
}

void TestFakeContentRoutes::trashRestorePurge()
{
    const qint64 page = newPage(m_ann, QStringLiteral("Draft"));
    const qint64 child = newPage(m_ann, QStringLiteral("Draft notes"), page);
    upsert(m_ann.token, page, R"({"client_id":"x","type":"text","content":{"text":"hello"},"position":0})");
    const QString live = QStringLiteral("/api/pages.php?workspace_id=%1").arg(m_ann.workspaceId);
    const QString trash = live + QStringLiteral("&trash=1");
    const QString one = QStringLiteral("/api/pages.php?page_id=%1").arg(page);
    const QByteArray restore = R"("restore":1)";

    QCOMPARE(m_http->del(one, m_ann.token).status, 200);
    QCOMPARE(titlesOf(m_http->get(live, m_ann.token)[QStringLiteral("pages")].toArray()),
             QStringList{QStringLiteral("Draft notes")});
    const JSONArray trashed = m_http->get(trash, m_ann.token)[QStringLiteral("pages")].toArray();
    QCOMPARE(titlesOf(trashed), QStringList{QStringLiteral("Draft")});
    QVERIFY(trashed[0][QStringLiteral("updated_at")].isString());
    QCOMPARE(m_http->del(one, m_ann.token).status, 404); // already gone from the live pages
    QCOMPARE(m_http->get(QStringLiteral("/api/blocks.php?page_id=%1").arg(page), m_ann.token).status, 404);
    QCOMPARE(patchPage(page, restore, m_bob.token).status, 403);

    const FakeHttpClient::Reply restored = patchPage(page, restore, m_ann.token);
    QCOMPARE(restored.status, 200);
    QCOMPARE(titlesOf(m_http->get(live, m_ann.token)[QStringLiteral("pages")].toArray()).size(), 2);
    QVERIFY(m_http->get(trash, m_ann.token)[QStringLiteral("pages")].toArray().empty());
    QCOMPARE(m_fake->storedBlocks(page).size(), size_t(1));

    QCOMPARE(m_http->del(one, m_ann.token).status, 200);
    QCOMPARE(m_http->del(one + QStringLiteral("&permanent=1"), m_ann.token).status, 200);
    QVERIFY(m_http->get(trash, m_ann.token)[QStringLiteral("pages")].toArray().empty());
    QCOMPARE(m_fake->state().pages.count(page), size_t(0));
    QVERIFY(m_fake->storedBlocks(page).empty());
    QCOMPARE(patchPage(page, restore, m_ann.token).status, 404);
    QCOMPARE(m_http->del(one + QStringLiteral("&permanent=1"), m_ann.token).status, 404);
    // The subpage outlives its parent at the top level.
    QVERIFY(m_http->get(live, m_ann.token)[QStringLiteral("pages")]
                .toArray()
                .at(0)[QStringLiteral("parent_page_id")]
                .isNull());
    QCOMPARE(m_fake->state().pages.at(child).parentPageId, 0);
}

void TestFakeContentRoutes::strangerIsRefused_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path"); // %PAGE% and %WS% stand for Ann's page and workspace
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");

    QTest::newRow("read blocks") << QByteArray("GET") << "/api/blocks.php?page_id=%PAGE%" << QByteArray()
                                 << 403;
    QTest::newRow("push blocks") << QByteArray("POST") << "/api/blocks.php"
                                 << QByteArray(R"({"page_id":%PAGE%,"blocks":[]})") << 403;
    QTest::newRow("rename") << QByteArray("PATCH") << "/api/pages.php"
                            << QByteArray(R"({"page_id":%PAGE%,"title":"x"})") << 403;
    QTest::newRow("trash") << QByteArray("DELETE") << "/api/pages.php?page_id=%PAGE%" << QByteArray() << 403;
    QTest::newRow("purge") << QByteArray("DELETE") << "/api/pages.php?page_id=%PAGE%&permanent=1"
                           << QByteArray() << 403;
    QTest::newRow("list pages") << QByteArray("GET") << "/api/pages.php?workspace_id=%WS%" << QByteArray()
                                << 403;
    QTest::newRow("list trash") << QByteArray("GET") << "/api/pages.php?workspace_id=%WS%&trash=1"
                                << QByteArray() << 403;
    QTest::newRow("create page in it") << QByteArray("POST") << "/api/pages.php"
                                       << QByteArray(R"({"workspace_id":%WS%,"title":"x"})") << 403;
    QTest::newRow("search it") << QByteArray("GET") << "/api/search.php?workspace_id=%WS%&q=Secret"
                               << QByteArray() << 403;
    QTest::newRow("statuses") << QByteArray("GET") << "/api/page-status.php?workspace_id=%WS%" << QByteArray()
                              << 403;
    QTest::newRow("unknown workspace")
        << QByteArray("GET") << "/api/pages.php?workspace_id=9999" << QByteArray() << 404;
    QTest::newRow("unknown page") << QByteArray("GET") << "/api/blocks.php?page_id=9999" << QByteArray()
                                  << 404;
    QTest::newRow("comments") << QByteArray("GET") << "/api/comments.php?page_id=%PAGE%" << QByteArray()
                              << 403;
    QTest::newRow("publish") << QByteArray("POST") << "/api/publish.php"
                             << QByteArray(
                                    R"({"page_id":%PAGE%,"allow_comments":true,"include_subpages":false})")
                             << 403;
    QTest::newRow("share") << QByteArray("POST") << "/api/share.php"
                           << QByteArray(R"({"page_id":%PAGE%,"email":"bob@example.com","role":"full"})")
                           << 403;
    QTest::newRow("databases") << QByteArray("GET") << "/api/databases.php?page_id=%PAGE%" << QByteArray()
                               << 403;
    QTest::newRow("ai on the page") << QByteArray("POST") << "/api/ai.php"
                                    << QByteArray(R"({"action":"summarize","page_id":%PAGE%})") << 403;
    QTest::newRow("move into folder") << QByteArray("PATCH") << "/api/folders.php?move_page=1"
                                      << QByteArray(R"({"page_id":%PAGE%})") << 403;
}

void TestFakeContentRoutes::strangerIsRefused()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(int, status);

    const qint64 page = newPage(m_ann, QStringLiteral("Secret"));
    path.replace(QStringLiteral("%PAGE%"), QString::number(page))
        .replace(QStringLiteral("%WS%"), QString::number(m_ann.workspaceId));
    body.replace("%PAGE%", QByteArray::number(page)).replace("%WS%", QByteArray::number(m_ann.workspaceId));
    const auto before = m_fake->state().pages.at(page).title;

    const FakeHttpClient::Reply r = m_http->call(method, path, body, m_bob.token);
    QCOMPARE(r.status, status);
    QVERIFY(!r.error().isEmpty());
    QCOMPARE(m_fake->state().pages.count(page), size_t(1));
    QVERIFY(!m_fake->state().pages.at(page).inTrash());
    QCOMPARE(m_fake->state().pages.at(page).title, before);
    // Without a token nothing is answered at all.
    QCOMPARE(m_http->call(method, path, body, QString()).status, 401);
}

void TestFakeContentRoutes::malformedRequests_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error");

    const QByteArray post("POST"), patch("PATCH"), get("GET"), del("DELETE");
    QTest::newRow("create without workspace")
        << post << "/api/pages.php" << QByteArray(R"({"title":"x"})") << "workspace_id is required";
    QTest::newRow("workspace id as text")
        << post << "/api/pages.php" << QByteArray(R"({"workspace_id":"%WS%","title":"x"})")
        << "workspace_id must be an integer";
    QTest::newRow("title as a number")
        << post << "/api/pages.php" << QByteArray(R"({"workspace_id":%WS%,"title":5})")
        << "title must be a string";
    QTest::newRow("position with a fraction")
        << patch << "/api/pages.php" << QByteArray(R"({"page_id":%PAGE%,"position":1.5})")
        << "position must be an integer";
    QTest::newRow("cover offset beyond 100")
        << patch << "/api/pages.php" << QByteArray(R"({"page_id":%PAGE%,"cover_offset_x":150})")
        << "Cover offsets are whole percent, 0 to 100";
    QTest::newRow("parent is itself")
        << patch << "/api/pages.php" << QByteArray(R"({"page_id":%PAGE%,"parent_page_id":%PAGE%})")
        << "A page can't be placed under itself";
    QTest::newRow("restore other than 1")
        << patch << "/api/pages.php" << QByteArray(R"({"page_id":%PAGE%,"restore":2})")
        << "restore must be 1";
    QTest::newRow("id with a leading zero")
        << get << "/api/blocks.php?page_id=0%PAGE%" << QByteArray() << "page_id must be a positive integer";
    QTest::newRow("id not a number") << get << "/api/blocks.php?page_id=abc" << QByteArray()
                                     << "page_id must be a positive integer";
    QTest::newRow("delete without id") << del << "/api/pages.php" << QByteArray() << "page_id is required";
    QTest::newRow("blocks not a list")
        << post << "/api/blocks.php" << QByteArray(R"({"page_id":%PAGE%,"blocks":{}})")
        << "blocks must be an array";
    QTest::newRow("block without client id")
        << post << "/api/blocks.php"
        << QByteArray(R"({"page_id":%PAGE%,"blocks":[{"type":"text","content":{},"position":0}]})")
        << "blocks[0].client_id is required";
    QTest::newRow("repeated client id")
        << post << "/api/blocks.php"
        << QByteArray(
               R"({"page_id":%PAGE%,"blocks":[{"client_id":"a","type":"text","content":{},"position":0},)"
               R"({"client_id":"a","type":"text","content":{},"position":1}]})")
        << "blocks[1].client_id repeats an earlier item";
    QTest::newRow("cursor as text") << post << "/api/sync.php" << QByteArray(R"({"since_ts":"0"})")
                                    << "since_ts must be an integer";
    QTest::newRow("no cursor") << post << "/api/sync.php" << QByteArray("{}") << "since_ts is required";
    QTest::newRow("body not an object")
        << post << "/api/pages.php" << QByteArray("[1,2]") << "Invalid JSON body";
    QTest::newRow("blank folder name")
        << post << "/api/folders.php" << QByteArray(R"({"workspace_id":%WS%,"name":"  ","icon":""})")
        << "Folder name is required";
    QTest::newRow("search without workspace")
        << get << "/api/search.php?q=x" << QByteArray() << "workspace_id is required";
}

void TestFakeContentRoutes::malformedRequests()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(QString, error);

    const qint64 page = newPage(m_ann, QStringLiteral("Target"));
    path.replace(QStringLiteral("%PAGE%"), QString::number(page));
    body.replace("%PAGE%", QByteArray::number(page)).replace("%WS%", QByteArray::number(m_ann.workspaceId));
    const int entries = m_fake->syncEntryCount();

    const FakeHttpClient::Reply r = m_http->call(method, path, body, m_ann.token);
    QCOMPARE(r.status, 400);
    QCOMPARE(r.error(), error);
    QCOMPARE(m_fake->syncEntryCount(), entries);
}

void TestFakeContentRoutes::search_data()
{
    QTest::addColumn<QString>("query"); // as it stands in the URL
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QString>("snippet"); // of the first hit

    QTest::newRow("title in another case")
        << "roadmap" << QStringList{"Roadmap 2025"} << "Quarterly goals and R&D budget";
    QTest::newRow("block text") << "milk" << QStringList{"Groceries"} << "Buy MILK and eggs";
    QTest::newRow("encoded ampersand")
        << "R%26D" << QStringList{"Roadmap 2025"} << "Quarterly goals and R&D budget";
    QTest::newRow("encoded space") << "and%20eggs" << QStringList{"Groceries"} << "Buy MILK and eggs";
    QTest::newRow("title hits before text hits")
        << "e" << QStringList{"Groceries", "Roadmap 2025"} << "Buy MILK and eggs";
    QTest::newRow("no hit") << "zebra" << QStringList{} << "";
    QTest::newRow("empty text") << "" << QStringList{} << "";
}

void TestFakeContentRoutes::search()
{
    QFETCH(QString, query);
    QFETCH(QStringList, titles);
    QFETCH(QString, snippet);

    const qint64 roadmap = newPage(m_ann, QStringLiteral("Roadmap 2025"));
    const qint64 groceries = newPage(m_ann, QStringLiteral("Groceries"));
    const qint64 old = newPage(m_ann, QStringLiteral("Old roadmap"));
    newPage(m_bob, QStringLiteral("Roadmap secrets"));
    upsert(
        m_ann.token, roadmap,
        R"({"client_id":"r","type":"text","content":{"text":"Quarterly goals and R&D budget"},"position":0})");
    upsert(m_ann.token, groceries,
           R"({"client_id":"g","type":"text","content":{"text":"Buy MILK and eggs"},"position":0})");
    QCOMPARE(m_http->del(QStringLiteral("/api/pages.php?page_id=%1").arg(old), m_ann.token).status, 200);
    // Order by position: Groceries first.
    m_fake->state().pages.at(roadmap).position = 2;

    const FakeHttpClient::Reply r = m_http->get(
        QStringLiteral("/api/search.php?workspace_id=%1&q=").arg(m_ann.workspaceId) + query, m_ann.token);
    QCOMPARE(r.status, 200);
    const JSONArray hits = r[QStringLiteral("pages")].toArray();
    QCOMPARE(titlesOf(hits), titles);
    if (!hits.empty()) {
        QCOMPARE(hits[0][QStringLiteral("snippet")].toString(), snippet);
        QVERIFY(hits[0][QStringLiteral("id")].isInt());
    }
}

void TestFakeContentRoutes::pageStatuses()
{
    const qint64 published = newPage(m_ann, QStringLiteral("Public"));
    const qint64 shared = newPage(m_ann, QStringLiteral("Shared"));
    const qint64 trashed = newPage(m_ann, QStringLiteral("Gone"));
    QCOMPARE(m_http
                 ->post(QStringLiteral("/api/publish.php"),
                        R"({"page_id":)" + QByteArray::number(published) +
                            R"(,"allow_comments":false,"include_subpages":false})",
                        m_ann.token)
                 .status,
             200);
    for (const char *email : {"bob@example.com", "newcomer@example.com"}) {
        QCOMPARE(m_http
                     ->post(QStringLiteral("/api/share.php"),
                            R"({"page_id":)" + QByteArray::number(shared) + R"(,"email":")" + email +
                                R"(","role":"view"})",
                            m_ann.token)
                     .status,
                 200);
    }
    QCOMPARE(m_http->del(QStringLiteral("/api/pages.php?page_id=%1").arg(trashed), m_ann.token).status, 200);

    const FakeHttpClient::Reply r = m_http->get(
        QStringLiteral("/api/page-status.php?workspace_id=%1").arg(m_ann.workspaceId), m_ann.token);
    QCOMPARE(r.status, 200);
    JSONObject expected;
    expected[QString::number(published)] = json(R"({"published":true,"shared_count":0})");
    expected[QString::number(shared)] = json(R"({"published":false,"shared_count":2})");
    QCOMPARE(r[QStringLiteral("statuses")], JSONValue(expected));
}

void TestFakeContentRoutes::faultsStayProgrammable()
{
    m_fake->setFault(QStringLiteral("/api/sync.php"),
                     FakeService::Fault::http(503, R"({"error":"Maintenance"})"));
    const qint64 page = newPage(m_ann, QStringLiteral("Kept"));
    FakeHttpClient::Reply r = m_http->post(QStringLiteral("/api/sync.php"), R"({"since_ts":0})", m_annLaptop);
    QCOMPARE(r.status, 503);
    QCOMPARE(r.error(), QStringLiteral("Maintenance"));
    m_fake->clearFault(QStringLiteral("/api/sync.php"));
    const JSONArray ops = pull(m_annLaptop, 0);
    QCOMPARE(ops.size(), size_t(1));
    QCOMPARE(ops[0][QStringLiteral("entity_id")].toInt(), page);
}

QTEST_GUILESS_MAIN(TestFakeContentRoutes)
#include "tst_fake_content_routes.moc"
