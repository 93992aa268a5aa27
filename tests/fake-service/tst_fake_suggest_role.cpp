// The fake service's "suggest" share and its guests: what a suggester pushes is kept as a pending
// suggestion, and a visitor of a published page comments under the name they give.
#include "support/fake_route_fixture.h"

#include <QTest>

namespace {

QByteArray number(qint64 n)
{
    return QByteArray::number(n);
}

} // namespace

class TestFakeSuggestRole : public QObject, private FakeRouteFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void suggesterChangesWaitAsSuggestions_data();
    void suggesterChangesWaitAsSuggestions();
    void blockLeftOutIsNoSuggestion();
    void onlyTheTitleCanBeSuggested();
    void acceptedAdditionKeepsTheIdHandedOut();
    void guestComments_data();
    void guestComments();

private:
    FakeHttpClient::Reply bobPushes(const QByteArray &items);
    std::vector<FakeServiceState::Suggestion> suggestions() const;

    qint64 m_page = 0;
    qint64 m_kept = 0;  // a block "kept" at position 0
    qint64 m_other = 0; // a block "other" at position 1
};

void TestFakeSuggestRole::init()
{
    startService();
    m_page = newPage(m_ann, QStringLiteral("Plan"));
    const JSONArray acks =
        upsert(m_ann.token, m_page,
               R"({"client_id":"a","type":"text","content":{"text":"kept"},"position":0},)"
               R"({"client_id":"b","type":"text","content":{"text":"other"},"position":1})");
    QCOMPARE(acks.size(), size_t(2));
    m_kept = acks[0][QStringLiteral("id")].toInt();
    m_other = acks[1][QStringLiteral("id")].toInt();
    const FakeHttpClient::Reply shared = m_http->post(
        QStringLiteral("/api/share.php"),
        R"({"page_id":)" + number(m_page) + R"(,"email":"bob@example.com","role":"suggest"})", m_ann.token);
    QCOMPARE(shared.status, 200);
}

void TestFakeSuggestRole::cleanup()
{
    stopService();
}

FakeHttpClient::Reply TestFakeSuggestRole::bobPushes(const QByteArray &items)
{
    return m_http->post(QStringLiteral("/api/blocks.php"),
                        R"({"page_id":)" + number(m_page) + R"(,"blocks":[)" + items + "]}", m_bob.token);
}

std::vector<FakeServiceState::Suggestion> TestFakeSuggestRole::suggestions() const
{
    std::vector<FakeServiceState::Suggestion> out;
    for (const auto &entry : m_fake->state().suggestions)
        out.push_back(entry.second);
    return out;
}

void TestFakeSuggestRole::suggesterChangesWaitAsSuggestions_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body"); // "%K" and "%O" stand for the two blocks' ids, "%P" for the page's
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("onKept"); // the suggestion names the block "kept"
    QTest::addColumn<QByteArray>("payload");

    const QByteArray kept =
        R"({"id":%K,"client_id":"a","type":"text","content":{"text":"kept"},"position":0})";
    const QByteArray other =
        R"({"id":%O,"client_id":"b","type":"text","content":{"text":"other"},"position":1})";
    const QString blocks = QStringLiteral("/api/blocks.php");
    QTest::newRow("edit a block")
        << QByteArray("POST") << blocks
        << (R"({"page_id":%P,"blocks":[{"id":%K,"client_id":"a","type":"h1","content":{"text":"better"},)"
            R"("position":0},)" +
            other + "]}")
        << "block_update" << true << QByteArray(R"({"type":"h1","content":{"text":"better"}})");
    QTest::newRow("add a block")
        << QByteArray("POST") << blocks
        << (R"({"page_id":%P,"blocks":[)" + kept + "," + other +
            R"(,{"client_id":"new","type":"todo","content":{"text":"more"},"position":2}]})")
        << "block_create" << false << QByteArray(R"({"type":"todo","content":{"text":"more"},"position":2})");
    QTest::newRow("delete a block") << QByteArray("DELETE") << QStringLiteral("/api/blocks.php?block_id=%K")
                                    << QByteArray() << "block_delete" << true
                                    << QByteArray(R"({"content":{"text":"kept"}})");
    QTest::newRow("new title") << QByteArray("PATCH") << QStringLiteral("/api/pages.php")
                               << QByteArray(R"({"page_id":%P,"title":"Better plan","icon":""})")
                               << "title_change" << false << QByteArray(R"({"title":"Better plan"})");
}

