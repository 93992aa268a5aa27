// The fake service's workspaces, folders, pages, blocks, sync log, versions and search, driven over
// loopback HTTP with raw JSON, as later suites rely on them.
#include "support/fake_route_fixture.h"

#include <QTest>

namespace {

QStringList titlesOf(const JSONArray &pages)
{
    QStringList titles;
    for (const JSONValue &p : pages)
        titles.append(p[QStringLiteral("title")].toString());
    return titles;
}

} // namespace

class TestFakeContentRoutes : public QObject, private FakeRouteFixture
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
    void blockUpsertAcknowledgesClientIds();
    void blockUpsertIsAllOrNothing();
    void pullReachesOtherDeviceOfSameAccountOnly();
    void pullPagesThroughCappedReplies();
    void changesAreLogged_data();
    void changesAreLogged();
    void versionRestorePutsBlocksBack();
    void strangerIsRefused_data();
    void strangerIsRefused();
    void malformedRequests_data();
    void malformedRequests();
    void search_data();
    void search();
    void pageStatuses();
    void faultsStayProgrammable();

private:
    qint64 newFolder(const FakeService::Account &owner, const QByteArray &name);
    // PATCH /api/pages.php with these fields besides page_id.
    FakeHttpClient::Reply patchPage(qint64 pageId, const QByteArray &fields, const QString &token);
    JSONArray pull(const QString &token, qint64 since, qint64 *serverTs = nullptr, bool *capped = nullptr);
    QStringList loggedSince(qint64 since); // "entity op" for each entry Ann's laptop pulls
    qint64 lastTs() const { return m_fake->state().lastServerTs; }

    QString m_annLaptop; // a second device signed in to Ann's account
};

void TestFakeContentRoutes::init()
{
    startService();
    m_annLaptop = m_fake->issueToken(m_ann.userId, QStringLiteral("laptop"));
    QVERIFY(!m_annLaptop.isEmpty());
}

void TestFakeContentRoutes::cleanup()
{
    stopService();
}

qint64 TestFakeContentRoutes::newFolder(const FakeService::Account &owner, const QByteArray &name)
{
    const FakeHttpClient::Reply r =
        m_http->post(QStringLiteral("/api/folders.php"),
                     R"({"workspace_id":)" + QByteArray::number(owner.workspaceId) + R"(,"name":")" + name +
                         R"(","icon":""})",
                     owner.token);
    return r[QStringLiteral("folder")][QStringLiteral("id")].toInt();
}

FakeHttpClient::Reply TestFakeContentRoutes::patchPage(qint64 pageId, const QByteArray &fields,
                                                       const QString &token)
{
    return m_http->patch(QStringLiteral("/api/pages.php"),
                         R"({"page_id":)" + QByteArray::number(pageId) + "," + fields + "}", token);
}

JSONArray TestFakeContentRoutes::pull(const QString &token, qint64 since, qint64 *serverTs, bool *capped)
{
    const FakeHttpClient::Reply r = m_http->post(QStringLiteral("/api/sync.php"),
                                                 R"({"since_ts":)" + QByteArray::number(since) + "}", token);
    if (r.status != 200)
        qWarning("pull: %d %s", r.status, r.body.constData());
    if (serverTs)
        *serverTs = r[QStringLiteral("server_ts")].toInt();
    if (capped)
        *capped = r[QStringLiteral("capped")].toBool();
    return r[QStringLiteral("ops")].toArray();
}

