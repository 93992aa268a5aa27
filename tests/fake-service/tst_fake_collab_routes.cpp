// The fake service's comments, sharing, suggestions, publishing, AI, databases and bookmark previews,
// driven over loopback HTTP with raw JSON.
#include "support/fake_route_fixture.h"

#include <QImage>
#include <QTest>

namespace {

QByteArray number(qint64 n)
{
    return QByteArray::number(n);
}

} // namespace

class TestFakeCollabRoutes : public QObject, private FakeRouteFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void comments();
    void commentRefused_data();
    void commentRefused();
    void shareRoleGrants_data();
    void shareRoleGrants();
    void invitesAndShares();
    void editOwnEditsOnlyItsOwnBlocks_data();
    void editOwnEditsOnlyItsOwnBlocks();
    void acceptSuggestion_data();
    void acceptSuggestion();
    void suggestionDecisions();
    void publish();
    void aiReply_data();
    void aiReply();
    void aiRefused_data();
    void aiRefused();
    void aiDailyAllowance();
    void databases();
    void bookmarkPreview_data();
    void bookmarkPreview();

private:
    qint64 firstBlock(qint64 pageId, const QByteArray &items); // pushes the items, returns the first id
    FakeHttpClient::Reply share(qint64 pageId, const QString &email, const QString &role);
};

void TestFakeCollabRoutes::init()
{
    startService();
}

void TestFakeCollabRoutes::cleanup()
{
    stopService();
}

qint64 TestFakeCollabRoutes::firstBlock(qint64 pageId, const QByteArray &items)
{
    return upsert(m_ann.token, pageId, items).at(0)[QStringLiteral("id")].toInt();
}

FakeHttpClient::Reply TestFakeCollabRoutes::share(qint64 pageId, const QString &email, const QString &role)
{
    return m_http->post(QStringLiteral("/api/share.php"),
                        R"({"page_id":)" + number(pageId) + R"(,"email":")" + email.toUtf8() +
                            R"(","role":")" + role.toUtf8() + R"("})",
                        m_ann.token);
}

void TestFakeCollabRoutes::comments()
{
    const qint64 page = newPage(m_ann, QStringLiteral("Review"));
    const qint64 block =
        firstBlock(page, R"({"client_id":"a","type":"text","content":{"text":"Teh plan"},"position":0})");
    const QString path = QStringLiteral("/api/comments.php");

    const FakeHttpClient::Reply onPage =
        m_http->post(path, R"({"page_id":)" + number(page) + R"(,"body":"Looks good"})", m_ann.token);
    QCOMPARE(onPage.status, 200);
    const JSONValue &c = onPage[QStringLiteral("comment")];
    QCOMPARE(c[QStringLiteral("page_id")].toInt(), page);
    QVERIFY(c[QStringLiteral("block_id")].isNull());
    QCOMPARE(c[QStringLiteral("user_id")].toInt(), m_ann.userId);
    QCOMPARE(c[QStringLiteral("user_name")].toString(), QStringLiteral("Ann"));
    QCOMPARE(c[QStringLiteral("body")].toString(), QStringLiteral("Looks good"));
    QVERIFY(c[QStringLiteral("created_at")].isString());

    QCOMPARE(
        m_http
            ->post(path,
                   R"({"page_id":)" + number(page) + R"(,"block_id":)" + number(block) +
                       R"(,"body":"Typo?","selection_start":0,"selection_length":3,"selection_text":"Teh"})",
                   m_ann.token)
            .status,
        200);
    const FakeHttpClient::Reply list =
        m_http->get(path + QStringLiteral("?page_id=%1").arg(page), m_ann.token);
    QCOMPARE(list.status, 200);
    const JSONArray all = list[QStringLiteral("comments")].toArray();
    QCOMPARE(all.size(), size_t(2));
    QCOMPARE(all[0][QStringLiteral("body")].toString(), QStringLiteral("Looks good"));
    QCOMPARE(all[1][QStringLiteral("block_id")].toInt(), block);
    QCOMPARE(all[1][QStringLiteral("selection_start")].toInt(), 0);
    QCOMPARE(all[1][QStringLiteral("selection_length")].toInt(), 3);
    QCOMPARE(all[1][QStringLiteral("selection_text")].toString(), QStringLiteral("Teh"));
    // Another page's list does not carry them.
    const qint64 other = newPage(m_ann, QStringLiteral("Other"));
    QVERIFY(
        m_http->get(path + QStringLiteral("?page_id=%1").arg(other), m_ann.token)[QStringLiteral("comments")]
            .toArray()
            .empty());
}

