#include "api/wire/pages.h"
#include "clocked_device_fixture.h"
#include "fake-service/fake_service.h"
#include "json/json_coder.h"
#include "library/library_row_editor.h"
#include "platform/app_events.h"
#include "store/outbox.h"
#include "support/test_device.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

// A "block"/"upsert" payload as the editors queue it.
QString upsertPayload(qint64 pageId, JSONArray blocks)
{
    return QString::fromUtf8(serializeJSONObject({{"page_id", pageId}, {"blocks", std::move(blocks)}}));
}

JSONObject textBlock(const QString &clientId, JSONObject content, qint64 position)
{
    return {
        {"client_id", clientId}, {"type", "text"}, {"content", std::move(content)}, {"position", position}};
}

} // namespace

// The push half of a cycle against the fake service: what is sent, in which order, and what a
// failure leaves in the outbox.
class TestOutboxPush : public QObject, private ClockedDeviceFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void emptyOutboxOrNoTokenSendsNothing();
    void foldsUpsertsOfOnePageAndKeepsOrder();
    void equalTimesLaterEntryWins();
    void foldMergesBlocksInOrderOfQueuing();
    void dueExactlyNowIsSentLaterIsSkipped();
    void serverErrorsBackOffAndNeverDrop();
    void failureCounting_data();
    void failureCounting();
    void createThenDeleteOfflineInOnePass();
    void createRecordsIdsOnPageAndBlocks();
    void unknownClientIdIsSkipped();
    void payloadsThatCountAsSent_data();
    void payloadsThatCountAsSent();
    void unreadableCreatePayloadIsRebuilt();
    void updateQueuedBeforeServerIdReachesService();
    void pageDeleteWithoutIdWaits();
    void pageDelete404IsDone();
    void failingOperationDoesNotHoldBackOthers();
    void failureHoldsNewerOnlyWhereOrderMatters_data();
    void failureHoldsNewerOnlyWhereOrderMatters();
    void operationRemovedMeanwhileIsNotWrittenBack();
    void refusedTokenLeavesOperationForNextSignIn_data();
    void refusedTokenLeavesOperationForNextSignIn();
    void renameWhileCreateIsSentReachesService_data();
    void renameWhileCreateIsSentReachesService();
};

void TestOutboxPush::initTestCase()
{
    startService(QStringLiteral("push@example.com"), QStringLiteral("Push"));
}

void TestOutboxPush::init()
{
    resetService();
}

void TestOutboxPush::emptyOutboxOrNoTokenSendsNothing()
{
    auto d = device();
    QVERIFY(d->sync());
    QCOMPARE(m_fake.requestsTo("/api/pages.php").size(), 0);
    QCOMPARE(m_fake.requestsTo("/api/sync.php").size(), 1);

    m_fake.clearRequests();
    d->setToken(std::nullopt);
    d->addPage(m_account.workspaceId, "Offline");
    QVERIFY(d->sync());
    QCOMPARE(m_fake.requests().size(), 0);
    QCOMPARE(d->store().state().outbox.size(), size_t(1));
}

void TestOutboxPush::foldsUpsertsOfOnePageAndKeepsOrder()
{
    auto d = device();
    const FNPage p = d->addPage(m_account.workspaceId, "P");
    const FNPage q = d->addPage(m_account.workspaceId, "Q");
    QVERIFY(d->sync());
    QVERIFY(d->page(p.localID)->serverID && d->page(q.localID)->serverID);
    m_fake.clearRequests();

    const QDateTime t1 = m_now.addSecs(-30), t2 = m_now.addSecs(-20), t3 = m_now.addSecs(-10);
    d->addBlock(p.localID, "one", 0);
    const QString body = upsertPayload(d->page(p.localID)->serverID, {textBlock("x", {}, 0)});
    d->queueRaw("block", "upsert", p.localID, body, t3);
    d->queueRaw("block", "upsert", p.localID, body, t1);
    const QString qBody = upsertPayload(d->page(q.localID)->serverID, {});
    d->queueRaw("block", "upsert", q.localID, qBody, t2);
    d->queueRaw("block", "upsert", p.localID, body, t2);

    QVERIFY(d->sync());
    const auto sent = m_fake.requestsTo("/api/blocks.php");
    QCOMPARE(sent.size(), 2); // P's t1 and t2 folded away
    QVERIFY(sent[0].body.contains(QByteArray::number(d->page(q.localID)->serverID))); // Q at t2 first
    QVERIFY(sent[1].body.contains(QByteArray::number(d->page(p.localID)->serverID)));
    QVERIFY(d->store().state().outbox.empty());
}

