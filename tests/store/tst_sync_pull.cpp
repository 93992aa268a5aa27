#include "fake-service/fake_service.h"
#include "store/block_fields.h"
#include "store/outbox.h"
#include "support/test_device.h"

#include <QFile>
#include <QTest>
#include <QTimer>

#include <functional>

// The pull half of a cycle: canned replies from the service and what they leave in the store.
class TestSyncPull : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void pageWithoutPayloadGetsDefaults();
    void pageUpdateTouchesOnlyPresentKeys_data();
    void pageUpdateTouchesOnlyPresentKeys();
    void softDeletedRecordsStayDeleted();
    void blockBeforeItsPageAppliesInTheSamePull();
    void deferredBlockGivesUpAfterFivePulls_data();
    void deferredBlockGivesUpAfterFivePulls();
    void partialBlockPayloadKeepsTheRest();
    void storedBlockUpdateWhateverItsPageId_data();
    void storedBlockUpdateWhateverItsPageId();
    void echoOfOwnPushKeepsNewerLocalEdit();
    void cursorNeverMovesBack_data();
    void cursorNeverMovesBack();
    void idsOfZeroOrLessAreIgnored_data();
    void idsOfZeroOrLessAreIgnored();
    void deletesOfUnknownRecordsAreIgnored();
    void replyAfterResetIsDiscarded();
    void failedPullAppliesNothing();

private:
    void reply(const QByteArray &json, int delayMs = 0);
    std::unique_ptr<TestDevice> device();
    FakeService m_fake;
    FakeService::Account m_account;
    QDateTime m_now;
};

void TestSyncPull::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount("pull@example.com", "secret12", "Pull");
}

void TestSyncPull::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
    m_now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
}

void TestSyncPull::reply(const QByteArray &json, int delayMs)
{
    auto fault = FakeService::Fault::http(200, json);
    fault.delayMs = delayMs;
    fault.remaining = 1;
    m_fake.setFault("/api/sync.php", fault);
}

namespace {

// Page 8 with block 80 on it, stored on the device; `shape` fills in the rest of the block.
FNBlock storeBlockOnPage8(TestDevice &d, const std::function<void(FNBlock &)> &shape)
{
    FNPage page;
    page.serverID = 8;
    d.store().upsertPage(page);
    FNBlock block;
    block.serverID = 80;
    block.pageServerID = 8;
    block.pageLocalID = page.localID;
    shape(block);
    d.store().upsertBlock(block);
    return block;
}

} // namespace

std::unique_ptr<TestDevice> TestSyncPull::device()
{
    auto d = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
    d->engine().setClock([this] { return m_now; });
    return d;
}

void TestSyncPull::pageWithoutPayloadGetsDefaults()
{
    auto d = device();
    reply(R"({"ops":[{"entity_type":"page","entity_id":41,"op":"create","server_ts":5}],"server_ts":5})");
    QVERIFY(d->sync());
    const FNPage *p = d->pageWithServerID(41);
    QVERIFY(p);
    QCOMPARE(p->title, QStringLiteral("Untitled"));
    QCOMPARE(p->icon, QString());
    QCOMPARE(p->coverURL, QString());
    QCOMPARE(p->coverOffsetX, qint64(50));
    QCOMPARE(p->coverOffsetY, qint64(50));
    QCOMPARE(p->position, qint64(0));
    QCOMPARE(p->workspaceServerID + p->parentPageServerID + p->folderServerID, qint64(0));
    QCOMPARE(p->createdAt, m_now);
    QVERIFY(!p->deletedAt);
    QCOMPARE(d->store().state().cursorServerTs, qint64(5));
}

