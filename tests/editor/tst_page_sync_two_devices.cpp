#include "fake-service/fake_service.h"
#include "support/chaos_device.h"
#include "support/chaos_order.h"
#include "support/page_sync_steps.h"
#include "support/test_device.h"

#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox.h"

#include <QTest>

Q_DECLARE_METATYPE(FakeService::Fault)

#include <memory>

// Two devices of one account edit one page through its editor while the service answers, fails, or
// loses answers, and while a device is killed: a change costs what it changed, another device's
// write is never lost to a copy this device sent of it, a delete holds, and all show one order.
class TestPageSyncTwoDevices : public QObject, protected PageSyncPair
{
    Q_OBJECT
public:
    enum class Moment { answered, killedBeforePull, answerLost, answerLostAndKilled, newerWriteBeforeTheFix };

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void anEditsCycleNeverReadsThePage();
    void feedFailuresNeverRefuseTheChange_data();
    void feedFailuresNeverRefuseTheChange();
    void anOverwrittenWriteIsPutBack_data();
    void anOverwrittenWriteIsPutBack();
    void aReorderNeverBringsBackADeletedBlock_data();
    void aReorderNeverBringsBackADeletedBlock();
    void everyDeviceShowsOneOrder_data();
    void everyDeviceShowsOneOrder();
    void marksGoWithTheirPage();
    void anEditBeatsADeleteAtEveryDepth_data();
    void anEditBeatsADeleteAtEveryDepth();

private:
    // Each live block as its text, under its parent's as "parent/child"; sorted.
    QStringList treeOn(ChaosDevice &d) const;
    QStringList treeOnService();
};

Q_DECLARE_METATYPE(TestPageSyncTwoDevices::Moment)

void TestPageSyncTwoDevices::initTestCase()
{
    QVERIFY(startService());
}

void TestPageSyncTwoDevices::init()
{
    newAccount(QStringLiteral("Order"));
}

void TestPageSyncTwoDevices::cleanup()
{
    endDevices();
}

QStringList TestPageSyncTwoDevices::treeOn(ChaosDevice &d) const
{
    QStringList out;
    const FNPage *page = d.store().pageWithServerID(m_pageID);
    if (!page)
        return out;
    const LocalStore &store = d.store();
    for (const FNBlock *b : chaosDeviceOrder(store, page->localID)) {
        const FNBlock *parent = nullptr;
        if (!b->parentBlockLocalID.isEmpty())
            parent = store.block(b->parentBlockLocalID);
        else if (b->parentBlockServerID != 0)
            parent = store.liveBlockWithServerID(b->parentBlockServerID);
        out << (parent ? TestDevice::textOf(*parent) + QLatin1Char('/') : QString()) + TestDevice::textOf(*b);
    }
    out.sort();
    return out;
}

QStringList TestPageSyncTwoDevices::treeOnService()
{
    QStringList out;
    const auto &blocks = m_fake.state().blocks;
    for (const auto *b : chaosServiceOrder(m_fake.state(), m_pageID)) {
        const auto parent = blocks.find(b->parentBlockId);
        const QString text = FakeService::stringField(b->content, QStringLiteral("text"));
        out << (parent != blocks.end()
                    ? FakeService::stringField(parent->second.content, QStringLiteral("text")) +
                          QLatin1Char('/')
                    : QString()) +
                   text;
    }
    out.sort();
    return out;
}

void TestPageSyncTwoDevices::anEditsCycleNeverReadsThePage()
{
    QStringList texts;
    for (int i = 0; i < 300; ++i)
        texts << QStringLiteral("line %1 with a few words in it").arg(i);
    QVERIFY(!sharedPage(texts).isEmpty());
    m_fake.clearRequests();

    m_a->editBlock(blockOn(*m_a, texts[150]), QStringLiteral("line 150 edited"));
    QVERIFY(settle(*m_a));
    QCOMPARE(textsOnService().at(150), QStringLiteral("line 150 edited"));
    qint64 sent = 0;
    for (const HttpRequest &r : m_fake.requests()) {
        QVERIFY2(r.method != "GET", r.target.constData()); // never a read of the page's blocks
        sent += r.body.size();
    }
    QVERIFY2(sent < 1500, qPrintable(QString::number(sent)));
    const auto upserts = m_fake.requestsTo(kBlocks);
    QCOMPARE(upserts.size(), 1);
    QVERIFY(upserts.front().body.contains("line 150 edited"));
    QVERIFY(!upserts.front().body.contains("line 151"));
}