void TestFakeCollabRoutes::commentRefused_data()
{
    QTest::addColumn<QByteArray>(
        "fields"); // besides page_id; %BLOCK% is a block of the page, %ELSEWHERE% one of another
    QTest::addColumn<QString>("error");

    QTest::newRow("blank body") << QByteArray(R"("body":"   ")") << "Comment can't be empty";
    QTest::newRow("no body") << QByteArray(R"("block_id":%BLOCK%)") << "body is required";
    QTest::newRow("start without length")
        << QByteArray(R"("body":"x","block_id":%BLOCK%,"selection_start":1)")
        << "selection_start and selection_length go together";
    QTest::newRow("selection without block")
        << QByteArray(R"("body":"x","selection_start":1,"selection_length":2)")
        << "A selection needs block_id";
    QTest::newRow("block of another page")
        << QByteArray(R"("body":"x","block_id":%ELSEWHERE%)") << "Block not found on this page";
}

void TestFakeCollabRoutes::commentRefused()
{
    QFETCH(QByteArray, fields);
    QFETCH(QString, error);

    const qint64 page = newPage(m_ann, QStringLiteral("Here"));
    const qint64 block = firstBlock(page, R"({"client_id":"a","type":"text","content":{},"position":0})");
    const qint64 elsewhere = firstBlock(newPage(m_ann, QStringLiteral("There")),
                                        R"({"client_id":"b","type":"text","content":{},"position":0})");
    fields.replace("%BLOCK%", number(block)).replace("%ELSEWHERE%", number(elsewhere));
    const FakeHttpClient::Reply r =
        m_http->post(QStringLiteral("/api/comments.php"),
                     R"({"page_id":)" + number(page) + "," + fields + "}", m_ann.token);
    QCOMPARE(r.status, 400);
    QCOMPARE(r.error(), error);
    QVERIFY(m_fake->state().comments.empty());
}

void TestFakeCollabRoutes::shareRoleGrants_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QStringList>("permissions");
    QTest::addColumn<int>("view");
    QTest::addColumn<int>("comment");
    QTest::addColumn<int>("edit");
    QTest::addColumn<int>("share");
    QTest::addColumn<int>("trash");

    QTest::newRow("view") << "view" << QStringList{"view"} << 200 << 403 << 403 << 403 << 403;
    QTest::newRow("comment") << "comment" << QStringList{"view", "comment"} << 200 << 200 << 403 << 403
                             << 403;
    // A suggester's push is answered as kept; it waits as a suggestion (tst_fake_suggest_role).
    QTest::newRow("suggest") << "suggest" << QStringList{"view", "comment", "suggest"} << 200 << 200 << 200
                             << 403 << 403;
    QTest::newRow("edit-own") << "edit-own" << QStringList{"view", "comment", "edit-own"} << 200 << 200 << 200
                              << 403 << 403;
    QTest::newRow("edit") << "edit" << QStringList{"view", "comment", "edit"} << 200 << 200 << 200 << 403
                          << 403;
    QTest::newRow("full") << "full" << QStringList{"view", "comment", "edit", "delete", "share"} << 200 << 200
                          << 200 << 200 << 200;
}

void TestFakeCollabRoutes::shareRoleGrants()
{
    QFETCH(QString, role);
    QFETCH(QStringList, permissions);
    QFETCH(int, view);
    QFETCH(int, comment);
    QFETCH(int, edit);
    QFETCH(int, share);
    QFETCH(int, trash);

    const qint64 page = newPage(m_ann, QStringLiteral("Shared"));
    const qint64 sibling = newPage(m_ann, QStringLiteral("Not shared"));
    // The address matches whatever its case.
    const FakeHttpClient::Reply invited = this->share(page, QStringLiteral("bob@EXAMPLE.com"), role);
    QCOMPARE(invited.status, 200);
    QCOMPARE(invited.json, json(R"({"ok":true,"kind":"shared"})"));
    const JSONArray shares = m_http
                                 ->get(QStringLiteral("/api/share.php?page_id=%1").arg(page),
                                       m_ann.token)[QStringLiteral("shares")]
                                 .toArray();
    QCOMPARE(shares.size(), size_t(1));
    QStringList words;
    for (const JSONValue &w : shares[0][QStringLiteral("permissions")].toArray())
        words.append(w.toString());
    QCOMPARE(words, permissions);
    QCOMPARE(shares[0][QStringLiteral("role")].toString(), role);

    const QByteArray pageId = number(page);
    QCOMPARE(m_http->get(QStringLiteral("/api/blocks.php?page_id=%1").arg(page), m_bob.token).status, view);
    QCOMPARE(m_http
                 ->post(QStringLiteral("/api/comments.php"), R"({"page_id":)" + pageId + R"(,"body":"hi"})",
                        m_bob.token)
                 .status,
             comment);
    QCOMPARE(m_http
                 ->post(QStringLiteral("/api/blocks.php"),
                        R"({"page_id":)" + pageId +
                            R"(,"blocks":[{"client_id":"b","type":"text","content":{},"position":0}]})",
                        m_bob.token)
                 .status,
             edit);
    QCOMPARE(m_http
                 ->post(QStringLiteral("/api/share.php"),
                        R"({"page_id":)" + pageId + R"(,"email":"carol@example.com","role":"view"})",
                        m_bob.token)
                 .status,
             share);
    QCOMPARE(m_http->del(QStringLiteral("/api/pages.php?page_id=%1").arg(page), m_bob.token).status, trash);
    // The share reaches that one page only, and not the workspace's lists.
    QCOMPARE(m_http->get(QStringLiteral("/api/blocks.php?page_id=%1").arg(sibling), m_bob.token).status, 403);
    QCOMPARE(m_http->get(QStringLiteral("/api/pages.php?workspace_id=%1").arg(m_ann.workspaceId), m_bob.token)
                 .status,
             403);
}