void TestOutboxPush::equalTimesLaterEntryWins()
{
    auto d = device();
    const FNPage p = d->addPage(m_account.workspaceId, "Same time");
    QVERIFY(d->sync());
    const qint64 pid = d->page(p.localID)->serverID;
    const auto upsert = [&](const char *text) {
        return upsertPayload(pid, {textBlock("B1", {{"text", text}}, 0)});
    };
    d->queueRaw("block", "upsert", p.localID, upsert("first"), m_now);
    d->queueRaw("block", "upsert", p.localID, upsert("second"), m_now);
    m_fake.clearRequests();
    QVERIFY(d->sync());
    const auto sent = m_fake.requestsTo("/api/blocks.php");
    QCOMPARE(sent.size(), 1);
    QVERIFY(sent[0].body.contains("second"));
}

// Each upsert carries only what changed since the one before: folded, no block of an older one is
// lost, and per block the one queued last wins, whatever the clock that stamped them said.
void TestOutboxPush::foldMergesBlocksInOrderOfQueuing()
{
    auto d = device();
    const FNPage p = d->addPage(m_account.workspaceId, "Stepped clock");
    QVERIFY(d->sync());
    const qint64 pid = d->page(p.localID)->serverID;
    d->queueRaw(
        "block", "upsert", p.localID,
        upsertPayload(pid, {textBlock("B1", {{"text", "old"}}, 0), textBlock("B2", {{"text", "two"}}, 1)}),
        m_now);
    // The clock stepped back a minute before the next edit was queued.
    d->queueRaw("block", "upsert", p.localID, upsertPayload(pid, {textBlock("B1", {{"text", "new"}}, 0)}),
                m_now.addSecs(-60));
    m_fake.clearRequests();
    QVERIFY(d->sync());
    const auto sent = m_fake.requestsTo("/api/blocks.php");
    QCOMPARE(sent.size(), 1);
    QVERIFY(d->store().state().outbox.empty());
    QStringList stored;
    for (const auto &b : m_fake.storedBlocks(pid))
        stored << b.clientId + QLatin1Char('=') + b.content.at(QStringLiteral("text")).toString();
    QCOMPARE(stored, QStringList({"B1=new", "B2=two"}));
}

void TestOutboxPush::dueExactlyNowIsSentLaterIsSkipped()
{
    auto d = device();
    const FNPage p = d->addPage(m_account.workspaceId, "Due");
    QVERIFY(d->sync());
    PagePatchReq a;
    a.title = QStringLiteral("A");
    d->queuePageUpdate(p.localID, a);
    PagePatchReq b;
    b.title = QStringLiteral("B");
    d->queuePageUpdate(p.localID, b);
    const auto &ops = d->store().state().outbox;
    const QString dueId = ops[0].localID, laterId = ops[1].localID;
    d->store().change([&](StoreState &s) {
        s.outbox[0].nextRetryAt = m_now;
        s.outbox[1].nextRetryAt = m_now.addMSecs(1);
        s.outbox[1].attempts = 3;
    });
    const auto before = outboxOp(*d, laterId);
    QVERIFY(d->sync());
    QCOMPARE(d->store().state().outbox.size(), size_t(1));
    QCOMPARE(outboxOp(*d, laterId), before);
    QVERIFY(!outboxOp(*d, dueId));
}

void TestOutboxPush::serverErrorsBackOffAndNeverDrop()
{
    auto d = device();
    d->addPage(m_account.workspaceId, "Stubborn");
    m_fake.setFault("/api/pages.php", FakeService::Fault::http(500, R"({"error":"db"})"));
    const QList<int> waits{2, 4, 8, 16, 32, 60, 60, 60, 60, 60, 60, 60};
    for (int i = 0; i < waits.size(); ++i) {
        QVERIFY(!d->store().state().outbox.empty());
        d->sync();
        const FNSyncOp op = d->store().state().outbox.at(0);
        QCOMPARE(op.attempts, qMin(qint64(i + 1), qint64(9)));
        QCOMPARE(*op.nextRetryAt, m_now.addSecs(waits[i]));
        QCOMPARE(*op.lastError, QStringLiteral("Server problem. Please try again. (db)"));
        // Not due a millisecond early, due exactly then.
        m_now = op.nextRetryAt->addMSecs(-1);
        m_fake.clearRequests();
        d->sync();
        QCOMPARE(m_fake.requestsTo("/api/pages.php").size(), 0);
        m_now = *op.nextRetryAt;
    }
    m_fake.clearFaults();
    QVERIFY(d->sync());
    QVERIFY(d->store().state().outbox.empty());
}

