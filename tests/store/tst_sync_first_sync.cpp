#include "fake-service/fake_service.h"
#include "json/json_value.h"
#include "support/feed_steps.h"
#include "support/test_device.h"

#include <QFile>
#include <QTest>
#include <QTimer>

#include <map>
#include <tuple>

// A new device's first sync of a workspace that the feed hands out over many replies, each asked
// for while the one before is still being applied: it ends as one reply of all of it would.
class TestSyncFirstSync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void manyRepliesEndAsOne_data();
    void manyRepliesEndAsOne();
    void editDuringTheSyncIsKept();
    void failedThirdReplyKeepsWhatLandedThenRecovers_data();
    void failedThirdReplyKeepsWhatLandedThenRecovers();
    void resetBetweenRepliesLandsNothingAfterIt();

private:
    // `pages` pages of `blocksEach` blocks, then a rewrite of every third block, a deleted block
    // and a renamed page: later entries change what earlier ones made, so order tells.
    void seedWorkspace(int pages, int blocksEach);
    int entries() { return int(m_fake.state().lastServerTs - m_firstTs + 1); }
    qint64 entryTs(int n) const { return m_firstTs + n; } // the n-th entry seeded, from 0
    // The store as one reply of the whole feed leaves it, on a device of its own.
    QString synced(int pageSize);
    QList<qint64> pullCursors() const { return ::pullCursors(m_fake); }
    // Every record the sync brings, by server id, with what the service says of it.
    static QString dump(TestDevice &d);
    static qint64 savedCursor(TestDevice &d);

    FakeService m_fake;
    FakeService::Account m_account;
    qint64 m_firstTs = 0;
};

namespace {

constexpr qint64 kFirstPageID = 1000;
constexpr qint64 kFirstBlockID = 50000;

qint64 blockID(int page, int block, int blocksEach)
{
    return kFirstBlockID + page * blocksEach + block;
}

} // namespace

void TestSyncFirstSync::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestSyncFirstSync::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
    m_fake.setSyncPageSize(500);
    disconnect(&m_fake, &FakeService::requestReceived, nullptr, nullptr);
    static int n = 0;
    m_account = m_fake.createAccount(QStringLiteral("first%1@example.com").arg(++n),
                                     QStringLiteral("secret12"), QStringLiteral("First"));
    QVERIFY(m_account.userId != 0);
}

void TestSyncFirstSync::seedWorkspace(int pages, int blocksEach)
{
    m_firstTs = m_fake.state().lastServerTs + 1;
    const auto add = [&](const QString &type, qint64 id, const QString &op, JSONObject payload) {
        appendToFeed(m_fake, m_account.workspaceId, type, id, op, std::move(payload));
    };
    const auto text = [](qint64 id, int version) {
        return JSONObject{{QStringLiteral("text"), QStringLiteral("block %1 version %2").arg(id).arg(version)}};
    };
    for (int p = 0; p < pages; ++p) {
        add(QStringLiteral("page"), kFirstPageID + p, QStringLiteral("create"),
            {{QStringLiteral("workspace_id"), m_account.workspaceId},
             {QStringLiteral("title"), QStringLiteral("Page %1").arg(p)},
             {QStringLiteral("position"), qint64(p)}});
        for (int b = 0; b < blocksEach; ++b) {
            const qint64 id = blockID(p, b, blocksEach);
            add(QStringLiteral("block"), id, QStringLiteral("create"),
                {{QStringLiteral("page_id"), kFirstPageID + p},
                 {QStringLiteral("type"), QStringLiteral("text")},
                 {QStringLiteral("position"), qint64(b)},
                 {QStringLiteral("content"), text(id, 1)}});
        }
    }
    for (int p = 0; p < pages; ++p) {
        for (int b = 0; b < blocksEach; b += 3) {
            const qint64 id = blockID(p, b, blocksEach);
            add(QStringLiteral("block"), id, QStringLiteral("update"),
                {{QStringLiteral("content"), text(id, 2)}, {QStringLiteral("position"), qint64(100 + b)}});
        }
    }
    add(QStringLiteral("block"), blockID(0, 1, blocksEach), QStringLiteral("delete"), {});
    add(QStringLiteral("page"), kFirstPageID, QStringLiteral("update"),
        {{QStringLiteral("title"), QStringLiteral("Renamed")}});
}

