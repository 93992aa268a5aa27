#include "fake-service/fake_service.h"
#include "support/chaos_device.h"
#include "support/chaos_order.h"
#include "support/page_sync_steps.h"
#include "support/test_device.h"

#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox.h"

#include <QFileInfo>
#include <QTest>

#include <functional>
#include <memory>

// Two devices of one account type lines into one page through its editor where the blocks leave no
// room between them: room is made by moving a few blocks, never over a place the other device chose,
// a block only moved here stays deleted when the other device deletes it, and each cycle asks the
// feed once.
class TestPageRoomSync : public QObject, protected PageSyncPair
{
    Q_OBJECT
public:
    enum class Moment { beforeThePull, betweenPullAndPush };

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void roomMovesOnlyTheNearestBlocks();
    void roomGivesWayToThePlaceAnotherDeviceChose_data();
    void roomGivesWayToThePlaceAnotherDeviceChose();
    void bothDevicesRunningOutOfRoomKeepTheirLinesInPlace_data();
    void bothDevicesRunningOutOfRoomKeepTheirLinesInPlace();
    void linesAtOnePositionListAsTheServiceDoes_data();
    void linesAtOnePositionListAsTheServiceDoes();
    void aBlockOnlyMovedHereStaysDeleted_data();
    void aBlockOnlyMovedHereStaysDeleted();
    void aRunOfLinesStaysTogether_data();
    void aRunOfLinesStaysTogether();
    void bothDevicesTypingAtOneSpotKeepTheirRunsTogether_data();
    void bothDevicesTypingAtOneSpotKeepTheirRunsTogether();
    void aLineStaysAfterTheBlockItWasTypedAfter_data();
    void aLineStaysAfterTheBlockItWasTypedAfter();
    void roomOnAPageNumberedOneApartMovesTheNearerEnd_data();
    void roomOnAPageNumberedOneApartMovesTheNearerEnd();
    void anUpsertWaitingItsTurnCostsOnePullACycle();
    void theEditGoesOnceTheFeedAnswersAgain();
    void aResentLineGoesWithItsID();

private:
    // On a shared [alpha, omega], each device types `lines` lines, each after its last, the first
    // after "alpha" ("A 0", "B 0", ...); `afterLine(i)` runs after the two i-th lines. False when the
    // page is not shared or `afterLine` fails.
    bool typeTwoRunsAfterAlpha(int lines, const std::function<bool(int)> &afterLine);
    // Once both devices have settled: both runs between alpha and omega on the service, each device
    // listing the page as the service does, and `kept` holding of the service's list.
    void checkTwoRunsLanded(int lines, const std::function<bool(const QStringList &, int)> &kept);
};

Q_DECLARE_METATYPE(TestPageRoomSync::Moment)

namespace {

QStringList numbered(const QString &name, int count)
{
    QStringList out;
    for (int i = 0; i < count; ++i)
        out << QStringLiteral("%1 %2").arg(name).arg(i);
    return out;
}

} // namespace

void TestPageRoomSync::initTestCase()
{
    QVERIFY(startService());
}

void TestPageRoomSync::init()
{
    newAccount(QStringLiteral("Room"));
}

void TestPageRoomSync::cleanup()
{
    endDevices();
}

// Lines typed one after another in the middle of a page run out of room now and then: each time
// only a few blocks move, the rest keep their places on the service, and no upsert carries the page.
void TestPageRoomSync::roomMovesOnlyTheNearestBlocks()
{
    const QStringList page = numbered(QStringLiteral("line"), 60);
    QVERIFY(!sharedPage(page).isEmpty());
    QHash<qint64, qint64> before; // server id -> position
    for (const auto *b : chaosServiceOrder(m_fake.state(), m_pageID))
        before.insert(b->id, b->position);

    QString after = blockOn(*m_a, "line 30");
    const QStringList typed = numbered(QStringLiteral("typed"), 40);
    for (const QString &text : typed) {
        after = *m_a->insertBlockAfter(after, text);
        QVERIFY(settle(*m_a));
    }
    QStringList meant = page;
    for (int i = 0; i < typed.size(); ++i)
        meant.insert(31 + i, typed[i]);
    QCOMPARE(textsOnService(), meant);
    QCOMPARE(textsOn(*m_a), meant);
    QVERIFY(settle(*m_b));
    QCOMPARE(textsOn(*m_b), meant);

    int moved = 0;
    for (const auto *b : chaosServiceOrder(m_fake.state(), m_pageID))
        moved += before.contains(b->id) && before.value(b->id) != b->position ? 1 : 0;
    QVERIFY2(moved <= 6, qPrintable(QString::number(moved)));
    for (const HttpRequest &r : m_fake.requestsTo(kBlocks))
        QVERIFY2(r.body.count("client_id") <= 8, r.body.constData());
}