void TestFakeCollabRoutes::invitesAndShares()
{
    const qint64 page = newPage(m_ann, QStringLiteral("Plans"));
    const QString list = QStringLiteral("/api/share.php?page_id=%1").arg(page);

    QCOMPARE(share(page, QStringLiteral("  new@example.com "), QStringLiteral("comment")).json,
             json(R"({"ok":true,"kind":"invite_sent"})"));
    QCOMPARE(share(page, QStringLiteral("NEW@example.com"), QStringLiteral("edit")).status,
             200); // changes the role
    QCOMPARE(share(page, QStringLiteral("bob@example.com"), QStringLiteral("view")).status, 200);
    QCOMPARE(share(page, QStringLiteral("ann@example.com"), QStringLiteral("view")).status, 400);
    QCOMPARE(share(page, QStringLiteral("bob@example.com"), QStringLiteral("owner")).error(),
             QStringLiteral("Unknown role"));
    QCOMPARE(share(page, QStringLiteral("not an address"), QStringLiteral("view")).status, 400);

    FakeHttpClient::Reply r = m_http->get(list, m_ann.token);
    QCOMPARE(r.status, 200);
    const JSONArray invites = r[QStringLiteral("invites")].toArray();
    QCOMPARE(invites.size(), size_t(1));
    QCOMPARE(invites[0][QStringLiteral("email")].toString(), QStringLiteral("new@example.com"));
    QCOMPARE(invites[0][QStringLiteral("role")].toString(), QStringLiteral("edit"));
    QVERIFY(invites[0][QStringLiteral("accepted_at")].isNull());
    const JSONArray shares = r[QStringLiteral("shares")].toArray();
    QCOMPARE(shares.size(), size_t(1));
    QCOMPARE(shares[0][QStringLiteral("shared_with_user_id")].toInt(), m_bob.userId);
    QCOMPARE(shares[0][QStringLiteral("name")].toString(), QStringLiteral("Bob"));
    QCOMPARE(shares[0][QStringLiteral("email")].toString(), QStringLiteral("Bob@Example.com"));

    const qint64 shareId = shares[0][QStringLiteral("id")].toInt();
    const qint64 inviteId = invites[0][QStringLiteral("id")].toInt();
    const QString remove = QStringLiteral("/api/share.php?page_id=%1&").arg(page);
    QCOMPARE(m_http->del(remove + QStringLiteral("share_id=%1").arg(shareId), m_bob.token).status, 403);
    QCOMPARE(m_http->del(remove + QStringLiteral("share_id=%1").arg(shareId), m_ann.token).status, 200);
    QCOMPARE(m_http->get(QStringLiteral("/api/blocks.php?page_id=%1").arg(page), m_bob.token).status, 403);
    QCOMPARE(m_http->del(remove + QStringLiteral("share_id=%1").arg(shareId), m_ann.token).status, 404);
    QCOMPARE(m_http->del(remove + QStringLiteral("invite_id=%1").arg(inviteId), m_ann.token).status, 200);
    QCOMPARE(m_http->get(list, m_ann.token).json, json(R"({"shares":[],"invites":[]})"));
    QCOMPARE(m_http->del(QStringLiteral("/api/share.php?page_id=%1").arg(page), m_ann.token).status, 400);
}