void TestSyncPull::pageUpdateTouchesOnlyPresentKeys_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("title");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QString>("icon");
    QTest::newRow("null title reads as default")
        << QByteArray(R"({"title":null})") << "Untitled" << qint64(7) << "🌱";
    QTest::newRow("empty payload") << QByteArray("{}") << "Local" << qint64(7) << "🌱";
    QTest::newRow("fractional position is default")
        << QByteArray(R"({"position":2.5})") << "Local" << qint64(0) << "🌱";
    QTest::newRow("string position is default")
        << QByteArray(R"({"position":"3"})") << "Local" << qint64(0) << "🌱";
    QTest::newRow("whole 3.0 is an integer")
        << QByteArray(R"({"position":3.0})") << "Local" << qint64(3) << "🌱";
    QTest::newRow("server title wins")
        << QByteArray(R"({"title":"Server","icon":""})") << "Server" << qint64(7) << "";
}

void TestSyncPull::pageUpdateTouchesOnlyPresentKeys()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, title);
    QFETCH(qint64, position);
    QFETCH(QString, icon);
    auto d = device();
    FNPage page;
    page.serverID = 77;
    page.title = QStringLiteral("Local");
    page.icon = QStringLiteral("🌱");
    page.position = 7;
    page.updatedAt = m_now.addDays(-1);
    d->store().upsertPage(page);
    d->store().save();
    const auto file = [&] {
        QFile f(d->store().url());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray saved = file();
    reply(R"({"ops":[{"entity_type":"page","entity_id":77,"op":"update","payload":)" + payload +
          R"(,"server_ts":9}],"server_ts":9})");
    QVERIFY(d->sync());
    const FNPage *p = d->page(page.localID);
    QCOMPARE(p->title, title);
    QCOMPARE(p->position, position);
    QCOMPARE(p->icon, icon);
    // Stamped when the update changed something; one that changed nothing neither stamps nor saves.
    const bool changed = title != page.title || position != page.position || icon != page.icon;
    QCOMPARE(p->updatedAt, changed ? m_now : page.updatedAt);
    QTRY_VERIFY(!d->store().isSavePending());
    QCOMPARE(file() != saved, changed);
    QCOMPARE(d->store().state().pages.size(), size_t(1));
}

void TestSyncPull::softDeletedRecordsStayDeleted()
{
    auto d = device();
    FNPage page;
    page.serverID = 5;
    page.deletedAt = m_now.addDays(-1);
    d->store().upsertPage(page);
    FNBlock block;
    block.serverID = 6;
    block.pageServerID = 5;
    block.pageLocalID = page.localID;
    block.deletedAt = m_now.addDays(-1);
    d->store().upsertBlock(block);
    reply(R"({"ops":[{"entity_type":"page","entity_id":5,"op":"update","payload":{"title":"T"},"server_ts":1},
                     {"entity_type":"block","entity_id":6,"op":"upsert","payload":{"content":{"text":"x"}},"server_ts":2}],
              "server_ts":2})");
    QVERIFY(d->sync());
    QCOMPARE(d->page(page.localID)->title, QStringLiteral("T"));
    QVERIFY(d->page(page.localID)->deletedAt);
    QCOMPARE(TestDevice::textOf(*d->block(block.localID)), QStringLiteral("x"));
    QVERIFY(d->block(block.localID)->deletedAt);
}

void TestSyncPull::blockBeforeItsPageAppliesInTheSamePull()
{
    auto d = device();
    reply(R"({"ops":[{"entity_type":"block","entity_id":100,"op":"upsert",
                      "payload":{"page_id":50,"type":"h1","position":2,"content":{"text":"Hello"}},"server_ts":1},
                     {"entity_type":"block","entity_id":100,"op":"upsert",
                      "payload":{"page_id":50,"content":{"text":"dup"}},"server_ts":2},
                     {"entity_type":"page","entity_id":50,"op":"create","payload":{"title":"Later"},"server_ts":3}],
              "server_ts":3})");
    QVERIFY(d->sync());
    const FNPage *p = d->pageWithServerID(50);
    QVERIFY(p);
    const auto blocks = d->liveBlocks(p->localID);
    QCOMPARE(blocks.size(), size_t(1));
    QCOMPARE(blocks[0].type, QStringLiteral("h1"));
    QCOMPARE(TestDevice::textOf(blocks[0]), QStringLiteral("Hello")); // the first deferred op stayed
    QCOMPARE(blocks[0].pageServerID, qint64(50));
    QCOMPARE(blocks[0].position, qint64(2));
}

