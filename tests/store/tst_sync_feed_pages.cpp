#include "fake-service/fake_service.h"
#include "json/json_value.h"
#include "support/feed_steps.h"
#include "support/test_device.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <map>

// A feed longer than one reply: the pages that follow a capped reply, and a pull that lands in slices.
class TestSyncFeedPages : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void cappedRepliesAreFollowedInOneCycle_data();
    void cappedRepliesAreFollowedInOneCycle();
    void failedPageKeepsTheCursorAtWhatLanded_data();
    void failedPageKeepsTheCursorAtWhatLanded();
    void cappedReplyThatDoesNotMoveTheCursorEndsTheCycle();
    void longPullLetsTheEventLoopTurn();
    void editMadeWhileAPullLandsIsKept_data();
    void editMadeWhileAPullLandsIsKept();
    void resetWhileAPullLandsStopsIt();

private:
    // The feed of the account's workspace: page 1000, then `blocks` new blocks on it, then a second
    // version of each of the first `rewritten` blocks.
    void seedFeed(int blocks, int rewritten = 0);
    qint64 entryTs(int n) const { return m_firstTs + n; } // the n-th entry seeded, from 0
    QList<qint64> pullCursors() const { return ::pullCursors(m_fake); }
    std::unique_ptr<TestDevice> device();
    // Each block id the device holds, with how many records carry it and the text of the first.
    static std::map<qint64, std::pair<int, QString>> heldBlocks(TestDevice &d);

    FakeService m_fake;
    FakeService::Account m_account;
    qint64 m_firstTs = 0;
};

namespace {

constexpr qint64 kPageID = 1000;
constexpr qint64 kFirstBlockID = 5000;

QString blockText(int k, int version)
{
    return QStringLiteral("block %1 version %2").arg(k).arg(version);
}

} // namespace

void TestSyncFeedPages::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestSyncFeedPages::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
    disconnect(&m_fake, &FakeService::requestReceived, nullptr, nullptr);
    // A new account for each case: its workspace's feed holds only what the case seeds.
    static int n = 0;
    m_account = m_fake.createAccount(QStringLiteral("feed%1@example.com").arg(++n),
                                     QStringLiteral("secret12"), QStringLiteral("Feed"));
    QVERIFY(m_account.userId != 0);
}

void TestSyncFeedPages::seedFeed(int blocks, int rewritten)
{
    m_firstTs = m_fake.state().lastServerTs + 1;
    const auto add = [&](const QString &type, qint64 id, JSONObject payload) {
        appendToFeed(m_fake, m_account.workspaceId, type, id, QStringLiteral("create"), std::move(payload));
    };
    add(QStringLiteral("page"), kPageID,
        {{QStringLiteral("workspace_id"), m_account.workspaceId},
         {QStringLiteral("title"), QStringLiteral("Long")}});
    const auto block = [&](int k, int version) {
        add(QStringLiteral("block"), kFirstBlockID + k,
            {{QStringLiteral("page_id"), kPageID},
             {QStringLiteral("type"), QStringLiteral("text")},
             {QStringLiteral("position"), qint64(k)},
             {QStringLiteral("content"), JSONObject{{QStringLiteral("text"), blockText(k, version)}}}});
    };
    for (int k = 0; k < blocks; ++k)
        block(k, 1);
    for (int k = 0; k < rewritten; ++k)
        block(k, 2);
}

std::unique_ptr<TestDevice> TestSyncFeedPages::device()
{
    return std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
}

std::map<qint64, std::pair<int, QString>> TestSyncFeedPages::heldBlocks(TestDevice &d)
{
    std::map<qint64, std::pair<int, QString>> held;
    for (const FNBlock &b : d.store().state().blocks) {
        auto &[count, text] = held[b.serverID];
        if (count++ == 0)
            text = TestDevice::textOf(b);
    }
    return held;
}

void TestSyncFeedPages::cappedRepliesAreFollowedInOneCycle_data()
{
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("rewritten");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("requests");

    // Entries are the page, the blocks and the rewrites.
    QTest::newRow("one page, not capped") << 4 << 0 << 10 << 1;
    QTest::newRow("last page part full") << 9 << 0 << 4 << 3;
    QTest::newRow("last page exactly full") << 7 << 0 << 4 << 2;
    QTest::newRow("later versions pages later") << 12 << 5 << 3 << 6;
    QTest::newRow("one entry a page") << 3 << 2 << 1 << 6;
}