void TestOutboxPush::failureCounting_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("droppedAt"); // 0: never
    QTest::newRow("422 dropped at the tenth") << 422 << 10;
    QTest::newRow("400") << 400 << 10;
    QTest::newRow("499 is a client error") << 499 << 10;
    QTest::newRow("429 is transient") << 429 << 0;
    QTest::newRow("408 is transient") << 408 << 0;
    QTest::newRow("399 is not a client error") << 399 << 0;
    QTest::newRow("500") << 500 << 0;
}

void TestOutboxPush::failureCounting()
{
    QFETCH(int, status);
    QFETCH(int, droppedAt);
    auto d = device();
    d->addPage(m_account.workspaceId, "Counted");
    m_fake.setFault("/api/pages.php", FakeService::Fault::http(status, "{}"));
    for (int i = 1; i <= 12; ++i) {
        d->sync();
        if (droppedAt && i >= droppedAt) {
            QVERIFY2(d->store().state().outbox.empty(), qPrintable(QString::number(i)));
            return;
        }
        QCOMPARE(d->store().state().outbox.size(), size_t(1));
        m_now = *d->store().state().outbox[0].nextRetryAt;
    }
    QCOMPARE(d->store().state().outbox[0].attempts, qint64(9));
}

void TestOutboxPush::createThenDeleteOfflineInOnePass()
{
    auto d = device();
    const FNPage p = d->addPage(m_account.workspaceId, "Short-lived");
    d->queuePageDelete(p.localID); // payload says page_id 0
    QVERIFY(d->sync());
    QVERIFY(d->store().state().outbox.empty());
    const qint64 id = d->page(p.localID)->serverID;
    QVERIFY(id > 0);
    QCOMPARE(m_fake.requestsTo("/api/pages.php").last().target,
             "/api/pages.php?page_id=" + QByteArray::number(id));
}

void TestOutboxPush::createRecordsIdsOnPageAndBlocks()
{
    auto d = device();
    const FNPage p = d->addPage(m_account.workspaceId, "With blocks");
    const FNBlock b1 = d->addBlock(p.localID, "one", 0);
    const FNBlock b2 = d->addBlock(p.localID, "two", 1);
    QVERIFY(d->sync());
    const qint64 id = d->page(p.localID)->serverID;
    QCOMPARE(d->block(b1.localID)->pageServerID, id);
    QCOMPARE(d->block(b2.localID)->pageServerID, id);

    QVERIFY(d->queueBlockUpsert(p.localID));
    QVERIFY(d->sync());
    QVERIFY(d->block(b1.localID)->serverID > 0);
    QVERIFY(d->block(b2.localID)->serverID > 0);
    QCOMPARE(m_fake.storedBlocks(id).size(), size_t(2));
}

void TestOutboxPush::unknownClientIdIsSkipped()
{
    auto d = device();
    const FNPage p = d->addPage(m_account.workspaceId, "Acks");
    const FNBlock b = d->addBlock(p.localID, "known", 1);
    QVERIFY(d->sync());
    const qint64 pid = d->page(p.localID)->serverID;
    const QString body =
        upsertPayload(pid, {textBlock("NOT-HERE", {}, 0), textBlock(b.localID, {{"text", "known"}}, 1)});
    d->queueRaw("block", "upsert", p.localID, body);
    QVERIFY(d->sync());
    QVERIFY(d->store().state().outbox.empty());
    QVERIFY(d->block(b.localID)->serverID > 0);
}