void TestSyncPull::deferredBlockGivesUpAfterFivePulls_data()
{
    QTest::addColumn<int>("emptyPulls"); // pulls without the page between the orphan and its page
    QTest::addColumn<size_t>("blocks");
    QTest::newRow("found at the fifth look-up (the fourth pull after the first)") << 3 << size_t(1);
    QTest::newRow("one pull too late: dropped silently") << 4 << size_t(0);
}

void TestSyncPull::deferredBlockGivesUpAfterFivePulls()
{
    QFETCH(int, emptyPulls);
    QFETCH(size_t, blocks);
    const QByteArray orphan = R"({"ops":[{"entity_type":"block","entity_id":300,"op":"upsert",
                                  "payload":{"page_id":60,"content":{"text":"orphan"}},"server_ts":1}],"server_ts":1})";
    const QByteArray page =
        R"({"ops":[{"entity_type":"page","entity_id":60,"op":"create","server_ts":2}],"server_ts":2})";
    const QByteArray empty = R"({"ops":[],"server_ts":2})";

    auto d = device();
    reply(orphan);
    QVERIFY(d->sync());
    for (int i = 0; i < emptyPulls; ++i) {
        reply(empty);
        QVERIFY(d->sync());
    }
    reply(page);
    QVERIFY(d->sync());
    QCOMPARE(d->liveBlocks(d->pageWithServerID(60)->localID).size(), blocks);
}

void TestSyncPull::partialBlockPayloadKeepsTheRest()
{
    auto d = device();
    const FNBlock block = storeBlockOnPage8(*d, [](FNBlock &b) {
        b.type = QStringLiteral("todo");
        b.contentJSON = QStringLiteral(R"({"text":"keep me","checked":true})");
        b.parentBlockServerID = 79;
        b.position = 1;
    });
    reply(
        R"({"ops":[{"entity_type":"block","entity_id":80,"op":"update","payload":{"position":4},"server_ts":1}],
              "server_ts":1})");
    QVERIFY(d->sync());
    const FNBlock *b = d->block(block.localID);
    QCOMPARE(b->position, qint64(4));
    QCOMPARE(b->type, QStringLiteral("todo"));
    QCOMPARE(b->contentJSON, QStringLiteral(R"({"text":"keep me","checked":true})"));
    QCOMPARE(b->parentBlockServerID, qint64(79));
}

void TestSyncPull::storedBlockUpdateWhateverItsPageId_data()
{
    QTest::addColumn<QByteArray>("pageId"); // the JSON member, or empty for none
    QTest::newRow("no page_id") << QByteArray();
    QTest::newRow("page_id 0") << QByteArray(R"("page_id":0,)");
    QTest::newRow("page_id null") << QByteArray(R"("page_id":null,)");
    QTest::newRow("page_id as text") << QByteArray(R"("page_id":"8",)");
    QTest::newRow("page_id of a page not here") << QByteArray(R"("page_id":999,)");
}

void TestSyncPull::storedBlockUpdateWhateverItsPageId()
{
    QFETCH(QByteArray, pageId);
    auto d = device();
    const FNBlock block =
        storeBlockOnPage8(*d, [](FNBlock &b) { b.contentJSON = QStringLiteral(R"({"text":"before"})"); });
    reply(R"({"ops":[{"entity_type":"block","entity_id":80,"op":"update","payload":{)" + pageId +
          R"("content":{"text":"after"}},"server_ts":1}],"server_ts":1})");
    QVERIFY(d->sync());
    QCOMPARE(d->store().state().blocks.size(), size_t(1));
    const FNBlock *b = d->block(block.localID);
    QCOMPARE(b->contentJSON, QStringLiteral(R"({"text":"after"})"));
    // The block stays on its page.
    QCOMPARE(b->pageServerID, qint64(8));
    QCOMPARE(b->pageLocalID, d->pageWithServerID(8)->localID);
}