void TestFakeCollabRoutes::editOwnEditsOnlyItsOwnBlocks_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<int>("others"); // status of changing or deleting a block by Ann
    QTest::newRow("edit-own") << "edit-own" << 403;
    QTest::newRow("edit") << "edit" << 200;
}

void TestFakeCollabRoutes::editOwnEditsOnlyItsOwnBlocks()
{
    QFETCH(QString, role);
    QFETCH(int, others);
    const qint64 page = newPage(m_ann, QStringLiteral("Team"));
    const qint64 anns =
        firstBlock(page, R"({"client_id":"a","type":"text","content":{"text":"by Ann"},"position":0})");
    QCOMPARE(share(page, QStringLiteral("bob@example.com"), role).status, 200);
    const QString blocks = QStringLiteral("/api/blocks.php");
    const auto push = [&](const QByteArray &items) {
        return m_http->post(blocks, R"({"page_id":)" + number(page) + R"(,"blocks":[)" + items + "]}",
                            m_bob.token);
    };
    const QByteArray annsAsIs = R"({"id":)" + number(anns) +
                                R"(,"client_id":"a","type":"text","content":{"text":"by Ann"},"position":0})";
    // Ann’s block left as it is, Bob's own added and then changed: always his to do.
    QCOMPARE(push(annsAsIs + R"(,{"client_id":"b","type":"text","content":{"text":"by Bob"},"position":1})")
                 .status,
             200);
    QCOMPARE(push(annsAsIs +
                  R"(,{"client_id":"b","type":"text","content":{"text":"by Bob, edited"},"position":1})")
                 .status,
             200);
    // Ann’s block changed, or left out of the set.
    QCOMPARE(
        push(
            R"({"id":)" + number(anns) +
            R"(,"client_id":"a","type":"text","content":{"text":"mine now"},)"
            R"("position":0},{"client_id":"b","type":"text","content":{"text":"by Bob, edited"},"position":1})")
            .status,
        others);
    QCOMPARE(m_http->del(QStringLiteral("/api/blocks.php?block_id=%1").arg(anns), m_bob.token).status,
             others);
}

void TestFakeCollabRoutes::acceptSuggestion_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("texts"); // the page's block texts afterwards
    QTest::addColumn<QStringList>("logged");

    QTest::newRow("title change") << "title_change" << QByteArray(R"({"title":"Better title"})")
                                  << "Better title" << QStringList{"one", "two"}
                                  << QStringList{"page update"};
    QTest::newRow("block update") << "block_update" << QByteArray(R"({"content":{"text":"ONE"}})") << "Draft"
                                  << QStringList{"ONE", "two"} << QStringList{"block update"};
    QTest::newRow("block create") << "block_create"
                                  << QByteArray(R"({"type":"text","content":{"text":"three"}})") << "Draft"
                                  << QStringList{"one", "two", "three"} << QStringList{"block create"};
    QTest::newRow("block delete") << "block_delete" << QByteArray() << "Draft" << QStringList{"two"}
                                  << QStringList{"block delete"};
    QTest::newRow("unknown kind is only marked") << "mood_change" << QByteArray(R"({"mood":"sunny"})")
                                                 << "Draft" << QStringList{"one", "two"} << QStringList{};
}

void TestFakeCollabRoutes::acceptSuggestion()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, payload);
    QFETCH(QString, title);
    QFETCH(QStringList, texts);
    QFETCH(QStringList, logged);

    const qint64 page = newPage(m_ann, QStringLiteral("Draft"));
    const qint64 block =
        firstBlock(page, R"({"client_id":"a","type":"text","content":{"text":"one"},"position":0},
                                            {"client_id":"b","type":"text","content":{"text":"two"},"position":1})");
    const std::optional<JSONObject> seeded =
        payload.isEmpty() ? std::nullopt : std::optional<JSONObject>(json(payload).toObject());
    const qint64 id = m_fake->seedSuggestion(page, m_bob.userId, kind, seeded, block);
    const qint64 cursor = m_fake->state().lastServerTs;

    QCOMPARE(m_http
                 ->patch(QStringLiteral("/api/suggestions.php"),
                         R"({"suggestion_id":)" + number(id) + R"(,"status":"accepted"})", m_ann.token)
                 .status,
             200);
    QCOMPARE(m_fake->state().pages.at(page).title, title);
    QStringList got;
    for (const auto &b : m_fake->storedBlocks(page))
        got.append(b.content.at(QStringLiteral("text")).toString());
    QCOMPARE(got, texts);
    QStringList ops;
    for (const auto &e : m_fake->state().syncLog) {
        if (e.serverTs > cursor)
            ops.append(e.entityType + QLatin1Char(' ') + e.op);
    }
    QCOMPARE(ops, logged);
    QCOMPARE(m_fake->state().suggestions.at(id).status, QStringLiteral("accepted"));
}