QStringList TestFakeContentRoutes::loggedSince(qint64 since)
{
    QStringList logged;
    for (const JSONValue &op : pull(m_annLaptop, since))
        logged.append(op[QStringLiteral("entity_type")].toString() + QLatin1Char(' ') +
                      op[QStringLiteral("op")].toString());
    return logged;
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

void TestFakeContentRoutes::blockUpsertAcknowledgesClientIds()
{
    const qint64 page = newPage(m_ann, QStringLiteral("Plan"));
    JSONArray acks = upsert(m_ann.token, page,
                            R"({"client_id":"a","type":"h1","content":{"text":"Plan"},"position":0},
                               {"client_id":"b","type":"text","content":{"text":"Step one"},"position":5},
                               {"client_id":"c","type":"todo","content":{"text":"Buy","checked":false},"position":9})");
    QCOMPARE(acks.size(), size_t(3));
    QCOMPARE(acks[0], json(R"({"client_id":"a","id":1,"position":0})"));
    QCOMPARE(acks[1], json(R"({"client_id":"b","id":2,"position":5})"));
    QCOMPARE(acks[2], json(R"({"client_id":"c","id":3,"position":9})"));

    const JSONArray listed = m_http
                                 ->get(QStringLiteral("/api/blocks.php?page_id=%1").arg(page),
                                       m_ann.token)[QStringLiteral("blocks")]
                                 .toArray();
    QCOMPARE(listed.size(), size_t(3));
    QCOMPARE(listed[2][QStringLiteral("content")], json(R"({"text":"Buy","checked":false})"));
    QCOMPARE(listed[2][QStringLiteral("type")].toString(), QStringLiteral("todo"));
    QCOMPARE(listed[1][QStringLiteral("position")].toInt(), 5);

    // The next push carries what changed: a and c keep their ids, d is new under a, and b, left
    // out, stays as it was (blocks go only by DELETE).
    const QByteArray second =
        R"({"client_id":"a","id":1,"type":"h1","content":{"text":"Plan v2"},"position":0},
                                 {"client_id":"c","id":3,"type":"todo","content":{"text":"Buy","checked":true},"position":1},
                                 {"client_id":"d","type":"text","content":{},"position":2,"parent_block_id":1})";
    acks = upsert(m_ann.token, page, second);
    QCOMPARE(acks.size(), size_t(3));
    QCOMPARE(acks[0][QStringLiteral("id")].toInt(), 1);
    QCOMPARE(acks[1][QStringLiteral("id")].toInt(), 3);
    const qint64 d = acks[2][QStringLiteral("id")].toInt();
    QVERIFY(d > 3);
    std::vector<FakeServiceState::Block> stored = m_fake->storedBlocks(page);
    QCOMPARE(stored.size(), size_t(4));
    QCOMPARE(stored[0].content, json(R"({"text":"Plan v2"})").toObject());
    QCOMPARE(stored[2].parentBlockId, 1);
    QCOMPARE(stored[3].content, json(R"({"text":"Step one"})").toObject());

    // A push repeated because its reply was lost finds d again by its client id.
    acks = upsert(m_ann.token, page, second);
    QCOMPARE(acks[2][QStringLiteral("id")].toInt(), d);
    QCOMPARE(m_fake->storedBlocks(page).size(), size_t(4));

    const qint64 cursor = lastTs();
    QCOMPARE(m_http->del(QStringLiteral("/api/blocks.php?block_id=1"), m_ann.token).status, 200);
    // The block under it goes too.
    QCOMPARE(m_fake->storedBlocks(page).size(), size_t(2));
    QCOMPARE(pull(m_annLaptop, cursor).size(), size_t(2));
    QCOMPARE(m_http->del(QStringLiteral("/api/blocks.php?block_id=1"), m_ann.token).status, 404);
}

void TestFakeContentRoutes::blockUpsertIsAllOrNothing()
{
    const qint64 page = newPage(m_ann, QStringLiteral("Plan"));
    upsert(m_ann.token, page, R"({"client_id":"a","type":"text","content":{"text":"keep"},"position":0})");
    const qint64 entries = m_fake->syncEntryCount();
    const FakeHttpClient::Reply r = m_http->post(
        QStringLiteral("/api/blocks.php"),
        R"({"page_id":)" + QByteArray::number(page) +
            R"(,"blocks":[{"client_id":"b","type":"text","content":{},"position":0},{"client_id":"c","type":"text","content":[],"position":1}]})",
        m_ann.token);
    QCOMPARE(r.status, 400);
    QCOMPARE(r.error(), QStringLiteral("blocks[1].content must be an object"));
    QCOMPARE(m_fake->storedBlocks(page).size(), size_t(1));
    QCOMPARE(m_fake->storedBlocks(page)[0].clientId, QStringLiteral("a"));
    QCOMPARE(m_fake->syncEntryCount(), entries);
}