QString TestSyncFirstSync::synced(int pageSize)
{
    m_fake.setSyncPageSize(pageSize);
    TestDevice d(m_fake.origin(), m_account.token);
    const bool ok = d.sync();
    m_fake.setSyncPageSize(500);
    return ok ? dump(d) : QStringLiteral("sync failed");
}

QString TestSyncFirstSync::dump(TestDevice &d)
{
    std::map<qint64, QString> pages;
    std::map<qint64, QString> blocks;
    for (const FNPage &p : d.store().state().pages) {
        pages[p.serverID] += QStringLiteral("page %1 \"%2\" at %3%4\n")
                                 .arg(p.serverID)
                                 .arg(p.title)
                                 .arg(p.position)
                                 .arg(p.deletedAt ? QStringLiteral(" deleted") : QString());
    }
    for (const FNBlock &b : d.store().state().blocks) {
        const FNPage *page = d.page(b.pageLocalID);
        blocks[b.serverID] += QStringLiteral("block %1 on %2/%3 %4 %5 at %6%7\n")
                                  .arg(b.serverID)
                                  .arg(b.pageServerID)
                                  .arg(page ? page->serverID : -1)
                                  .arg(b.type, b.contentJSON)
                                  .arg(b.position)
                                  .arg(b.deletedAt ? QStringLiteral(" deleted") : QString());
    }
    QString out;
    for (const auto &[id, text] : pages)
        out += text;
    for (const auto &[id, text] : blocks)
        out += text;
    return out;
}

qint64 TestSyncFirstSync::savedCursor(TestDevice &d)
{
    d.store().save();
    QFile file(d.store().url());
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return parseJSONObject(file.readAll()).at(QStringLiteral("cursorServerTs")).toInt();
}

void TestSyncFirstSync::manyRepliesEndAsOne_data()
{
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("blocksEach");
    QTest::addColumn<int>("pageSize"); // 0: the whole feed in one reply

    QTest::newRow("one entry a reply") << 3 << 5 << 1;
    QTest::newRow("500 entries a reply") << 40 << 30 << 500;
    QTest::newRow("all in one reply") << 40 << 30 << 0;
}

void TestSyncFirstSync::manyRepliesEndAsOne()
{
    QFETCH(int, pages);
    QFETCH(int, blocksEach);
    QFETCH(int, pageSize);
    seedWorkspace(pages, blocksEach);
    const int all = entries();
    if (pageSize == 0)
        pageSize = all + 1;
    const QString whole = synced(all + 1);
    QVERIFY(whole.contains(QLatin1String("\"Renamed\"")));
    m_fake.clearRequests();

    m_fake.setSyncPageSize(pageSize);
    TestDevice d(m_fake.origin(), m_account.token);
    // The cursor each time the store tells of a change: it moves once a reply is all in.
    QList<qint64> cursors{0};
    connect(&d.store(), &LocalStore::stateChanged, this, [&] {
        if (d.store().state().cursorServerTs != cursors.back())
            cursors.append(d.store().state().cursorServerTs);
    });
    QVERIFY(d.sync());
    QCOMPARE(dump(d), whole);

    // Each reply asked for from the end of the one before, and applied after it.
    const int replies = (all + pageSize - 1) / pageSize;
    QList<qint64> expected{0};
    for (int r = 1; r <= replies; ++r)
        expected.append(entryTs(std::min(r * pageSize, all) - 1));
    QCOMPARE(cursors, expected);
    expected.removeLast();
    QCOMPARE(pullCursors(), expected);
    QCOMPARE(savedCursor(d), entryTs(all - 1));
}