void TestFakeCollabRoutes::suggestionDecisions()
{
    const qint64 page = newPage(m_ann, QStringLiteral("Draft"));
    const qint64 first = m_fake->seedSuggestion(page, m_bob.userId, QStringLiteral("title_change"),
                                                json(R"({"title":"New"})").toObject());
    const qint64 second = m_fake->seedSuggestion(page, m_bob.userId, QStringLiteral("block_update"));
    const QString path = QStringLiteral("/api/suggestions.php");

    const FakeHttpClient::Reply list =
        m_http->get(path + QStringLiteral("?page_id=%1").arg(page), m_ann.token);
    QCOMPARE(list.status, 200);
    const JSONArray items = list[QStringLiteral("suggestions")].toArray();
    QCOMPARE(items.size(), size_t(2));
    QCOMPARE(items[0][QStringLiteral("id")].toInt(), first);
    QCOMPARE(items[0][QStringLiteral("user_id")].toInt(), m_bob.userId);
    QCOMPARE(items[0][QStringLiteral("user_name")].toString(), QStringLiteral("Bob"));
    QCOMPARE(items[0][QStringLiteral("kind")].toString(), QStringLiteral("title_change"));
    QCOMPARE(items[0][QStringLiteral("payload")], json(R"({"title":"New"})"));
    QCOMPARE(items[0][QStringLiteral("status")].toString(), QStringLiteral("pending"));
    QVERIFY(items[1][QStringLiteral("payload")].isNull());
    QVERIFY(items[1][QStringLiteral("block_id")].isNull());

    const auto decide = [&](qint64 id, const char *status, const QString &token) {
        return m_http->patch(path, R"({"suggestion_id":)" + number(id) + R"(,"status":")" + status + R"("})",
                             token);
    };
    QCOMPARE(decide(first, "maybe", m_ann.token).status, 400);
    QCOMPARE(decide(first, "accepted", m_bob.token).status, 403);
    QCOMPARE(decide(first, "rejected", m_ann.token).status, 200);
    QCOMPARE(m_fake->state().pages.at(page).title, QStringLiteral("Draft"));
    QCOMPARE(decide(first, "accepted", m_ann.token).status, 409);
    // An edit of a block that no longer exists cannot be applied, and stays pending.
    QCOMPARE(decide(second, "accepted", m_ann.token).status, 409);
    QCOMPARE(m_fake->state().suggestions.at(second).status, QStringLiteral("pending"));
    QCOMPARE(decide(999, "accepted", m_ann.token).status, 404);
    const JSONArray after =
        m_http
            ->get(path + QStringLiteral("?page_id=%1").arg(page), m_ann.token)[QStringLiteral("suggestions")]
            .toArray();
    QCOMPARE(after[0][QStringLiteral("status")].toString(), QStringLiteral("rejected"));
    QVERIFY(after[0][QStringLiteral("decided_at")].isString());
}

void TestFakeCollabRoutes::publish()
{
    const qint64 page = newPage(m_ann, QStringLiteral("My Trip: Day 1!"));
    const QString read = QStringLiteral("/api/publish.php?page_id=%1").arg(page);
    const QString path = QStringLiteral("/api/publish.php");
    const QByteArray key = R"({"page_id":)" + number(page);

    QCOMPARE(m_http->get(read, m_ann.token).json, json(R"({"published":false})"));

    FakeHttpClient::Reply r = m_http->post(
        path, key + R"(,"password":"pw","allow_comments":true,"include_subpages":false})", m_ann.token);
    QCOMPARE(r.status, 200);
    const QString slug = QStringLiteral("my-trip-day-1-%1").arg(page);
    QCOMPARE(r[QStringLiteral("slug")].toString(), slug);
    QCOMPARE(r[QStringLiteral("url")].toString(), m_fake->origin() + QStringLiteral("/p/") + slug);
    // The settings come back as integer flags.
    QCOMPARE(r[QStringLiteral("allow_comments")], JSONValue(1));
    QCOMPARE(r[QStringLiteral("include_subpages")], JSONValue(0));
    QCOMPARE(r[QStringLiteral("view_count")], JSONValue(0));
    QCOMPARE(r[QStringLiteral("has_password")], JSONValue(true));
    QCOMPARE(r[QStringLiteral("published")], JSONValue(true));

    // Left out, the password stays; sent empty, it goes.
    r = m_http->post(path, key + R"(,"allow_comments":false,"include_subpages":true})", m_ann.token);
    QCOMPARE(r[QStringLiteral("has_password")], JSONValue(true));
    QCOMPARE(r[QStringLiteral("include_subpages")], JSONValue(1));
    QCOMPARE(m_http->get(read, m_ann.token).json, r.json);
    r = m_http->post(path, key + R"(,"password":"","allow_comments":false,"include_subpages":true})",
                     m_ann.token);
    QCOMPARE(r[QStringLiteral("has_password")], JSONValue(false));
    QCOMPARE(m_http->post(path, key + R"(,"allow_comments":1,"include_subpages":true})", m_ann.token).status,
             400);

    QCOMPARE(m_http->del(read, m_ann.token).status, 200);
    r = m_http->get(read, m_ann.token);
    QCOMPARE(r[QStringLiteral("published")], JSONValue(false));
    QVERIFY(!r.json.toObject().count(QStringLiteral("url")));
    // Published again, the page keeps its address.
    r = m_http->post(path, key + R"(,"allow_comments":false,"include_subpages":false})", m_ann.token);
    QCOMPARE(r[QStringLiteral("slug")].toString(), slug);
}