void TestOutboxPush::payloadsThatCountAsSent_data()
{
    QTest::addColumn<QString>("entity");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("payload");
    QTest::newRow("block delete {}") << "block"
                                     << "delete"
                                     << "{}";
    QTest::newRow("block delete garbage") << "block"
                                          << "delete"
                                          << "not json";
    QTest::newRow("block delete non-integer member") << "block"
                                                     << "delete"
                                                     << R"({"block_id":1,"x":"y"})";
    QTest::newRow("folder create") << "folder"
                                   << "create"
                                   << "{}";
    QTest::newRow("block update") << "block"
                                  << "update"
                                  << "{}";
    QTest::newRow("page upsert") << "page"
                                 << "upsert"
                                 << "{}";
}

void TestOutboxPush::payloadsThatCountAsSent()
{
    QFETCH(QString, entity);
    QFETCH(QString, op);
    QFETCH(QString, payload);
    auto d = device();
    d->queueRaw(entity, op, "REF", payload);
    QVERIFY(d->sync());
    QVERIFY(d->store().state().outbox.empty());
    QCOMPARE(m_fake.requests().size(), 1); // the pull only
}

void TestOutboxPush::unreadableCreatePayloadIsRebuilt()
{
    auto d = device();
    FNPage page;
    page.workspaceServerID = m_account.workspaceId;
    page.title = QStringLiteral("Rebuilt");
    d->store().upsertPage(page);
    d->queueRaw("page", "create", page.localID, "{}");
    d->queueRaw("page", "create", "GONE", "{}"); // no page left: dropped
    QVERIFY(d->sync());
    QVERIFY(d->store().state().outbox.empty());
    QVERIFY(d->page(page.localID)->serverID > 0);
    const auto creates = m_fake.requestsTo("/api/pages.php");
    QCOMPARE(creates.size(), 1);
    QVERIFY(creates[0].body.contains("Rebuilt"));
}

void TestOutboxPush::updateQueuedBeforeServerIdReachesService()
{
    auto d = device();
    const FNPage p = d->addPage(m_account.workspaceId, "Untitled");
    PagePatchReq patch;
    patch.title = QStringLiteral("Typed in the first second");
    d->queuePageUpdate(p.localID, patch); // page_id 0 in the payload
    QVERIFY(d->sync());
    QVERIFY(d->store().state().outbox.empty());
    const qint64 id = d->page(p.localID)->serverID;
    QCOMPARE(m_fake.state().pages.at(id).title, QStringLiteral("Typed in the first second"));
}

void TestOutboxPush::pageDeleteWithoutIdWaits()
{
    auto d = device();
    const FNSyncOp op = d->queueRaw("page", "delete", "NOT-LOCAL", R"({"page_id":0})");
    QVERIFY(d->sync());
    const auto after = outboxOp(*d, op.localID);
    QVERIFY(after);
    QCOMPARE(after->attempts, qint64(1));
    QCOMPARE(*after->lastError, QStringLiteral("Page not yet on server"));
}

void TestOutboxPush::pageDelete404IsDone()
{
    auto d = device();
    d->queueRaw("page", "delete", "NOT-LOCAL", R"({"page_id":999999})");
    d->queueRaw("block", "delete", "NOT-LOCAL", R"({"block_id":999999})");
    QVERIFY(d->sync());
    // The page and the block are gone already: both done.
    QVERIFY(d->store().state().outbox.empty());
    QCOMPARE(m_fake.requestsTo("/api/pages.php").size(), 1);
    QCOMPARE(m_fake.requestsTo("/api/blocks.php").size(), 1);
}

void TestOutboxPush::failingOperationDoesNotHoldBackOthers()
{
    auto d = device();
    const FNPage p = d->addPage(m_account.workspaceId, "Old");
    QVERIFY(d->sync());
    const qint64 id = d->page(p.localID)->serverID;
    d->queueRaw("page", "update", p.localID, R"({"page_id": "not a number"})", m_now.addSecs(-5));
    PagePatchReq good;
    good.title = QStringLiteral("Newer");
    d->queuePageUpdate(p.localID, good);
    QVERIFY(d->sync());
    QCOMPARE(m_fake.state().pages.at(id).title, QStringLiteral("Newer"));
    QCOMPARE(d->store().state().outbox.size(), size_t(1));
    QVERIFY(d->store().state().outbox[0].lastError->contains("page_id"));
}