void TestSyncPull::echoOfOwnPushKeepsNewerLocalEdit()
{
    auto d = device();
    const FNPage page = d->addPage(m_account.workspaceId, "Echo");
    const FNBlock block = d->addBlock(page.localID, "Pack", 0);
    QVERIFY(d->sync());
    QVERIFY(d->queueBlockUpsert(page.localID));
    QVERIFY(d->sync()); // "Pack" sent as it stands
    const qint64 blockId = d->block(block.localID)->serverID;
    QVERIFY(blockId > 0);
    const auto echo = [&](const QString &text, qint64 ts) {
        reply(QStringLiteral(R"({"ops":[{"entity_type":"block","entity_id":%1,"op":"upsert",
                                 "payload":{"page_id":%2,"type":"todo","content":{"text":"%3"}},"server_ts":%4}],
                                 "server_ts":%4})")
                  .arg(blockId)
                  .arg(d->page(page.localID)->serverID)
                  .arg(text)
                  .arg(ts)
                  .toUtf8());
    };

    // Edited here after that push, not sent yet: the pulled older version must not replace it.
    FNBlock edited = *d->block(block.localID);
    edited.contentJSON = QStringLiteral(R"({"text":"Pack bags","checked":true})");
    edited.updatedAt = edited.updatedAt.addMSecs(50);
    d->store().upsertBlock(edited);
    Outbox::of(d->store()).blockEdited(page.localID, block.localID, BlockFields::Content);
    echo(QStringLiteral("Pack"), 1000000);
    QVERIFY(d->sync());
    QCOMPARE(d->block(block.localID)->contentJSON, edited.contentJSON);
    // The kind was not changed here: another device's change of it is taken.
    QCOMPARE(d->block(block.localID)->type, QStringLiteral("todo"));

    // Once the edit has gone out, a change made elsewhere applies again.
    QVERIFY(d->queueBlockUpsert(page.localID));
    QVERIFY(d->sync());
    echo(QStringLiteral("Pack bags and shoes"), 2000000);
    QVERIFY(d->sync());
    QCOMPARE(TestDevice::textOf(*d->block(block.localID)), QStringLiteral("Pack bags and shoes"));
    QCOMPARE(d->block(block.localID)->type, QStringLiteral("todo"));
    // And a pulled version is itself an agreement: the next pull of another change applies too.
    echo(QStringLiteral("Shoes"), 3000000);
    QVERIFY(d->sync());
    QCOMPARE(TestDevice::textOf(*d->block(block.localID)), QStringLiteral("Shoes"));
}

void TestSyncPull::cursorNeverMovesBack_data()
{
    QTest::addColumn<qint64>("before");
    QTest::addColumn<qint64>("replyTs");
    QTest::addColumn<qint64>("after");
    QTest::newRow("advances") << qint64(10) << qint64(20) << qint64(20);
    QTest::newRow("same stays") << qint64(10) << qint64(10) << qint64(10);
    QTest::newRow("older stays") << qint64(10) << qint64(3) << qint64(10);
}

void TestSyncPull::cursorNeverMovesBack()
{
    QFETCH(qint64, before);
    QFETCH(qint64, replyTs);
    QFETCH(qint64, after);
    auto d = device();
    d->store().change([&](StoreState &s) { s.cursorServerTs = before; });
    reply(R"({"ops":[],"server_ts":)" + QByteArray::number(replyTs) + "}");
    QVERIFY(d->sync());
    QCOMPARE(m_fake.lastRequest().body, R"({"since_ts":)" + QByteArray::number(before) + "}");
    QCOMPARE(d->store().state().cursorServerTs, after);
}