void TestSyncFeedPages::cappedRepliesAreFollowedInOneCycle()
{
    QFETCH(int, blocks);
    QFETCH(int, rewritten);
    QFETCH(int, pageSize);
    QFETCH(int, requests);
    seedFeed(blocks, rewritten);
    m_fake.setSyncPageSize(pageSize);
    auto d = device();

    QVERIFY(d->sync()); // one cycle, no tick loop: the pages that follow come within it
    QCOMPARE(m_fake.requestsTo(QStringLiteral("/api/sync.php")).size(), requests);
    // Each page starts right after the last entry of the page before.
    QList<qint64> expected{0};
    for (int r = 1; r < requests; ++r)
        expected.append(entryTs(r * pageSize - 1));
    QCOMPARE(pullCursors(), expected);
    QCOMPARE(d->store().state().cursorServerTs, m_fake.state().lastServerTs);

    // Every block once, at its latest version: the pages landed in order.
    const auto held = heldBlocks(*d);
    QCOMPARE(int(held.size()), blocks);
    for (int k = 0; k < blocks; ++k) {
        const auto it = held.find(kFirstBlockID + k);
        QVERIFY2(it != held.end(), qPrintable(QString::number(k)));
        QCOMPARE(it->second.first, 1);
        QCOMPARE(it->second.second, blockText(k, k < rewritten ? 2 : 1));
    }
    m_fake.setSyncPageSize(500);
}

void TestSyncFeedPages::failedPageKeepsTheCursorAtWhatLanded_data()
{
    QTest::addColumn<int>("failingRequest"); // 1 for the first page of the cycle
    QTest::addColumn<QString>("failure");

    for (const int at : {2, 3}) {
        for (const char *failure : {"drop", "500", "undecodable"})
            QTest::newRow(qPrintable(QStringLiteral("page %1, %2").arg(at).arg(QLatin1String(failure))))
                << at << QString::fromLatin1(failure);
    }
}

void TestSyncFeedPages::failedPageKeepsTheCursorAtWhatLanded()
{
    QFETCH(int, failingRequest);
    QFETCH(QString, failure);
    constexpr int kPageSize = 4;
    seedFeed(13, 3); // 17 entries: pages of 4, 4, 4, 4 and 1
    m_fake.setSyncPageSize(kPageSize);
    auto d = device();

    // The failure is set as the request comes in, so it meets that request and no other.
    int seen = 0;
    connect(&m_fake, &FakeService::requestReceived, this, [&](const HttpRequest &r) {
        if (!r.path().startsWith("/api/sync.php") || ++seen != failingRequest)
            return;
        FakeService::Fault fault = failure == QLatin1String("drop") ? FakeService::Fault::drop()
                                   : failure == QLatin1String("500")
                                       ? FakeService::Fault::http(500, R"({"error":"down"})")
                                       : FakeService::Fault::http(200, R"({"ops":[],"server_ts":"soon"})");
        fault.remaining = 1;
        m_fake.setFault(QStringLiteral("/api/sync.php"), fault);
    });
    QVERIFY(!d->sync());
    QVERIFY(!d->engine().isSyncing());
    const int landedPages = failingRequest - 1;
    const int landedEntries = landedPages * kPageSize;
    QCOMPARE(d->store().state().cursorServerTs, entryTs(landedEntries - 1));
    // What the pages before brought is in; nothing after them is.
    const auto partial = heldBlocks(*d);
    QCOMPARE(int(partial.size()), landedEntries - 1); // less the page record
    for (const auto &[id, held] : partial) {
        QCOMPARE(held.first, 1);
        QVERIFY(id < kFirstBlockID + landedEntries - 1);
    }

    // The next cycle starts where the failed page would have, and ends with all of it once.
    m_fake.clearRequests();
    QVERIFY(d->sync());
    QCOMPARE(pullCursors().value(0), entryTs(landedEntries - 1));
    QCOMPARE(d->store().state().cursorServerTs, m_fake.state().lastServerTs);
    const auto held = heldBlocks(*d);
    QCOMPARE(int(held.size()), 13);
    for (int k = 0; k < 13; ++k) {
        QCOMPARE(held.at(kFirstBlockID + k).first, 1);
        QCOMPARE(held.at(kFirstBlockID + k).second, blockText(k, k < 3 ? 2 : 1));
    }
    m_fake.setSyncPageSize(500);
}