void TestFakeContentRoutes::pullReachesOtherDeviceOfSameAccountOnly()
{
    const qint64 page = newPage(m_ann, QStringLiteral("Trip"));
    upsert(m_ann.token, page,
           R"({"client_id":"a","type":"h1","content":{"text":"Trip"},"position":0},
              {"client_id":"b","type":"text","content":{"text":"Pack","nested":{"list":[1,2]}},"position":1})");

    qint64 cursor = 0;
    bool capped = true;
    JSONArray ops = pull(m_annLaptop, 0, &cursor, &capped);
    QCOMPARE(ops.size(), size_t(3));
    QVERIFY(!capped);
    QCOMPARE(ops[0][QStringLiteral("entity_type")].toString(), QStringLiteral("page"));
    QCOMPARE(ops[0][QStringLiteral("entity_id")].toInt(), page);
    QCOMPARE(ops[0][QStringLiteral("op")].toString(), QStringLiteral("create"));
    const JSONValue &pagePayload = ops[0][QStringLiteral("payload")];
    for (const char *key : {"title", "icon", "position", "workspace_id", "parent_page_id", "folder_id",
                            "cover_url", "cover_offset_x", "cover_offset_y"})
        QVERIFY2(pagePayload.toObject().count(QLatin1String(key)), key);
    QCOMPARE(pagePayload[QStringLiteral("title")].toString(), QStringLiteral("Trip"));
    QCOMPARE(pagePayload[QStringLiteral("workspace_id")].toInt(), m_ann.workspaceId);

    QCOMPARE(ops[2][QStringLiteral("entity_type")].toString(), QStringLiteral("block"));
    const JSONValue &blockPayload = ops[2][QStringLiteral("payload")];
    QCOMPARE(blockPayload[QStringLiteral("page_id")].toInt(), page);
    QCOMPARE(blockPayload[QStringLiteral("type")].toString(), QStringLiteral("text"));
    QCOMPARE(blockPayload[QStringLiteral("position")].toInt(), 1);
    QVERIFY(blockPayload[QStringLiteral("parent_block_id")].isNull());
    QCOMPARE(blockPayload[QStringLiteral("content")], json(R"({"text":"Pack","nested":{"list":[1,2]}})"));
    QCOMPARE(ops[2][QStringLiteral("entity_id")], blockPayload[QStringLiteral("id")]);
    QCOMPARE(blockPayload[QStringLiteral("client_id")].toString(), QStringLiteral("b"));
    QVERIFY(ops[0][QStringLiteral("server_ts")].toInt() < ops[1][QStringLiteral("server_ts")].toInt());
    QVERIFY(ops[1][QStringLiteral("server_ts")].toInt() < ops[2][QStringLiteral("server_ts")].toInt());
    QCOMPARE(cursor, ops[2][QStringLiteral("server_ts")].toInt());

    // Another account sees none of it, not even with the oldest cursor.
    QVERIFY(pull(m_bob.token, 0).empty());
    newPage(m_bob, QStringLiteral("Bob's"));
    qint64 next = 0;
    QVERIFY(pull(m_annLaptop, cursor, &next).empty());
    QVERIFY(next >= cursor);

    // Only what changed after the cursor comes next.
    QCOMPARE(patchPage(page, R"("title":"Trip 2")", m_ann.token).status, 200);
    ops = pull(m_annLaptop, next);
    QCOMPARE(ops.size(), size_t(1));
    QCOMPARE(ops[0][QStringLiteral("op")].toString(), QStringLiteral("update"));
    QCOMPARE(ops[0][QStringLiteral("payload")][QStringLiteral("title")].toString(), QStringLiteral("Trip 2"));
}

void TestFakeContentRoutes::pullPagesThroughCappedReplies()
{
    const qint64 page = newPage(m_ann, QStringLiteral("Long"));
    upsert(
        m_ann.token, page,
        R"({"client_id":"a","type":"text","content":{},"position":0},{"client_id":"b","type":"text","content":{},"position":1},
              {"client_id":"c","type":"text","content":{},"position":2},{"client_id":"d","type":"text","content":{},"position":3})");
    newPage(m_bob, QStringLiteral("Elsewhere"));
    const JSONArray whole = pull(m_annLaptop, 0);
    QCOMPARE(whole.size(), size_t(5));

    m_fake->setSyncPageSize(2);
    JSONArray pieced;
    QList<int> sizes;
    QList<bool> cappedFlags;
    qint64 cursor = 0;
    for (int i = 0; i < 5; ++i) {
        bool capped = false;
        const JSONArray ops = pull(m_annLaptop, cursor, &cursor, &capped);
        sizes.append(int(ops.size()));
        cappedFlags.append(capped);
        pieced.insert(pieced.end(), ops.begin(), ops.end());
        if (!capped)
            break;
    }
    QCOMPARE(sizes, QList<int>({2, 2, 1}));
    QCOMPARE(cappedFlags, QList<bool>({true, true, false}));
    QCOMPARE(pieced, whole);
}

void TestFakeContentRoutes::changesAreLogged_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("logged"); // "entity op" per entry, in order

    QTest::newRow("page create") << "page create" << QStringList{"page create"};
    QTest::newRow("page update") << "page update" << QStringList{"page update"};
    QTest::newRow("page update to the same values") << "page same" << QStringList{};
    QTest::newRow("move to the trash") << "trash" << QStringList{"page delete"};
    QTest::newRow("restore") << "restore" << QStringList{"page update"};
    QTest::newRow("purge") << "purge" << QStringList{"page delete"};
    QTest::newRow("blocks: one changed, one new, one left out")
        << "upsert" << QStringList{"block update", "block create"};
    QTest::newRow("blocks pushed again unchanged") << "upsert same" << QStringList{};
    QTest::newRow("block delete") << "block delete" << QStringList{"block delete"};
}