// A block an upsert leaves out is not one the sender wants gone: nothing is suggested for it.
void TestFakeSuggestRole::blockLeftOutIsNoSuggestion()
{
    const FakeHttpClient::Reply r =
        m_http->call("POST", QStringLiteral("/api/blocks.php"),
                     R"({"page_id":)" + number(m_page) + R"(,"blocks":[{"id":)" + number(m_other) +
                         R"(,"client_id":"b","type":"text","content":{"text":"other"},"position":1}]})",
                     m_bob.token);
    QCOMPARE(r.status, 200);
    QVERIFY(suggestions().empty());
    QCOMPARE(m_fake->storedBlocks(m_page).size(), size_t(2));
}

void TestFakeSuggestRole::suggesterChangesWaitAsSuggestions()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(QString, kind);
    QFETCH(bool, onKept);
    QFETCH(QByteArray, payload);

    const auto fill = [this](QByteArray text) {
        return text.replace("%K", number(m_kept))
            .replace("%O", number(m_other))
            .replace("%P", number(m_page));
    };
    path = QString::fromUtf8(fill(path.toUtf8()));
    body = fill(body);
    const std::vector<FakeServiceState::Block> before = m_fake->storedBlocks(m_page);
    const int logged = m_fake->syncEntryCount();

    const FakeHttpClient::Reply r = m_http->call(method, path, body, m_bob.token);
    QCOMPARE(r.status, 200);
    if (method == "PATCH")
        QCOMPARE(r[QStringLiteral("page")][QStringLiteral("title")].toString(),
                 QStringLiteral("Better plan"));

    // Nothing changed on the page, and nobody else's device hears of it.
    QCOMPARE(m_fake->storedBlocks(m_page).size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        QCOMPARE(m_fake->storedBlocks(m_page)[i].content, before[i].content);
        QCOMPARE(m_fake->storedBlocks(m_page)[i].type, before[i].type);
    }
    QCOMPARE(m_fake->state().pages.at(m_page).title, QStringLiteral("Plan"));
    QCOMPARE(m_fake->syncEntryCount(), logged);

    std::vector<FakeServiceState::Suggestion> kept = suggestions();
    QCOMPARE(kept.size(), size_t(1));
    QCOMPARE(kept[0].kind, kind);
    QCOMPARE(kept[0].status, QStringLiteral("pending"));
    QCOMPARE(kept[0].userId, m_bob.userId);
    QCOMPARE(kept[0].pageId, m_page);
    if (onKept)
        QCOMPARE(kept[0].blockId, m_kept);
    QCOMPARE(JSONValue(kept[0].payload.value_or(JSONObject())), json(payload));
    const JSONArray listed = m_http
                                 ->get(QStringLiteral("/api/suggestions.php?page_id=%1").arg(m_page),
                                       m_ann.token)[QStringLiteral("suggestions")]
                                 .toArray();
    QCOMPARE(listed.size(), size_t(1));
    QCOMPARE(listed[0][QStringLiteral("user_name")].toString(), QStringLiteral("Bob"));

    // The same push again (a device retrying) proposes nothing new.
    QCOMPARE(m_http->call(method, path, body, m_bob.token).status, method == "DELETE" ? 200 : 200);
    QCOMPARE(suggestions().size(), size_t(1));

    // Once rejected, the same proposal is not made again by the next push of the same set.
    QCOMPARE(m_http
                 ->patch(QStringLiteral("/api/suggestions.php"),
                         R"({"suggestion_id":)" + number(kept[0].id) + R"(,"status":"rejected"})",
                         m_ann.token)
                 .status,
             200);
    QCOMPARE(m_http->call(method, path, body, m_bob.token).status, 200);
    QCOMPARE(suggestions().size(), size_t(1));
}