void TestPageRoomSync::roomGivesWayToThePlaceAnotherDeviceChose_data()
{
    QTest::addColumn<bool>("drag"); // B drags "gamma" to the top; else B adds a line after "delta"
    QTest::addColumn<Moment>("moment");
    for (const bool drag : {true, false}) {
        const char *what = drag ? "B drags the block A moves" : "B adds a line among those A moves";
        QTest::addRow("%s, before A pulls", what) << drag << Moment::beforeThePull;
        QTest::addRow("%s, between A's pull and push", what) << drag << Moment::betweenPullAndPush;
    }
}

// On a page with no gaps A's new line after "beta" moves its neighbours to make room while B drags
// one of them, or adds a line after one: B's choice stands on the service and both devices.
void TestPageRoomSync::roomGivesWayToThePlaceAnotherDeviceChose()
{
    QFETCH(bool, drag);
    QFETCH(Moment, moment);
    QVERIFY(!sharedPage({"alpha", "beta", "gamma", "delta", "epsilon", "zeta"}, /*gapless=*/true).isEmpty());

    const auto bChooses = [&] {
        if (drag)
            m_b->moveBlock(blockOn(*m_b, "gamma"), 0);
        else
            m_b->insertBlockAfter(blockOn(*m_b, "delta"), QStringLiteral("B's line"));
        QVERIFY(settle(*m_b));
    };
    if (moment == Moment::beforeThePull)
        bChooses();
    // A's pull before its push is answered as the service is now, and held.
    auto held = FakeService::Fault::held();
    held.remaining = 1;
    if (moment == Moment::betweenPullAndPush)
        m_fake.setFault(kSync, held);
    const int pulls = requestCount(kSync);
    m_a->insertBlockAfter(blockOn(*m_a, "beta"), QStringLiteral("A's line"));
    if (moment == Moment::betweenPullAndPush) {
        QTRY_COMPARE_WITH_TIMEOUT(requestCount(kSync), pulls + 1, kWait);
        bChooses();
        m_fake.releaseHeldAnswers();
    }
    QVERIFY(settle(*m_a));
    QVERIFY(settle(*m_b));
    QVERIFY(settle(*m_a));

    const QStringList meant =
        drag ? QStringList{"gamma", "alpha", "beta", "A's line", "delta", "epsilon", "zeta"}
             : QStringList{"alpha", "beta", "A's line", "gamma", "delta", "B's line", "epsilon", "zeta"};
    QCOMPARE(textsOnService(), meant);
    QCOMPARE(textsOn(*m_a), meant);
    QCOMPARE(textsOn(*m_b), meant);
    QVERIFY(m_a->store().state().editedBlocks.empty());
    // Each room move landed or gave way: nothing is left to check, in the saved file either.
    QCOMPARE(m_a->store().state().fillChecks.size(), size_t(0));
    QCOMPARE(m_b->store().state().fillChecks.size(), size_t(0));
    m_a->store().save();
    QCOMPARE(LocalStore(QFileInfo(m_a->store().url()).absolutePath()).state().fillChecks.size(), size_t(0));
}