void TestFakeCollabRoutes::aiReply_data()
{
    QTest::addColumn<QByteArray>("body"); // %PAGE% stands for the page's id
    QTest::addColumn<QString>("text");

    QTest::newRow("summarize") << QByteArray(R"({"action":"summarize","page_id":%PAGE%})")
                               << "- Plan\n- We leave at dawn.\n- Bring water!";
    QTest::newRow("outline") << QByteArray(R"({"action":"outline","page_id":%PAGE%})")
                             << "# Trip\n- Plan\n  - Packing";
    QTest::newRow("continue") << QByteArray(R"({"action":"continue","page_id":%PAGE%})")
                              << "Following on from \"Tents go in first.\", the next step is to act on it.";
    QTest::newRow("improve") << QByteArray(
                                    R"({"action":"improve","page_id":%PAGE%,"text":"  the   plan is good "})")
                             << "The plan is good.";
    QTest::newRow("ask") << QByteArray(R"({"action":"ask","page_id":%PAGE%,"prompt":"When do we leave?"})")
                         << "From the page: We leave at dawn.";
    QTest::newRow("ask about nothing on the page")
        << QByteArray(R"({"action":"ask","page_id":%PAGE%,"prompt":"Who pays?"})") << "The page doesn't say.";
    QTest::newRow("translate")
        << QByteArray(R"({"action":"translate","page_id":%PAGE%,"target_lang":"French"})")
        << "[French] Plan We leave at dawn. Bring water! Is the car ready? Packing Tents go in first.";
    QTest::newRow("improve without a page") << QByteArray(R"({"action":"improve","text":"ok"})") << "Ok.";
    // Line breaks are text, as the app counts them.
    QTest::newRow("ask of line breaks")
        << QByteArray(R"({"action":"ask","page_id":%PAGE%,"prompt":"\n\n"})") << "The page doesn't say.";
    QTest::newRow("improve of line breaks")
        << QByteArray(R"({"action":"improve","text":" \n\t\n"})") << "There is no text to improve yet.";
}

void TestFakeCollabRoutes::aiReply()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, text);

    const qint64 page = newPage(m_ann, QStringLiteral("Trip"));
    firstBlock(page, R"({"client_id":"a","type":"h1","content":{"text":"Plan"},"position":0},
                       {"client_id":"b","type":"text","content":{"text":"We leave at dawn. Bring water! Is the car ready?"},"position":1},
                       {"client_id":"c","type":"h2","content":{"text":"Packing"},"position":2},
                       {"client_id":"d","type":"text","content":{"text":"Tents go in first."},"position":3})");
    const FakeHttpClient::Reply r =
        m_http->post(QStringLiteral("/api/ai.php"), body.replace("%PAGE%", number(page)), m_ann.token);
    QCOMPARE(r.status, 200);
    QCOMPARE(r[QStringLiteral("text")].toString(), text);
    QVERIFY(r[QStringLiteral("error")].isNull());
    QVERIFY(r[QStringLiteral("remaining_today")].isInt());
}