void TestFakeSuggestRole::onlyTheTitleCanBeSuggested()
{
    const QString path = QStringLiteral("/api/pages.php");
    const QByteArray page = R"({"page_id":)" + number(m_page);
    QCOMPARE(m_http->patch(path, page + R"(,"icon":"star"})", m_bob.token).status, 403);
    QCOMPARE(m_http->patch(path, page + R"(,"title":"New","cover_url":"x.png"})", m_bob.token).status, 403);
    QVERIFY(suggestions().empty());
    // Fields sent as they stand change nothing and are let through with the title.
    QCOMPARE(m_http->patch(path, page + R"(,"title":"New","icon":"","position":0})", m_bob.token).status,
             200);
    QCOMPARE(suggestions().size(), size_t(1));
    // A second title while the first waits replaces it.
    QCOMPARE(m_http->patch(path, page + R"(,"title":"Newer"})", m_bob.token).status, 200);
    QCOMPARE(suggestions().size(), size_t(1));
    QCOMPARE(JSONValue(*suggestions()[0].payload), json(R"({"title":"Newer"})"));
    // Other pages and other people stay out.
    const qint64 elsewhere = newPage(m_ann, QStringLiteral("Private"));
    QCOMPARE(
        m_http->patch(path, R"({"page_id":)" + number(elsewhere) + R"(,"title":"Mine"})", m_bob.token).status,
        403);
    QCOMPARE(m_http->patch(path, page + R"(,"title":"Owners"})", m_ann.token).status, 200);
    QCOMPARE(m_fake->state().pages.at(m_page).title, QStringLiteral("Owners"));
}

void TestFakeSuggestRole::acceptedAdditionKeepsTheIdHandedOut()
{
    const QByteArray kept = R"({"id":)" + number(m_kept) +
                            R"(,"client_id":"a","type":"text","content":{"text":"kept"},"position":0})";
    const QByteArray other = R"({"id":)" + number(m_other) +
                             R"(,"client_id":"b","type":"text","content":{"text":"other"},"position":1})";
    const QByteArray added = R"("type":"text","content":{"text":"from Bob"},"position":2})";
    FakeHttpClient::Reply r = bobPushes(kept + "," + other + R"(,{"client_id":"bob-1",)" + added);
    QCOMPARE(r.status, 200);
    const qint64 handedOut = r[QStringLiteral("blocks")].toArray().at(2)[QStringLiteral("id")].toInt();
    QVERIFY(handedOut != 0);
    QCOMPARE(m_fake->state().blocks.count(handedOut), size_t(0));
    // Pushed again under that id, or again without it (its reply was lost), it stays one proposal.
    QCOMPARE(
        bobPushes(kept + "," + other + R"(,{"id":)" + number(handedOut) + R"(,"client_id":"bob-1",)" + added)
            .status,
        200);
    r = bobPushes(kept + "," + other + R"(,{"client_id":"bob-1",)" + added);
    QCOMPARE(r[QStringLiteral("blocks")].toArray().at(2)[QStringLiteral("id")].toInt(), handedOut);
    QCOMPARE(suggestions().size(), size_t(1));

    const int logged = m_fake->syncEntryCount();
    QCOMPARE(m_http
                 ->patch(QStringLiteral("/api/suggestions.php"),
                         R"({"suggestion_id":)" + number(suggestions()[0].id) + R"(,"status":"accepted"})",
                         m_ann.token)
                 .status,
             200);
    QCOMPARE(m_fake->state().blocks.count(handedOut), size_t(1));
    const FakeServiceState::Block &block = m_fake->state().blocks.at(handedOut);
    QCOMPARE(block.pageId, m_page);
    QCOMPARE(block.content, json(R"({"text":"from Bob"})").toObject());
    QCOMPARE(block.authorId, m_bob.userId);
    QVERIFY(m_fake->syncEntryCount() > logged);
    // Bob's device already knows the block by that id: its next push of the same set proposes nothing.
    QCOMPARE(
        bobPushes(kept + "," + other + R"(,{"id":)" + number(handedOut) + R"(,"client_id":"bob-1",)" + added)
            .status,
        200);
    QCOMPARE(suggestions().size(), size_t(1));
}