bool TestPageRoomSync::typeTwoRunsAfterAlpha(int lines, const std::function<bool(int)> &afterLine)
{
    if (sharedPage({"alpha", "omega"}).isEmpty())
        return false;
    QString afterA = blockOn(*m_a, "alpha");
    QString afterB = blockOn(*m_b, "alpha");
    for (int i = 0; i < lines; ++i) {
        afterA = *m_a->insertBlockAfter(afterA, QStringLiteral("A %1").arg(i));
        afterB = *m_b->insertBlockAfter(afterB, QStringLiteral("B %1").arg(i));
        if (!afterLine(i))
            return false;
    }
    return true;
}

void TestPageRoomSync::checkTwoRunsLanded(int lines,
                                          const std::function<bool(const QStringList &, int)> &kept)
{
    for (ChaosDevice *d : {m_a.get(), m_b.get(), m_a.get(), m_b.get()})
        QVERIFY(settle(*d));

    const QStringList service = textsOnService();
    QCOMPARE(service.size(), 2 + 2 * lines);
    QCOMPARE(service.front(), QStringLiteral("alpha"));
    QVERIFY2(service.back() == QStringLiteral("omega"), qPrintable(service.join(QLatin1Char('|'))));
    QCOMPARE(textsOn(*m_a), service);
    QCOMPARE(textsOn(*m_b), service);
    QVERIFY2(kept(service, lines), qPrintable(service.join(QLatin1Char('|'))));
}

void TestPageRoomSync::bothDevicesRunningOutOfRoomKeepTheirLinesInPlace_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("syncEachLine");
    // It went wrong only now and then: each row runs afresh, with other random places.
    for (int run = 1; run <= 4; ++run) {
        QTest::addRow("typed offline, run %d", run) << 16 << false;
        QTest::addRow("synced line by line, run %d", run) << 12 << true;
    }
}

// Both devices type lines after "alpha" on [alpha, omega] until neither has room left there: every
// line stays between the two, in the order its device typed it, on every copy.
void TestPageRoomSync::bothDevicesRunningOutOfRoomKeepTheirLinesInPlace()
{
    QFETCH(int, lines);
    QFETCH(bool, syncEachLine);
    QVERIFY(typeTwoRunsAfterAlpha(lines, [&](int) {
        if (syncEachLine) {
            m_a->sync();
            m_b->sync();
        }
        return true;
    }));
    checkTwoRunsLanded(lines, runsKeepTheirOrder);
}

void TestPageRoomSync::linesAtOnePositionListAsTheServiceDoes_data()
{
    QTest::addColumn<int>("lostAnswers"); // the first upserts' answers lost: their lines come by echo
    QTest::addColumn<bool>("aFirst");
    for (const int lost : {0, 1, 2}) {
        QTest::addRow("%d answers lost, A pushes first", lost) << lost << true;
        QTest::addRow("%d answers lost, B pushes first", lost) << lost << false;
    }
}

// Each device adds a line after "alpha" and both land on one position: whether a device learns its
// line's id from the answer or from the echo, both list the two lines as the service does.
void TestPageRoomSync::linesAtOnePositionListAsTheServiceDoes()
{
    QFETCH(int, lostAnswers);
    QFETCH(bool, aFirst);
    QVERIFY(!sharedPage({"alpha", "omega"}).isEmpty());
    if (lostAnswers > 0) {
        auto lost = FakeService::Fault::applyThenDrop();
        lost.remaining = lostAnswers;
        m_fake.setFault(kBlocks, lost);
    }
    const qint64 position = m_a->store().block(blockOn(*m_a, "alpha"))->position + 100;
    ChaosDevice &first = aFirst ? *m_a : *m_b;
    ChaosDevice &second = aFirst ? *m_b : *m_a;
    for (ChaosDevice *d : {&first, &second}) {
        const QString name = d == m_a.get() ? QStringLiteral("A line") : QStringLiteral("B line");
        const QString line = *d->insertBlockAfter(blockOn(*d, "alpha"), name);
        d->store().editBlock(line, [&](FNBlock &b) { b.position = position; });
        QVERIFY(settle(*d));
    }
    QVERIFY(settle(first));
    QVERIFY(settle(second));
    QVERIFY(settle(first));

    const QStringList service = textsOnService();
    QCOMPARE(service.size(), 4);
    QCOMPARE(textsOn(*m_a), service);
    QCOMPARE(textsOn(*m_b), service);
}