void TestSyncFirstSync::editDuringTheSyncIsKept()
{
    constexpr int kBlocksEach = 30;
    seedWorkspace(40, kBlocksEach);
    const QString whole = synced(entries() + 1);
    m_fake.setSyncPageSize(100);
    TestDevice d(m_fake.origin(), m_account.token);
    // A block of the first reply, rewritten by a later one of this sync.
    const qint64 target = blockID(0, 3, kBlocksEach);
    QString targetID;
    connect(&d.store(), &LocalStore::batchApplied, this, [&] {
        const FNBlock *block = d.store().blockWithServerID(target);
        if (!targetID.isEmpty() || !block || d.store().state().cursorServerTs == 0)
            return;
        targetID = block->localID;
        // Between two replies, as a keystroke would come.
        QTimer::singleShot(0, this, [&] {
            d.setBlockText(targetID, QStringLiteral("typed here"));
            QVERIFY(d.queueBlockUpsert(d.block(targetID)->pageLocalID));
        });
    });
    QVERIFY(d.sync());
    QVERIFY(!targetID.isEmpty());
    QCOMPARE(TestDevice::textOf(*d.block(targetID)), QStringLiteral("typed here"));

    // The edit waits in the outbox to go out; everything else is as one reply left it.
    QCOMPARE(d.store().state().outbox.size(), size_t(1));
    QVERIFY(d.store().state().outbox.front().payloadJSON.contains(QLatin1String("typed here")));
    const auto others = [&](const QString &all) {
        QStringList lines = all.split(QLatin1Char('\n'));
        lines.removeIf([&](const QString &line) {
            return line.startsWith(QStringLiteral("block %1 ").arg(target));
        });
        return lines;
    };
    QCOMPARE(others(dump(d)), others(whole));
    QCOMPARE(d.store().state().cursorServerTs, m_fake.state().lastServerTs);
}

void TestSyncFirstSync::failedThirdReplyKeepsWhatLandedThenRecovers_data()
{
    QTest::addColumn<QString>("failure");
    QTest::newRow("connection dropped") << QStringLiteral("drop");
    QTest::newRow("server error") << QStringLiteral("500");
    QTest::newRow("unreadable reply") << QStringLiteral("undecodable");
}

void TestSyncFirstSync::failedThirdReplyKeepsWhatLandedThenRecovers()
{
    QFETCH(QString, failure);
    constexpr int kPageSize = 50;
    seedWorkspace(10, 20);
    const QString whole = synced(entries() + 1);
    m_fake.clearRequests();
    m_fake.setSyncPageSize(kPageSize);
    TestDevice d(m_fake.origin(), m_account.token);
    int seen = 0;
    connect(&m_fake, &FakeService::requestReceived, this, [&](const HttpRequest &r) {
        if (!r.path().startsWith("/api/sync.php") || ++seen != 3)
            return;
        FakeService::Fault fault = failure == QLatin1String("drop") ? FakeService::Fault::drop()
                                   : failure == QLatin1String("500")
                                       ? FakeService::Fault::http(500, R"({"error":"down"})")
                                       : FakeService::Fault::http(200, R"({"ops":[],"server_ts":"soon"})");
        fault.remaining = 1;
        m_fake.setFault(QStringLiteral("/api/sync.php"), fault);
    });
    QVERIFY(!d.sync());
    // The two replies before it are in, and the saved cursor is right after the second.
    const qint64 landed = entryTs(2 * kPageSize - 1);
    QCOMPARE(d.store().state().cursorServerTs, landed);
    QCOMPARE(savedCursor(d), landed);
    for (const FNBlock &b : d.store().state().blocks)
        QVERIFY(b.serverID < kFirstBlockID + 2 * kPageSize);

    m_fake.clearRequests();
    QVERIFY(d.sync());
    QCOMPARE(pullCursors().value(0), landed);
    QCOMPARE(dump(d), whole);
    QCOMPARE(savedCursor(d), entryTs(entries() - 1));
}

void TestSyncFirstSync::resetBetweenRepliesLandsNothingAfterIt()
{
    seedWorkspace(20, 30);
    m_fake.setSyncPageSize(100);
    TestDevice d(m_fake.origin(), m_account.token);
    bool reset = false;
    connect(&d.store(), &LocalStore::batchApplied, this, [&] {
        if (reset || d.store().state().cursorServerTs == 0)
            return;
        reset = true;
        // The next reply is on its way already: it must not land in the data set that follows.
        QTimer::singleShot(0, this, [&] { d.store().reset(); });
    });
    QVERIFY(d.sync());
    QVERIFY(reset);
    QVERIFY(d.store().state().blocks.empty());
    QVERIFY(d.store().state().pages.empty());
    QCOMPARE(d.store().state().cursorServerTs, qint64(0));
    QVERIFY(m_fake.requestsTo(QStringLiteral("/api/sync.php")).size() <= 3);
}

QTEST_GUILESS_MAIN(TestSyncFirstSync)
#include "tst_sync_first_sync.moc"