void TestFakeSuggestRole::guestComments_data()
{
    QTest::addColumn<QByteArray>("publish"); // the publish body's settings
    QTest::addColumn<QByteArray>("comment");
    QTest::addColumn<int>("status");
    QTest::addColumn<JSONValue>("guestName");

    const QByteArray open = R"("allow_comments":true,"include_subpages":false)";
    QTest::newRow("named guest") << open << QByteArray(R"({"body":"\n hi\t","guest_name":" Gus "})") << 200
                                 << JSONValue(QStringLiteral("Gus"));
    QTest::newRow("unnamed guest") << open << QByteArray(R"({"body":"hi"})") << 200 << JSONValue();
    QTest::newRow("comments off") << QByteArray(R"("allow_comments":false,"include_subpages":false)")
                                  << QByteArray(R"({"body":"hi","guest_name":"Gus"})") << 403 << JSONValue();
    QTest::newRow("password missing")
        << (open + R"(,"password":"pw")") << QByteArray(R"({"body":"hi","guest_name":"Gus"})") << 401
        << JSONValue();
    QTest::newRow("password given") << (open + R"(,"password":"pw")")
                                    << QByteArray(R"({"body":"hi","guest_name":"Gus","password":"pw"})")
                                    << 200 << JSONValue(QStringLiteral("Gus"));
    QTest::newRow("empty body") << open << QByteArray(R"({"body":" \t","guest_name":"Gus"})") << 400
                                << JSONValue();
}

void TestFakeSuggestRole::guestComments()
{
    QFETCH(QByteArray, publish);
    QFETCH(QByteArray, comment);
    QFETCH(int, status);
    QFETCH(JSONValue, guestName);

    const FakeHttpClient::Reply published =
        m_http->post(QStringLiteral("/api/publish.php"),
                     R"({"page_id":)" + number(m_page) + "," + publish + "}", m_ann.token);
    QCOMPARE(published.status, 200);
    const QString slug = published[QStringLiteral("slug")].toString();

    // No token: a visitor.
    const FakeHttpClient::Reply r =
        m_http->post(QStringLiteral("/p/%1/comments").arg(slug), comment, QString());
    QCOMPARE(r.status, status);
    const JSONArray listed = m_http
                                 ->get(QStringLiteral("/api/comments.php?page_id=%1").arg(m_page),
                                       m_ann.token)[QStringLiteral("comments")]
                                 .toArray();
    if (status != 200) {
        QVERIFY(listed.empty());
        return;
    }
    const JSONValue &stored = r[QStringLiteral("comment")];
    QCOMPARE(stored[QStringLiteral("guest_name")], guestName);
    QVERIFY(stored[QStringLiteral("user_name")].isNull());
    QVERIFY(stored[QStringLiteral("user_id")].isNull());
    QCOMPARE(listed.size(), size_t(1));
    QCOMPARE(listed[0], stored);
    if (comment.contains("\\n"))
        QCOMPARE(stored[QStringLiteral("body")].toString(), QStringLiteral("\n hi"));
    // An unknown page or a wrong path finds nothing.
    QCOMPARE(m_http->post(QStringLiteral("/p/nope-1/comments"), comment, QString()).status, 404);
    QCOMPARE(m_http->post(QStringLiteral("/p/%1").arg(slug), comment, QString()).status, 404);
}

QTEST_MAIN(TestFakeSuggestRole)
#include "tst_fake_suggest_role.moc"