void TestPageRoomSync::aBlockOnlyMovedHereStaysDeleted_data()
{
    QTest::addColumn<bool>("answerLost");
    QTest::newRow("answered") << false;
    QTest::newRow("answer lost") << true;
}

// B deletes "gamma" between A's pull and A's push, which sends gamma's new place by its old id: the
// service makes it anew, and A deletes that copy rather than bring the block back.
void TestPageRoomSync::aBlockOnlyMovedHereStaysDeleted()
{
    QFETCH(bool, answerLost);
    QVERIFY(!sharedPage({"alpha", "beta", "gamma", "delta"}).isEmpty());
    auto held = FakeService::Fault::held();
    held.remaining = 1;
    m_fake.setFault(kSync, held);
    const int pulls = requestCount(kSync);
    m_a->moveBlock(blockOn(*m_a, "gamma"), 0);
    QTRY_COMPARE_WITH_TIMEOUT(requestCount(kSync), pulls + 1, kWait);
    m_b->deleteBlock(blockOn(*m_b, "gamma"));
    QVERIFY(settle(*m_b));
    if (answerLost) {
        auto lost = FakeService::Fault::applyThenDrop();
        lost.remaining = 1;
        m_fake.setFault(kBlocks, lost);
    }
    const int upserts = requestCount(kBlocks);
    m_fake.releaseHeldAnswers();
    QTRY_VERIFY_WITH_TIMEOUT(requestCount(kBlocks) > upserts, kWait);
    QVERIFY(settle(*m_a));
    QVERIFY(settle(*m_b));
    QVERIFY(settle(*m_a));

    const QStringList meant{"alpha", "beta", "delta"};
    QCOMPARE(textsOnService(), meant);
    QCOMPARE(textsOn(*m_a), meant);
    QCOMPARE(textsOn(*m_b), meant);
    QVERIFY(m_a->store().state().outbox.empty());
}

void TestPageRoomSync::aRunOfLinesStaysTogether_data()
{
    QTest::addColumn<int>("bAfter");   // B moves r5 and types after it once A has typed this many lines
    QTest::addColumn<bool>("aOnline"); // A's lines go out one by one; else all together at the end
    for (int run = 1; run <= 2; ++run) {
        QTest::addRow("A offline, B first, run %d", run) << 0 << false;
        QTest::addRow("A offline, B midway, run %d", run) << 7 << false;
        QTest::addRow("A online, B midway, run %d", run) << 7 << true;
    }
}

// A clicks at the end of r2 and types 15 lines; B drags r5 between r2 and r3 and types a line after
// it: A's lines stay one run right after r2, and B's line stays right after r5, on every copy.
void TestPageRoomSync::aRunOfLinesStaysTogether()
{
    QFETCH(int, bAfter);
    QFETCH(bool, aOnline);
    const QStringList page{"r1", "r2", "r3", "r4", "r5", "r6", "r7"};
    QVERIFY(!sharedPage(page).isEmpty());
    const auto bActs = [&] {
        QStringList shown = textsOn(*m_b);
        shown.removeAll(QStringLiteral("r5"));
        m_b->moveBlock(blockOn(*m_b, "r5"), int(shown.indexOf(QStringLiteral("r3"))));
        QVERIFY(m_b->insertBlockAfter(blockOn(*m_b, "r5"), QStringLiteral("B's line")));
    };
    QString after = blockOn(*m_a, "r2");
    QStringList run;
    for (int i = 0; i < 15; ++i) {
        if (i == bAfter)
            bActs();
        run << QStringLiteral("A %1").arg(i);
        after = *m_a->insertBlockAfter(after, run.back());
        if (aOnline)
            QVERIFY(settle(*m_a));
    }
    for (ChaosDevice *d : {m_a.get(), m_b.get(), m_a.get(), m_b.get()})
        QVERIFY(settle(*d));

    const QStringList meant =
        QStringList{"r1", "r2"} + run + QStringList{"r5", "B's line", "r3", "r4", "r6", "r7"};
    QCOMPARE(textsOnService(), meant);
    QCOMPARE(textsOn(*m_a), meant);
    QCOMPARE(textsOn(*m_b), meant);
}

