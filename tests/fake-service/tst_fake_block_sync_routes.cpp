// The fake service's blocks, sync log and versions, driven over loopback HTTP with raw JSON, as the
// sync suites rely on them.
#include "content_route_fixture.h"

#include <QTest>

class TestFakeBlockSyncRoutes : public QObject, private ContentRouteFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void blockUpsertAcknowledgesClientIds();
    void blockUpsertIsAllOrNothing();
    void pullReachesOtherDeviceOfSameAccountOnly();
    void pullPagesThroughCappedReplies();
    void changesAreLogged_data();
    void changesAreLogged();
    void versionRestorePutsBlocksBack();
};

void TestFakeBlockSyncRoutes::init()
{
    startWithLaptop();
}

void TestFakeBlockSyncRoutes::cleanup()
{
    stopService();
}

void TestFakeBlockSyncRoutes::blockUpsertAcknowledgesClientIds()
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

void TestFakeBlockSyncRoutes::blockUpsertIsAllOrNothing()
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

void TestFakeBlockSyncRoutes::pullReachesOtherDeviceOfSameAccountOnly()
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

void TestFakeBlockSyncRoutes::pullPagesThroughCappedReplies()
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

void TestFakeBlockSyncRoutes::changesAreLogged_data()
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

void TestFakeBlockSyncRoutes::changesAreLogged()
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

void TestFakeBlockSyncRoutes::versionRestorePutsBlocksBack()
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

QTEST_GUILESS_MAIN(TestFakeBlockSyncRoutes)
#include "tst_fake_block_sync_routes.moc"