void TestSyncFeedPages::cappedReplyThatDoesNotMoveTheCursorEndsTheCycle()
{
    auto d = device();
    d->store().setCursorServerTs(50);
    // Capped, yet with nothing past the cursor: asking again would get the same for ever.
    m_fake.setFault(QStringLiteral("/api/sync.php"),
                    FakeService::Fault::http(200, R"({"ops":[],"server_ts":50,"capped":true})"));
    QVERIFY(d->sync());
    QCOMPARE(m_fake.requestsTo(QStringLiteral("/api/sync.php")).size(), 1);
    m_fake.setFault(QStringLiteral("/api/sync.php"),
                    FakeService::Fault::http(200, R"({"ops":[],"server_ts":20,"capped":true})"));
    QVERIFY(d->sync());
    QCOMPARE(m_fake.requestsTo(QStringLiteral("/api/sync.php")).size(), 2);
    QCOMPARE(d->store().state().cursorServerTs, qint64(50));
}

void TestSyncFeedPages::longPullLetsTheEventLoopTurn()
{
    // However fast the machine, twenty thousand operations take longer than one slice to apply.
    constexpr int kBlocks = 20000;
    seedFeed(kBlocks);
    m_fake.setSyncPageSize(kBlocks + 1);
    auto d = device();
    QSignalSpy batches(&d->store(), &LocalStore::batchApplied);
    int turns = 0;
    QTimer beat;
    connect(&beat, &QTimer::timeout, this, [&] {
        if (d->engine().isSyncing() && !batches.isEmpty())
            ++turns;
    });
    beat.start(0);
    QVERIFY(d->sync());
    beat.stop();
    QCOMPARE(m_fake.requestsTo(QStringLiteral("/api/sync.php")).size(), 1);
    QVERIFY2(batches.size() > 1, qPrintable(QString::number(batches.size())));
    QVERIFY(turns > 0); // the loop ran between the slices, not only before and after
    QCOMPARE(int(heldBlocks(*d).size()), kBlocks);
    // The cursor moved once, when all of it was in.
    QCOMPARE(d->store().state().cursorServerTs, m_fake.state().lastServerTs);
    m_fake.setSyncPageSize(500);
}

void TestSyncFeedPages::editMadeWhileAPullLandsIsKept_data()
{
    QTest::addColumn<bool>("queued"); // the edit's upsert queued at once, not only marked
    QTest::newRow("marked") << false;
    QTest::newRow("queued") << true;
}

void TestSyncFeedPages::editMadeWhileAPullLandsIsKept()
{
    QFETCH(bool, queued);
    constexpr int kBlocks = 20000;
    seedFeed(kBlocks);
    auto d = device();
    m_fake.setSyncPageSize(kBlocks + 1);
    QVERIFY(d->sync()); // the device holds every block

    // A second version of every block, the last one of all rewriting the block edited here.
    for (int k = kBlocks - 1; k >= 0; --k) {
        appendToFeed(m_fake, m_account.workspaceId, QStringLiteral("block"), kFirstBlockID + k,
                     QStringLiteral("update"),
                     {{QStringLiteral("content"), JSONObject{{QStringLiteral("text"), blockText(k, 2)}}}});
    }
    const FNBlock *target = d->store().blockWithServerID(kFirstBlockID);
    QVERIFY(target);
    const QString targetID = target->localID;
    bool edited = false;
    connect(&d->store(), &LocalStore::batchApplied, this, [&] {
        if (edited || !d->engine().isSyncing())
            return;
        edited = true;
        // Between two slices, as a keystroke would come.
        QTimer::singleShot(0, this, [&] {
            d->setBlockText(targetID, QStringLiteral("typed here"));
            if (queued)
                d->queueBlockUpsert(d->block(targetID)->pageLocalID);
        });
    });
    QVERIFY(d->sync());
    QVERIFY(edited);
    QCOMPARE(TestDevice::textOf(*d->block(targetID)), QStringLiteral("typed here"));
    QCOMPARE(TestDevice::textOf(*d->store().blockWithServerID(kFirstBlockID + 1)), blockText(1, 2));
    m_fake.setSyncPageSize(500);
}

void TestSyncFeedPages::resetWhileAPullLandsStopsIt()
{
    constexpr int kBlocks = 20000;
    seedFeed(kBlocks);
    m_fake.setSyncPageSize(kBlocks + 1);
    auto d = device();
    bool reset = false;
    connect(&d->store(), &LocalStore::batchApplied, this, [&] {
        if (reset)
            return;
        reset = true;
        QTimer::singleShot(0, this, [&] { d->store().reset(); });
    });
    QVERIFY(d->sync());
    QVERIFY(reset);
    // Nothing of the old data set's pull lands in the new one, and its cursor stays.
    QVERIFY(d->store().state().blocks.empty());
    QVERIFY(d->store().state().pages.empty());
    QCOMPARE(d->store().state().cursorServerTs, qint64(0));
    m_fake.setSyncPageSize(500);
}

QTEST_GUILESS_MAIN(TestSyncFeedPages)
#include "tst_sync_feed_pages.moc"