void TestSyncPull::idsOfZeroOrLessAreIgnored_data()
{
    QTest::addColumn<QByteArray>("op");
    QTest::newRow("page id 0") << QByteArray(R"({"entity_type":"page","entity_id":0,"op":"create"})");
    QTest::newRow("page id -3") << QByteArray(R"({"entity_type":"page","entity_id":-3,"op":"create"})");
    QTest::newRow("block page 0") << QByteArray(
        R"({"entity_type":"block","entity_id":9,"op":"upsert","payload":{"page_id":0}})");
    QTest::newRow("block without page")
        << QByteArray(R"({"entity_type":"block","entity_id":9,"op":"upsert"})");
    QTest::newRow("other entity") << QByteArray(R"({"entity_type":"folder","entity_id":9,"op":"create"})");
}

void TestSyncPull::idsOfZeroOrLessAreIgnored()
{
    QFETCH(QByteArray, op);
    auto d = device();
    FNPage local; // not on the service yet: server id 0
    d->store().upsertPage(local);
    QByteArray withTs = op;
    withTs.insert(withTs.size() - 1, R"(,"server_ts":1)");
    reply(R"({"ops":[)" + withTs + R"(],"server_ts":1})");
    QVERIFY(d->sync());
    QCOMPARE(d->store().state().pages.size(), size_t(1));
    QCOMPARE(d->store().state().pages[0], local);
    QVERIFY(d->store().state().blocks.empty());
    // Nothing was deferred either: a later page 0 or page 9 brings no block.
    reply(R"({"ops":[{"entity_type":"page","entity_id":9,"op":"create","server_ts":2}],"server_ts":2})");
    QVERIFY(d->sync());
    QVERIFY(d->store().state().blocks.empty());
}

void TestSyncPull::deletesOfUnknownRecordsAreIgnored()
{
    auto d = device();
    reply(R"({"ops":[{"entity_type":"page","entity_id":5,"op":"delete","server_ts":1},
                     {"entity_type":"block","entity_id":6,"op":"delete","server_ts":1}],"server_ts":1})");
    QVERIFY(d->sync());
    QVERIFY(d->store().state().pages.empty());
    QVERIFY(d->store().state().blocks.empty());
}

void TestSyncPull::replyAfterResetIsDiscarded()
{
    auto d = device();
    reply(R"({"ops":[{"entity_type":"page","entity_id":12,"op":"create","server_ts":40}],"server_ts":40})",
          200);
    QTimer::singleShot(50, this, [&] { d->store().reset(); });
    QVERIFY(d->sync());
    QVERIFY(d->store().state().pages.empty());
    QCOMPARE(d->store().state().cursorServerTs, qint64(0));

    // And after a sign-out with the reply still in flight.
    reply(R"({"ops":[{"entity_type":"page","entity_id":12,"op":"create","server_ts":40}],"server_ts":40})",
          200);
    QTimer::singleShot(50, this, [&] { d->setToken(std::nullopt); });
    QVERIFY(d->sync());
    QVERIFY(d->store().state().pages.empty());
}

void TestSyncPull::failedPullAppliesNothing()
{
    auto d = device();
    m_fake.setFault("/api/sync.php",
                    FakeService::Fault::http(200, R"({"ops":[{"entity_type":"page",)"
                                                  R"("entity_id":5,"op":"create","server_ts":3}],)"
                                                  R"("server_ts":"3"})"));
    QVERIFY(!d->sync()); // a reply that does not decode
    QCOMPARE(d->store().state().cursorServerTs, qint64(0));
    QVERIFY(!d->pageWithServerID(5));
    m_fake.setFault("/api/sync.php", FakeService::Fault::drop());
    QVERIFY(!d->sync());
    QVERIFY(!d->engine().isSyncing());
}

QTEST_GUILESS_MAIN(TestSyncPull)
#include "tst_sync_pull.moc"