void TestPageRoomSync::bothDevicesTypingAtOneSpotKeepTheirRunsTogether_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("linesBetweenCycles");
    for (int run = 1; run <= 3; ++run) {
        QTest::addRow("typed offline, run %d", run) << 12 << 12;
        QTest::addRow("three lines a cycle, run %d", run) << 9 << 3;
        QTest::addRow("synced line by line, run %d", run) << 6 << 1;
    }
}

// Both devices type a run of lines after "alpha" at the same time: each run stays one stretch, in the
// order it was typed, whichever device's cycle comes first.
void TestPageRoomSync::bothDevicesTypingAtOneSpotKeepTheirRunsTogether()
{
    QFETCH(int, lines);
    QFETCH(int, linesBetweenCycles);
    QVERIFY(typeTwoRunsAfterAlpha(lines, [&](int i) {
        if ((i + 1) % linesBetweenCycles != 0)
            return true;
        m_a->sync();
        m_b->sync();
        return QTest::qWaitFor([&] { return !m_a->isBusy() && !m_b->isBusy(); }, kWait);
    }));
    checkTwoRunsLanded(lines, runsStayTogether);
}

void TestPageRoomSync::aLineStaysAfterTheBlockItWasTypedAfter_data()
{
    // On a page numbered one apart B's line makes room after `bAfter`; with none, B respaces the
    // blocks from the third on a gap apart, as a client that numbers them its own way writes them.
    QTest::addColumn<QString>("bAfter");
    QTest::addColumn<QString>("aAfter");
    QTest::addColumn<QStringList>("meant");
    QTest::addColumn<bool>("aLandsFirst"); // A's line lands, then B's moves; else the other way round
    for (const bool aFirst : {false, true}) {
        const char *order = aFirst ? "A's line lands first" : "B's moves land first";
        QTest::addRow("after a block B moved to make room, %s", order)
            << "b5"
            << "b6" << QStringList{"b0", "b1", "b2", "b3", "b4", "b5", "B's line", "b6", "A's line", "b7"}
            << aFirst;
        QTest::addRow("after a block B moved further down, %s", order)
            << "b4"
            << "b6" << QStringList{"b0", "b1", "b2", "b3", "b4", "B's line", "b5", "b6", "A's line", "b7"}
            << aFirst;
        QTest::addRow("after a block B moved, before one it did not, %s", order)
            << "b4"
            << "b7" << QStringList{"b0", "b1", "b2", "b3", "b4", "B's line", "b5", "b6", "b7", "A's line"}
            << aFirst;
        QTest::addRow("after B's line's neighbour, on the other side, %s", order)
            << "b1"
            << "b0" << QStringList{"b0", "A's line", "b1", "B's line", "b2", "b3", "b4", "b5", "b6", "b7"}
            << aFirst;
        QTest::addRow("after a block B respaced, %s", order)
            << ""
            << "b5" << QStringList{"b0", "b1", "b2", "b3", "b4", "b5", "A's line", "b6", "b7"} << aFirst;
    }
}