void TestFakeCollabRoutes::aiRefused_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");

    QTest::newRow("unknown action") << QByteArray(R"({"action":"rhyme"})") << 400 << "Unknown action";
    QTest::newRow("improve without text")
        << QByteArray(R"({"action":"improve"})") << 400 << "Paste some text to improve.";
    QTest::newRow("ask without prompt")
        << QByteArray(R"({"action":"ask","prompt":" "})") << 400 << "Type a question.";
    QTest::newRow("ask of spaces and tabs")
        << QByteArray(R"({"action":"ask","prompt":" \t "})") << 400 << "Type a question.";
    QTest::newRow("improve of tabs") << QByteArray(R"({"action":"improve","text":"\t"})") << 400
                                     << "Paste some text to improve.";
    QTest::newRow("translate without language")
        << QByteArray(R"({"action":"translate"})") << 400 << "Pick a target language.";
    QTest::newRow("page id as text") << QByteArray(R"({"action":"summarize","page_id":"1"})") << 400
                                     << "page_id must be an integer";
    QTest::newRow("unknown page") << QByteArray(R"({"action":"summarize","page_id":999})") << 404
                                  << "Page not found";
    // Nothing to summarise is a normal reply that carries an error beside its empty text.
    QTest::newRow("empty page") << QByteArray(R"({"action":"summarize","page_id":%PAGE%})") << 200
                                << "This page has no text to work with yet.";
}

void TestFakeCollabRoutes::aiRefused()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, error);

    const qint64 page = newPage(m_ann, QStringLiteral("Empty"));
    const FakeHttpClient::Reply r =
        m_http->post(QStringLiteral("/api/ai.php"), body.replace("%PAGE%", number(page)), m_ann.token);
    QCOMPARE(r.status, status);
    QCOMPARE(r.error(), error);
}

void TestFakeCollabRoutes::aiDailyAllowance()
{
    m_fake->state().aiDailyLimit = 2;
    const QByteArray body = R"({"action":"improve","text":"fine"})";
    QCOMPARE(
        m_http->post(QStringLiteral("/api/ai.php"), body, m_ann.token)[QStringLiteral("remaining_today")],
        JSONValue(1));
    QCOMPARE(
        m_http->post(QStringLiteral("/api/ai.php"), body, m_ann.token)[QStringLiteral("remaining_today")],
        JSONValue(0));
    const FakeHttpClient::Reply refused = m_http->post(QStringLiteral("/api/ai.php"), body, m_ann.token);
    QCOMPARE(refused.status, 429);
    QVERIFY(!refused.error().isEmpty());
    // Each user has an allowance of their own.
    QCOMPARE(m_http->post(QStringLiteral("/api/ai.php"), body, m_bob.token).status, 200);
}

void TestFakeCollabRoutes::databases()
{
    const qint64 page = newPage(m_ann, QStringLiteral("Tasks page"));
    const QByteArray columns =
        R"([{"id":"c1","name":"Name","type":"text"},{"id":"c2","name":"Status","type":"select","options":["Todo","Doing","Done"]},)"
        R"({"id":"c3","name":"Done","type":"checkbox"}])";
    FakeHttpClient::Reply r = m_http->post(
        QStringLiteral("/api/databases.php"),
        R"({"page_id":)" + number(page) + R"(,"name":"Tasks","columns":)" + columns + "}", m_ann.token);
    QCOMPARE(r.status, 200);
    const JSONValue &db = r[QStringLiteral("database")];
    const qint64 dbId = db[QStringLiteral("id")].toInt();
    QCOMPARE(db[QStringLiteral("page_id")].toInt(), page);
    QCOMPARE(db[QStringLiteral("name")].toString(), QStringLiteral("Tasks"));
    QCOMPARE(db[QStringLiteral("columns")], json(columns));
    QCOMPARE(db[QStringLiteral("rows")], json("[]"));

    r = m_http->post(QStringLiteral("/api/databases.php"), R"({"page_id":)" + number(page) + "}",
                     m_ann.token);
    QCOMPARE(r[QStringLiteral("database")][QStringLiteral("columns")].toArray().size(), size_t(1));
    QCOMPARE(m_http
                 ->post(QStringLiteral("/api/databases.php"),
                        R"({"page_id":)" + number(page) + R"(,"columns":[{"id":"c1","name":"A"}]})",
                        m_ann.token)
                 .error(),
             QStringLiteral("columns[0].type is required"));

    const QString rows = QStringLiteral("/api/database-rows.php");
    const QByteArray dbKey = R"({"database_id":)" + number(dbId);
    r = m_http->post(rows, dbKey + R"(,"data":{},"position":3})", m_ann.token);
    QCOMPARE(r.status, 200);
    const qint64 rowId = r[QStringLiteral("row")][QStringLiteral("id")].toInt();
    QCOMPARE(r[QStringLiteral("row")][QStringLiteral("database_id")].toInt(), dbId);
    QCOMPARE(r[QStringLiteral("row")][QStringLiteral("data")], json("{}"));
    QCOMPARE(m_http->post(rows, dbKey + R"(,"data":{"c1":"First"},"position":1})", m_ann.token).status, 200);
    QCOMPARE(m_http->post(rows, dbKey + R"(,"data":{}})", m_ann.token).status, 400);

    // A row's data is replaced whole, as the block sends it after every cell edit.
    const QByteArray rowKey = R"({"row_id":)" + number(rowId);
    QCOMPARE(m_http->patch(rows, rowKey + R"(,"data":{"c1":"Ship","c3":true}})", m_ann.token).status, 200);
    QCOMPARE(m_http->patch(rows, rowKey + R"(,"data":{"c3":false}})", m_ann.token).status, 200);
    QCOMPARE(m_http->patch(rows, R"({"row_id":999,"data":{}})", m_ann.token).status, 404);
    QCOMPARE(m_http->patch(rows, rowKey + R"(,"data":{}})", m_bob.token).status, 403);

    const JSONArray listed = m_http
                                 ->get(QStringLiteral("/api/databases.php?page_id=%1").arg(page),
                                       m_ann.token)[QStringLiteral("databases")]
                                 .toArray();
    QCOMPARE(listed.size(), size_t(2));
    const JSONArray stored = listed[0][QStringLiteral("rows")].toArray();
    QCOMPARE(stored.size(), size_t(2));
    QCOMPARE(stored[0][QStringLiteral("data")], json(R"({"c1":"First"})")); // by position
    QCOMPARE(stored[1][QStringLiteral("data")], json(R"({"c3":false})"));
    QCOMPARE(m_http->get(QStringLiteral("/api/databases.php?page_id=%1").arg(page), m_bob.token).status, 403);
    // A block whose page is not on the service yet asks for page 0, which holds nothing.
    QCOMPARE(m_http->get(QStringLiteral("/api/databases.php?page_id=0"), m_ann.token).json,
             json(R"({"databases":[]})"));
    QCOMPARE(m_http->get(QStringLiteral("/api/databases.php?page_id=-1"), m_ann.token).status, 400);
}