void TestPageSyncTwoDevices::feedFailuresNeverRefuseTheChange_data()
{
    QTest::addColumn<FakeService::Fault>("fault");
    for (const int status : {400, 403, 404, 410, 500})
        QTest::addRow("feed answers %d", status) << FakeService::Fault::http(status, "{\"error\":\"Not found.\"}");
    QTest::newRow("feed drops the connection") << FakeService::Fault::drop();
}

// The pull the push makes before it goes is not the change: however it fails, the change waits, and
// goes once the feed works.
void TestPageSyncTwoDevices::feedFailuresNeverRefuseTheChange()
{
    QFETCH(FakeService::Fault, fault);
    QVERIFY(!sharedPage({"alpha", "beta", "gamma"}).isEmpty());
    m_fake.setFault(kSync, fault);
    m_a->editBlock(blockOn(*m_a, "beta"), QStringLiteral("beta typed"));
    m_a->moveBlock(blockOn(*m_a, "alpha"), 3);
    for (int i = 0; i < 12; ++i) {
        QVERIFY(QTest::qWaitFor([&] { return !m_a->isBusy(); }, kWait));
        m_a->sync();
    }
    QVERIFY(QTest::qWaitFor([&] { return !m_a->isBusy(); }, kWait));
    const auto &outbox = m_a->store().state().outbox;
    QCOMPARE(outbox.size(), size_t(1));
    QVERIFY(!outbox.front().refused);
    QCOMPARE(textsOn(*m_a), (QStringList{"beta typed", "gamma", "alpha"}));
    QCOMPARE(requestCount(kBlocks), 0);

    m_fake.clearFaults();
    QVERIFY(settle(*m_a));
    QVERIFY(settle(*m_b));
    QCOMPARE(textsOnService(), (QStringList{"beta typed", "gamma", "alpha"}));
    QCOMPARE(textsOn(*m_b), textsOnService());
    QCOMPARE(textsOn(*m_a), textsOnService());
}

void TestPageSyncTwoDevices::anOverwrittenWriteIsPutBack_data()
{
    QTest::addColumn<bool>("aTypes"); // A types while B drags; else A drags while B types
    QTest::addColumn<Moment>("moment");
    for (const bool aTypes : {true, false}) {
        const char *who = aTypes ? "A types, B drags" : "A drags, B types";
        QTest::addRow("%s, answered", who) << aTypes << Moment::answered;
        QTest::addRow("%s, killed before the next pull", who) << aTypes << Moment::killedBeforePull;
        QTest::addRow("%s, answer lost", who) << aTypes << Moment::answerLost;
        QTest::addRow("%s, answer lost and killed", who) << aTypes << Moment::answerLostAndKilled;
        QTest::addRow("%s, B writes again before A puts it back", who) << aTypes << Moment::newerWriteBeforeTheFix;
    }
}