void TestFakeContentRoutes::changesAreLogged()
{
    QFETCH(QString, change);
    QFETCH(QStringList, logged);

    const qint64 page = newPage(m_ann, QStringLiteral("Base"));
    const QByteArray blocks = R"({"client_id":"a","type":"text","content":{"text":"A"},"position":0},
                                 {"client_id":"b","type":"text","content":{"text":"B"},"position":1})";
    upsert(m_ann.token, page, blocks);
    const QString pageQuery = QStringLiteral("/api/pages.php?page_id=%1").arg(page);
    if (change == QLatin1String("restore") || change == QLatin1String("purge"))
        QCOMPARE(m_http->del(pageQuery, m_ann.token).status, 200);

    const qint64 cursor = lastTs();
    int status = 0;
    if (change == QLatin1String("page create"))
        status = newPage(m_ann, QStringLiteral("New")) ? 200 : 0;
    else if (change == QLatin1String("page update"))
        status = patchPage(page, R"("icon":"⭐")", m_ann.token).status;
    else if (change == QLatin1String("page same"))
        status = patchPage(page, R"("title":"Base")", m_ann.token).status;
    else if (change == QLatin1String("trash"))
        status = m_http->del(pageQuery, m_ann.token).status;
    else if (change == QLatin1String("restore"))
        status = patchPage(page, R"("restore":1)", m_ann.token).status;
    else if (change == QLatin1String("purge"))
        status = m_http->del(pageQuery + QStringLiteral("&permanent=1"), m_ann.token).status;
    else if (change == QLatin1String("upsert"))
        status = upsert(m_ann.token, page,
                        R"({"client_id":"b","id":2,"type":"text","content":{"text":"B2"},"position":0},
                           {"client_id":"c","type":"text","content":{"text":"C"},"position":1})")
                         .empty()
                     ? 0
                     : 200;
    else if (change == QLatin1String("upsert same"))
        status = upsert(m_ann.token, page, blocks).empty() ? 0 : 200;
    else if (change == QLatin1String("block delete"))
        status = m_http->del(QStringLiteral("/api/blocks.php?block_id=2"), m_ann.token).status;
    QCOMPARE(status, 200);

    QCOMPARE(loggedSince(cursor), logged);
}

void TestFakeContentRoutes::versionRestorePutsBlocksBack()
{
    const qint64 page = newPage(m_ann, QStringLiteral("Essay"));
    upsert(m_ann.token, page, R"({"client_id":"a","type":"text","content":{"text":"Alpha"},"position":0})");
    upsert(m_ann.token, page, R"({"client_id":"b","type":"text","content":{"text":"Beta"},"position":1})");
    upsert(m_ann.token, page, R"({"client_id":"b","type":"text","content":{"text":"Beta"},"position":1})");

    const QString list = QStringLiteral("/api/versions.php?page_id=%1").arg(page);
    JSONArray versions = m_http->get(list, m_ann.token)[QStringLiteral("versions")].toArray();
    QCOMPARE(versions.size(), size_t(2)); // an unchanged push saves nothing new
    QVERIFY(versions[0][QStringLiteral("id")].toInt() > versions[1][QStringLiteral("id")].toInt());
    QCOMPARE(versions[1][QStringLiteral("page_id")].toInt(), page);
    QCOMPARE(versions[1][QStringLiteral("user_name")].toString(), QStringLiteral("Ann"));
    QVERIFY(versions[1][QStringLiteral("created_at")].isString());
    QVERIFY(versions[1][QStringLiteral("byte_size")].toInt() > 0);
    QCOMPARE(m_http->get(list, m_bob.token).status, 403);

    const qint64 cursor = lastTs();
    const QByteArray body = R"({"version_id":)" +
                            QByteArray::number(versions[1][QStringLiteral("id")].toInt()) +
                            R"(,"restore":true})";
    QCOMPARE(m_http->patch(QStringLiteral("/api/versions.php"), body, m_bob.token).status, 403);
    const FakeHttpClient::Reply r = m_http->patch(QStringLiteral("/api/versions.php"), body, m_ann.token);
    QCOMPARE(r.status, 200);
    QCOMPARE(r.json, json(R"({"ok":true})"));

    const std::vector<FakeServiceState::Block> stored = m_fake->storedBlocks(page);
    // The version held Alpha alone: Beta goes, Alpha stays as it was.
    QCOMPARE(stored.size(), size_t(1));
    QCOMPARE(stored[0].content, json(R"({"text":"Alpha"})").toObject());
    QCOMPARE(loggedSince(cursor), QStringList({"block delete"}));
    QCOMPARE(m_http->get(list, m_ann.token)[QStringLiteral("versions")].toArray().size(), size_t(3));
    QCOMPARE(
        m_http
            ->patch(QStringLiteral("/api/versions.php"), R"({"version_id":999,"restore":true})", m_ann.token)
            .status,
        404);
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