void TestFakeCollabRoutes::bookmarkPreview_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("expected"); // the whole reply, or the error

    QTest::newRow("article")
        << "https://www.example.org/blog/how-to_bake-bread.html"
        << QByteArray(
               R"({"url":"https://www.example.org/blog/how-to_bake-bread.html","title":"How to bake bread | example.org",)"
               R"("description":"About how to bake bread, on example.org.","image":"ORIGIN/og-images/www.example.org.png"})");
    QTest::newRow("bare host")
        << "http://news.example.com"
        << QByteArray(
               R"({"url":"http://news.example.com","title":"news.example.com",)"
               R"("description":"A page on news.example.com.","image":"ORIGIN/og-images/news.example.com.png"})");
    QTest::newRow("seeded") << "https://seeded.example/x"
                            << QByteArray(
                                   R"({"url":"https://seeded.example/x","title":"Seeded","image":null})");
    QTest::newRow("not a web address")
        << "ftp://example.org/file"
        << QByteArray(R"({"error":"Enter a web address starting with http:// or https://"})");
    QTest::newRow("no host") << "https://"
                             << QByteArray(
                                    R"({"error":"Enter a web address starting with http:// or https://"})");
}

void TestFakeCollabRoutes::bookmarkPreview()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, expected);

    m_fake->state().bookmarkPreviews.insert(QStringLiteral("https://seeded.example/x"),
                                            json(R"({"title":"Seeded","image":null})").toObject());
    const FakeHttpClient::Reply r = m_http->post(QStringLiteral("/api/bookmark-fetch.php"),
                                                 R"({"url":")" + url.toUtf8() + R"("})", m_ann.token);
    const JSONValue want = json(expected.replace("ORIGIN", m_fake->origin().toUtf8()));
    QCOMPARE(r.status, want[QStringLiteral("error")].isNull() ? 200 : 400);
    QCOMPARE(r.json, want);
    // The image the preview names comes from the fake itself, as a PNG.
    if (r.status == 200 && want[QStringLiteral("image")].isString()) {
        const QString image = want[QStringLiteral("image")].toString();
        const FakeHttpClient::Reply served = m_http->get(image.mid(m_fake->origin().size()), QString());
        QCOMPARE(served.status, 200);
        QVERIFY(!QImage::fromData(served.body, "PNG").isNull());
    }
}

QTEST_GUILESS_MAIN(TestFakeCollabRoutes)
#include "tst_fake_collab_routes.moc"