// B's write lands between A's pull and A's push, which sends a copy of the field B changed from
// before it: whatever happens to A then, B's write is back on the service and on both devices.
void TestPageSyncTwoDevices::anOverwrittenWriteIsPutBack()
{
    QFETCH(bool, aTypes);
    QFETCH(Moment, moment);
    QVERIFY(!sharedPage({"alpha", "beta", "gamma"}).isEmpty());

    // A's pull before its push is answered from the service as it is now, and held.
    auto held = FakeService::Fault::held();
    held.remaining = 1;
    m_fake.setFault(kSync, held);
    const int pulls = requestCount(kSync);
    if (aTypes)
        m_a->editBlock(blockOn(*m_a, "alpha"), QStringLiteral("alpha typed on A"));
    else
        m_a->moveBlock(blockOn(*m_a, "alpha"), 3);
    QTRY_VERIFY_WITH_TIMEOUT(!m_a->store().state().outbox.empty(), kWait);
    m_a->sync();
    QTRY_COMPARE_WITH_TIMEOUT(requestCount(kSync), pulls + 1, kWait);

    if (aTypes)
        m_b->moveBlock(blockOn(*m_b, "alpha"), 3);
    else
        m_b->editBlock(blockOn(*m_b, "alpha"), QStringLiteral("alpha typed on B"));
    QVERIFY(settle(*m_b));
    const QString typed = aTypes ? QStringLiteral("alpha typed on A") : QStringLiteral("alpha typed on B");
    QStringList meant{"beta", "gamma", typed};

    const bool killed = moment == Moment::killedBeforePull || moment == Moment::answerLostAndKilled;
    if (moment == Moment::answerLost) {
        auto lost = FakeService::Fault::applyThenDrop();
        lost.remaining = 1;
        m_fake.setFault(kBlocks, lost);
    } else if (moment == Moment::newerWriteBeforeTheFix) {
        // A's pull after its push goes through; the one before the push that puts B's write back is
        // held, and B writes again meanwhile.
        auto wait = FakeService::Fault::held();
        wait.skip = 1;
        wait.remaining = 1;
        m_fake.setFault(kSync, wait);
    } else if (killed) {
        auto wait = FakeService::Fault::held();
        wait.remaining = 1;
        m_fake.setFault(moment == Moment::killedBeforePull ? kSync : kBlocks, wait);
    }
    const int upserts = requestCount(kBlocks);
    const int pullsBefore = requestCount(kSync);
    m_fake.releaseHeldAnswers();
    QTRY_VERIFY_WITH_TIMEOUT(requestCount(kBlocks) > upserts, kWait);
    if (moment == Moment::newerWriteBeforeTheFix) {
        QTRY_COMPARE_WITH_TIMEOUT(requestCount(kSync), pullsBefore + 2, kWait);
        if (aTypes) {
            m_b->moveBlock(blockOn(*m_b, "alpha"), 0);
            meant = QStringList{typed, "beta", "gamma"};
        } else {
            m_b->editBlock(blockOn(*m_b, "alpha typed on B"), QStringLiteral("alpha typed twice on B"));
            meant = QStringList{"beta", "gamma", "alpha typed twice on B"};
        }
        QVERIFY(settle(*m_b));
        m_fake.releaseHeldAnswers();
    }
    if (killed) {
        if (moment == Moment::killedBeforePull)
            QTRY_COMPARE_WITH_TIMEOUT(requestCount(kSync), pullsBefore + 1, kWait);
        // Whatever the store had written by now is all the next launch has.
        m_a = device({}, m_a->crash());
        m_fake.releaseHeldAnswers();
    }
    QVERIFY(settle(*m_a));
    QVERIFY(settle(*m_b));
    QVERIFY(settle(*m_a));

    QCOMPARE(textsOnService(), meant);
    QCOMPARE(textsOn(*m_a), meant);
    QCOMPARE(textsOn(*m_b), meant);
    QVERIFY(m_a->store().state().fillChecks.empty());
}

void TestPageSyncTwoDevices::aReorderNeverBringsBackADeletedBlock_data()
{
    QTest::addColumn<bool>("insert"); // a line inserted after "alpha"; else "alpha" dragged down
    QTest::newRow("insert after alpha") << true;
    QTest::newRow("alpha dragged down") << false;
}

// On a page laid out with no gaps, A's change renumbers every block, "gamma" among them, which B has
// deleted: the move of a block the service no longer has is not sent, and the block stays gone.
void TestPageSyncTwoDevices::aReorderNeverBringsBackADeletedBlock()
{
    QFETCH(bool, insert);
    QVERIFY(!sharedPage({"alpha", "beta", "gamma", "delta"}, /*gapless=*/true).isEmpty());
    m_b->deleteBlock(blockOn(*m_b, "gamma"));
    QVERIFY(settle(*m_b));
    QCOMPARE(textsOnService(), (QStringList{"alpha", "beta", "delta"}));

    QStringList meant;
    if (insert) {
        m_a->insertBlockAfter(blockOn(*m_a, "alpha"), QStringLiteral("new"));
        meant = QStringList{"alpha", "new", "beta", "delta"};
    } else {
        m_a->moveBlock(blockOn(*m_a, "alpha"), 2);
        meant = QStringList{"beta", "alpha", "delta"};
    }
    QVERIFY(settle(*m_a));
    QVERIFY(settle(*m_b));
    QCOMPARE(textsOnService(), meant);
    QCOMPARE(textsOn(*m_a), meant);
    QCOMPARE(textsOn(*m_b), meant);
}

void TestPageSyncTwoDevices::everyDeviceShowsOneOrder_data()
{
    QTest::addColumn<int>("lines"); // each device inserts this many after "alpha"; 0 appends one
    QTest::addColumn<bool>("aFirst");
    for (const bool aFirst : {true, false}) {
        const char *first = aFirst ? "A pushes first" : "B pushes first";
        QTest::addRow("one line after alpha, %s", first) << 1 << aFirst;
        QTest::addRow("one line at the end, %s", first) << 0 << aFirst;
        QTest::addRow("enough lines after alpha to renumber, %s", first) << 14 << aFirst;
    }
}