void TestOutboxPush::failureHoldsNewerOnlyWhereOrderMatters_data()
{
    QTest::addColumn<QString>("older"); // "update", "move" or "block delete"; the newer edits the page
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("held");      // the newer waits for a later pass
    QTest::addColumn<bool>("olderLeft"); // the older is still queued after the pass
    QTest::newRow("update refused") << "update"
                                    << "/api/pages.php" << 422 << false << true;
    QTest::newRow("update failing") << "update"
                                    << "/api/pages.php" << 500 << true << true;
    QTest::newRow("move refused") << "move"
                                  << "/api/folders.php" << 400 << false << true;
    QTest::newRow("block delete of a gone block") << "block delete"
                                                  << "/api/blocks.php" << 404 << false << false;
    QTest::newRow("block delete failing") << "block delete"
                                          << "/api/blocks.php" << 500 << false << true;
}

void TestOutboxPush::failureHoldsNewerOnlyWhereOrderMatters()
{
    QFETCH(QString, older);
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(bool, held);
    QFETCH(bool, olderLeft);
    const bool blocks = older == QLatin1String("block delete");
    const QString icon = QStringLiteral("🌿");
    auto d = device();
    const FNPage page = d->addPage(m_account.workspaceId, "Start");
    QVERIFY(d->sync());
    const FNBlock gone = d->addBlock(page.localID, "gone", 0);
    const FNBlock kept = d->addBlock(page.localID, "kept", 1);
    QVERIFY(d->queueBlockUpsert(page.localID));
    QVERIFY(d->sync());
    const qint64 id = d->page(page.localID)->serverID;

    if (older == QLatin1String("update")) {
        PagePatchReq first;
        first.title = QStringLiteral("Older");
        first.icon = icon;
        d->queuePageUpdate(page.localID, first);
    } else if (older == QLatin1String("move")) {
        Outbox::of(d->store()).pageMove(*d->page(page.localID), 0);
    } else {
        d->queueBlockDelete(gone.localID);
    }
    if (blocks) {
        d->setBlockText(kept.localID, "edited");
        QVERIFY(d->queueBlockUpsert(page.localID));
    } else {
        PagePatchReq rename;
        rename.title = QStringLiteral("Newer");
        d->queuePageUpdate(page.localID, rename);
    }
    const auto newerLanded = [&] {
        if (!blocks)
            return m_fake.state().pages.at(id).title == QLatin1String("Newer");
        for (const auto &b : m_fake.storedBlocks(id)) {
            if (b.clientId == kept.localID)
                return b.content.at(QStringLiteral("text")).toString() == QLatin1String("edited");
        }
        return false;
    };
    auto fault = FakeService::Fault::http(status, "{}");
    fault.remaining = 1;
    m_fake.setFault(path, fault);

    QVERIFY(d->sync());
    QCOMPARE(newerLanded(), !held);
    QCOMPARE(d->store().state().outbox.size(), size_t(olderLeft) + size_t(held));
    for (int i = 0; i < 3 && !d->store().state().outbox.empty(); ++i) {
        for (const FNSyncOp &op : d->store().state().outbox)
            m_now = std::max(m_now, op.nextRetryAt.value_or(m_now));
        QVERIFY(d->sync());
    }
    QVERIFY(d->store().state().outbox.empty());
    // Whichever went first, the newer edit is what stays; what only the older one set lands too.
    QVERIFY(newerLanded());
    if (older == QLatin1String("update"))
        QCOMPARE(m_fake.state().pages.at(id).icon, icon);
}

void TestOutboxPush::operationRemovedMeanwhileIsNotWrittenBack()
{
    auto d = device();
    d->addPage(m_account.workspaceId, "Vanishing");
    m_fake.setFault("/api/pages.php", [] {
        auto f = FakeService::Fault::http(500, "{}");
        f.delayMs = 150;
        return f;
    }());
    QTimer::singleShot(50, this, [&] { d->store().change([](StoreState &s) { s.outbox.clear(); }); });
    d->sync();
    QVERIFY(d->store().state().outbox.empty());
}

void TestOutboxPush::refusedTokenLeavesOperationForNextSignIn_data()
{
    QTest::addColumn<int>("outageCycles"); // failed cycles before the token expires
    QTest::addColumn<int>("outageStatus");
    QTest::newRow("fresh operation") << 0 << 0;
    QTest::newRow("at the cap after server errors") << 12 << 503;
    QTest::newRow("after client errors") << 3 << 422;
}