// B moves blocks of the page; before A has heard of it, A types a line after one of them: A's line
// stays right after that block, wherever B put it, whichever lands first.
void TestPageRoomSync::aLineStaysAfterTheBlockItWasTypedAfter()
{
    QFETCH(QString, bAfter);
    QFETCH(QString, aAfter);
    QFETCH(QStringList, meant);
    QFETCH(bool, aLandsFirst);
    QVERIFY(!sharedPage(numbered(QStringLiteral("b"), 8).replaceInStrings(QStringLiteral(" "), QString()),
                        /*gapless=*/true)
                 .isEmpty());
    const auto bMoves = [&] {
        if (!bAfter.isEmpty()) {
            QVERIFY(m_b->insertBlockAfter(blockOn(*m_b, bAfter), QStringLiteral("B's line")));
        } else {
            const QString page = m_b->store().pageWithServerID(m_pageID)->localID;
            QStringList respaced;
            for (int i = 2; i < 8; ++i) {
                respaced << blockOn(*m_b, QStringLiteral("b%1").arg(i));
                m_b->store().editBlock(respaced.back(),
                                       [&](FNBlock &b) { b.position = i * kBlockPositionGap; });
            }
            Outbox::of(m_b->store()).blocksEdited(page, respaced, BlockFields::Place);
            Outbox::of(m_b->store()).pageBlocksUpsert(page);
        }
        QVERIFY(settle(*m_b));
    };
    if (!aLandsFirst)
        bMoves();
    // A's line lands, and its cycle waits for the answer while B's moves land after it.
    auto held = FakeService::Fault::held();
    held.remaining = 1;
    if (aLandsFirst)
        m_fake.setFault(kBlocks, held);
    const int upserts = requestCount(kBlocks);
    QVERIFY(m_a->insertBlockAfter(blockOn(*m_a, aAfter), QStringLiteral("A's line")));
    if (aLandsFirst) {
        QTRY_COMPARE_WITH_TIMEOUT(requestCount(kBlocks), upserts + 1, kWait);
        bMoves();
        m_fake.releaseHeldAnswers();
    }
    for (ChaosDevice *d : {m_a.get(), m_b.get(), m_a.get()})
        QVERIFY(settle(*d));

    QCOMPARE(textsOnService(), meant);
    QCOMPARE(textsOn(*m_a), meant);
    QCOMPARE(textsOn(*m_b), meant);
}

void TestPageRoomSync::roomOnAPageNumberedOneApartMovesTheNearerEnd_data()
{
    QTest::addColumn<int>("after"); // the index of the block the line is typed after
    QTest::addColumn<int>("mostMoved");
    QTest::newRow("after the 5th of 60") << 4 << 5;
    QTest::newRow("after the 55th of 60") << 54 << 5;
    QTest::newRow("after the 30th of 60") << 29 << 30;
}

// On a page numbered 0, 1, 2... the first line typed moves the blocks between it and the nearer end
// of the page, no more; every copy lists it where it was typed.
void TestPageRoomSync::roomOnAPageNumberedOneApartMovesTheNearerEnd()
{
    QFETCH(int, after);
    QFETCH(int, mostMoved);
    const QStringList page = numbered(QStringLiteral("line"), 60);
    QVERIFY(!sharedPage(page, /*gapless=*/true).isEmpty());
    QVERIFY(m_a->insertBlockAfter(blockOn(*m_a, page[after]), QStringLiteral("typed")));
    QVERIFY(settle(*m_a));
    QVERIFY(settle(*m_b));

    QStringList meant = page;
    meant.insert(after + 1, QStringLiteral("typed"));
    QCOMPARE(textsOnService(), meant);
    QCOMPARE(textsOn(*m_b), meant);
    qsizetype sent = 0;
    for (const HttpRequest &r : m_fake.requestsTo(kBlocks))
        sent += r.body.count("client_id");
    QVERIFY2(sent >= 2 && sent <= mostMoved + 1, qPrintable(QString::number(sent)));
}

// An upsert that fills fields waits out its back-off after the service failed it: the cycles
// meanwhile ask the feed once each, not once more for a push that is not due.
void TestPageRoomSync::anUpsertWaitingItsTurnCostsOnePullACycle()
{
    QVERIFY(!sharedPage({"alpha", "beta", "gamma"}).isEmpty());
    const QDateTime fixed = QDateTime::currentDateTimeUtc();
    m_a = device([fixed] { return fixed; }); // its back-off never passes
    QVERIFY(settle(*m_a));
    auto failing = FakeService::Fault::http(500, "{\"error\":\"Down.\"}");
    failing.remaining = 1;
    m_fake.setFault(kBlocks, failing);
    m_a->editBlock(blockOn(*m_a, "beta"), QStringLiteral("beta typed"));
    QTRY_COMPARE_WITH_TIMEOUT(requestCount(kBlocks), 1, kWait);
    QVERIFY(QTest::qWaitFor([&] { return !m_a->isBusy(); }, kWait));
    QVERIFY(m_a->store().state().outbox.front().nextRetryAt.has_value());

    const int pulls = requestCount(kSync);
    for (int i = 0; i < 6; ++i) {
        m_a->sync();
        QVERIFY(QTest::qWaitFor([&] { return !m_a->isBusy(); }, kWait));
    }
    QCOMPARE(requestCount(kSync), pulls + 6);
    QCOMPARE(requestCount(kBlocks), 1);
}