// Both devices add at one spot before either has seen the other's: after a sync both show the
// service's order, the same lines in the same places.
void TestPageSyncTwoDevices::everyDeviceShowsOneOrder()
{
    QFETCH(int, lines);
    QFETCH(bool, aFirst);
    QVERIFY(!sharedPage({"alpha", "omega"}).isEmpty());
    for (ChaosDevice *d : {m_a.get(), m_b.get()}) {
        const QString name = d == m_a.get() ? QStringLiteral("A") : QStringLiteral("B");
        if (lines == 0) {
            d->addBlock(d->store().pageWithServerID(m_pageID)->localID, name + QStringLiteral(" end"));
            continue;
        }
        QString after = blockOn(*d, "alpha");
        for (int i = 0; i < lines; ++i)
            after = *d->insertBlockAfter(after, QStringLiteral("%1 %2").arg(name).arg(i));
    }
    ChaosDevice &first = aFirst ? *m_a : *m_b;
    ChaosDevice &second = aFirst ? *m_b : *m_a;
    QVERIFY(settle(first));
    QVERIFY(settle(second));
    QVERIFY(settle(first));

    const QStringList service = textsOnService();
    QCOMPARE(service.size(), 2 + 2 * std::max(lines, 1));
    QCOMPARE(textsOn(*m_a), service);
    QCOMPARE(textsOn(*m_b), service);
    // Each device's run of lines keeps its own order.
    QVERIFY2(runsKeepTheirOrder(service, lines), qPrintable(service.join(QLatin1Char('|'))));
}

void TestPageSyncTwoDevices::marksGoWithTheirPage()
{
    QVERIFY(!sharedPage({"alpha", "beta"}).isEmpty());
    // Typed, then the page deleted before its edits were queued.
    m_a->editBlock(blockOn(*m_a, "alpha"), QStringLiteral("alpha typed"));
    m_a->deletePage(m_pageA);
    QVERIFY(settle(*m_a));
    QVERIFY(m_a->store().state().editedBlocks.empty());
    QVERIFY(m_a->store().state().fillChecks.empty());
}

void TestPageSyncTwoDevices::anEditBeatsADeleteAtEveryDepth_data()
{
    // Under "top", deleted on B: "mid" with "low" under it, and "other"; A types into one of the three.
    QTest::addColumn<int>("depth");     // 0 "top", 1 "mid", 2 "low"
    QTest::addColumn<bool>("addsLine"); // A also adds a line inside the one it types into
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("the deleted block typed") << 0 << false << QStringList{"keep", "top typed"};
    QTest::newRow("the deleted block typed, a line added in it")
        << 0 << true << QStringList{"keep", "top typed", "top typed/added"};
    QTest::newRow("a block inside typed") << 1 << false << QStringList{"keep", "top", "top/mid typed"};
    QTest::newRow("a block inside typed, a line added in it")
        << 1 << true << QStringList{"keep", "mid typed/added", "top", "top/mid typed"};
    QTest::newRow("a block two deep typed")
        << 2 << false << QStringList{"keep", "mid/low typed", "top", "top/mid"};
}

void TestPageSyncTwoDevices::anEditBeatsADeleteAtEveryDepth()
{
    QFETCH(int, depth);
    QFETCH(bool, addsLine);
    QFETCH(QStringList, expected);
    QVERIFY(!sharedPage({"top", "keep"}).isEmpty());
    QStringList chain{blockOn(*m_a, "top")};
    chain << *m_a->addChildBlock(chain.last(), QStringLiteral("mid"));
    chain << *m_a->addChildBlock(chain.last(), QStringLiteral("low"));
    QVERIFY(m_a->addChildBlock(chain.first(), QStringLiteral("other")));
    for (ChaosDevice *d : {m_a.get(), m_b.get(), m_a.get(), m_b.get()})
        QVERIFY(settle(*d));
    QCOMPARE(treeOn(*m_b), (QStringList{"keep", "mid/low", "top", "top/mid", "top/other"}));

    m_b->deleteBlock(blockOn(*m_b, "top"));
    QVERIFY(settle(*m_b));
    QCOMPARE(treeOnService(), QStringList{"keep"});
    const QString typed = TestDevice::textOf(*m_a->store().block(chain[depth])) + QStringLiteral(" typed");
    m_a->editBlock(chain[depth], typed);
    if (addsLine)
        QVERIFY(m_a->addChildBlock(chain[depth], QStringLiteral("added")));
    for (ChaosDevice *d : {m_a.get(), m_a.get(), m_b.get(), m_a.get(), m_b.get()})
        QVERIFY(settle(*d));

    QCOMPARE(treeOnService(), expected);
    QCOMPARE(treeOn(*m_a), expected);
    QCOMPARE(treeOn(*m_b), expected);
    QVERIFY(m_a->store().state().outbox.empty());
}

QTEST_MAIN(TestPageSyncTwoDevices)
#include "tst_page_sync_two_devices.moc"