void TestOutboxPush::refusedTokenLeavesOperationForNextSignIn()
{
    QFETCH(int, outageCycles);
    QFETCH(int, outageStatus);
    const QString expiring = m_fake.issueToken(m_account.userId);
    TestDevice d(m_fake.origin(), expiring);
    d.engine().setClock([this] { return m_now; });
    const FNPage page = d.addPage(m_account.workspaceId, "Written during the outage");
    if (outageCycles)
        m_fake.setFault("/api/pages.php", FakeService::Fault::http(outageStatus, "{}"));
    for (int i = 0; i < outageCycles; ++i) {
        d.sync();
        m_now = *d.store().state().outbox.at(0).nextRetryAt;
    }
    m_fake.clearFaults();
    QCOMPARE(d.store().state().outbox.size(), size_t(1));
    const FNSyncOp before = d.store().state().outbox[0];

    m_fake.revokeToken(expiring);
    QSignalSpy expired(&d.events(), &AppEvents::authExpired);
    QVERIFY(!d.sync());
    QCOMPARE(expired.size(), 1);
    QCOMPARE(d.store().state().outbox.size(), size_t(1));
    QCOMPARE(d.store().state().outbox[0], before);

    // The same account signs in again: the edit goes out.
    d.setToken(m_fake.issueToken(m_account.userId));
    QVERIFY(d.sync());
    QVERIFY(d.store().state().outbox.empty());
    const qint64 id = d.page(page.localID)->serverID;
    QVERIFY(id != 0);
    QCOMPARE(m_fake.state().pages.at(id).title, QStringLiteral("Written during the outage"));
}

void TestOutboxPush::renameWhileCreateIsSentReachesService_data()
{
    QTest::addColumn<int>("status");   // the create's answer; 0: accepted
    QTest::addColumn<bool>("renamed"); // else the queued payload gets a new icon and position
    QTest::newRow("renamed, create fails") << 500 << true;
    QTest::newRow("renamed, create succeeds") << 0 << true;
    QTest::newRow("icon and position rewritten, create fails") << 500 << false;
    QTest::newRow("icon and position rewritten, create succeeds") << 0 << false;
}

void TestOutboxPush::renameWhileCreateIsSentReachesService()
{
    QFETCH(int, status);
    QFETCH(bool, renamed);
    const QString oldTitle = QStringLiteral("Old ") + QLatin1String(QTest::currentDataTag());
    const QString newTitle =
        renamed ? QStringLiteral("New ") + QLatin1String(QTest::currentDataTag()) : oldTitle;
    const QString icon = renamed ? QString() : QStringLiteral("🌿");
    const qint64 position = renamed ? 0 : 7;
    auto d = device();
    LibraryRowEditor rows(d->store(), d->engine());
    const FNPage page = d->addPage(m_account.workspaceId, oldTitle);
    auto slow = status ? FakeService::Fault::http(status, "{}") : FakeService::Fault::delay(200);
    slow.delayMs = 200;
    slow.remaining = 1;
    m_fake.setFault("/api/pages.php", slow);
    QTimer::singleShot(60, this, [&] {
        if (renamed) {
            rows.beginPageRename(page.localID);
            rows.commitPageRename(page.localID, newTitle);
            return;
        }
        d->store().changeOutsideRecords([&](StoreState &s) {
            auto req = sharedJSONDecode<PageCreateReq>(s.outbox.at(0).payloadJSON.toUtf8());
            req.icon = icon;
            req.position = position;
            s.outbox[0].payloadJSON = QString::fromUtf8(sharedJSONEncode(req));
        });
    });
    d->sync();
    // The pull that follows the push does not bring the old title back.
    QCOMPARE(d->page(page.localID)->title, newTitle);

    m_now = m_now.addSecs(120);
    QVERIFY(d->sync());
    QVERIFY(d->store().state().outbox.empty());
    const qint64 id = d->page(page.localID)->serverID;
    QVERIFY(id != 0);
    const auto &stored = m_fake.state().pages.at(id);
    QCOMPARE(stored.title, newTitle);
    QCOMPARE(stored.icon, icon);
    QCOMPARE(stored.position, position);
    QCOMPARE(d->page(page.localID)->title, newTitle);
    // A follow-up, not a second page.
    int made = 0;
    for (const auto &[serverID, other] : m_fake.state().pages)
        made += other.title == oldTitle || other.title == newTitle;
    QCOMPARE(made, 1);
}

QTEST_GUILESS_MAIN(TestOutboxPush)
#include "tst_outbox_push.moc"