// While the feed fails, the edit that needs it waits; the first cycle whose feed answers sends it,
// with no back-off left over from the feed's failures.
void TestPageRoomSync::theEditGoesOnceTheFeedAnswersAgain()
{
    QVERIFY(!sharedPage({"alpha", "beta", "gamma"}).isEmpty());
    const QDateTime fixed = QDateTime::currentDateTimeUtc();
    m_a = device([fixed] { return fixed; });
    QVERIFY(settle(*m_a));
    m_fake.setFault(kSync, FakeService::Fault::http(503, "{\"error\":\"Busy.\"}"));
    const int pulls = requestCount(kSync);
    m_a->moveBlock(blockOn(*m_a, "alpha"), 2);
    for (int i = 0; i < 4; ++i) {
        QVERIFY(QTest::qWaitFor([&] { return !m_a->isBusy(); }, kWait));
        m_a->sync();
    }
    QVERIFY(QTest::qWaitFor([&] { return !m_a->isBusy(); }, kWait));
    QCOMPARE(requestCount(kBlocks), 0);
    QVERIFY(requestCount(kSync) <= pulls + 5); // one a cycle

    m_fake.clearFaults();
    m_a->sync();
    QTRY_COMPARE_WITH_TIMEOUT(requestCount(kBlocks), 1, kWait);
    QVERIFY(QTest::qWaitFor([&] { return !m_a->isBusy(); }, kWait));
    QCOMPARE(textsOnService(), (QStringList{"beta", "gamma", "alpha"}));
}

// A new line's upsert lands but its answer is lost, and so is the pull after it: the next cycle pulls
// before it sends again, so the line is known by its id and not sent as new a second time.
void TestPageRoomSync::aResentLineGoesWithItsID()
{
    QVERIFY(!sharedPage({"alpha", "beta"}).isEmpty());
    auto lost = FakeService::Fault::applyThenDrop();
    lost.remaining = 1;
    m_fake.setFault(kBlocks, lost);
    auto feedDown = FakeService::Fault::http(500, "{\"error\":\"Down.\"}");
    feedDown.remaining = 1;
    m_fake.setFault(kSync, feedDown);
    const QString line = *m_a->insertBlockAfter(blockOn(*m_a, "alpha"), QStringLiteral("new line"));
    QTRY_COMPARE_WITH_TIMEOUT(requestCount(kBlocks), 1, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(requestCount(kSync), 1, kWait);
    QVERIFY(QTest::qWaitFor([&] { return !m_a->isBusy(); }, kWait));
    QCOMPARE(m_a->store().block(line)->serverID, 0);

    m_fake.clearFaults();
    const int from = int(m_fake.requests().size());
    QVERIFY(settle(*m_a));
    const auto requests = m_fake.requests();
    bool pulled = false;
    for (int i = from; i < requests.size(); ++i) {
        pulled = pulled || requests[i].target.startsWith(kSync.toUtf8());
        if (requests[i].target.startsWith(kBlocks.toUtf8()))
            QVERIFY2(pulled, "sent again before a pull");
    }
    for (const HttpRequest &r : m_fake.requestsTo(kBlocks))
        QVERIFY2(r.body.count("new line") <= 1, r.body.constData());
    QVERIFY(m_a->store().block(line)->serverID != 0);
    QCOMPARE(textsOnService(), (QStringList{"alpha", "new line", "beta"}));
    QCOMPARE(textsOn(*m_a), textsOnService());
}

QTEST_MAIN(TestPageRoomSync)
#include "tst_page_room_sync.moc"
