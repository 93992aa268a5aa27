#include "fake-service/fake_service.h"
#include "support/chaos_device.h"
#include "support/page_sync_steps.h"

#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox.h"

#include <QTest>

#include <limits>

// Two devices of one account write into one page through its editor: a line stays where it was typed,
// whatever positions the other device wrote (the ends of the range included), and a line typed while
// a cycle is out stays with the run of lines it was typed in.
class TestPageLinePlaces : public QObject, protected PageSyncPair
{
    Q_OBJECT
public:
    enum class Action { typeAfterAlpha, typeAfterOmega, dragOmegaToTheTop };

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void aLineGoesWhereItWasTypedAtTheEndsOfTheRange_data();
    void aLineGoesWhereItWasTypedAtTheEndsOfTheRange();
    void aLineTypedWhileTheCycleIsOutStaysWithItsRun_data();
    void aLineTypedWhileTheCycleIsOutStaysWithItsRun();

private:
    // B gives the page's blocks these positions, as a client that numbers them its own way would.
    void bWrites(const QHash<QString, qint64> &positions);
};

Q_DECLARE_METATYPE(TestPageLinePlaces::Action)

namespace {

constexpr qint64 kMin = std::numeric_limits<qint64>::min();
constexpr qint64 kMax = std::numeric_limits<qint64>::max();

} // namespace

void TestPageLinePlaces::initTestCase()
{
    QVERIFY(startService());
}

void TestPageLinePlaces::init()
{
    newAccount(QStringLiteral("Places"));
}

void TestPageLinePlaces::cleanup()
{
    endDevices();
}

void TestPageLinePlaces::bWrites(const QHash<QString, qint64> &positions)
{
    const QString page = m_b->store().pageWithServerID(m_pageID)->localID;
    QStringList ids;
    for (auto it = positions.cbegin(); it != positions.cend(); ++it) {
        ids << blockOn(*m_b, it.key());
        const qint64 position = it.value();
        m_b->store().editBlock(ids.back(), [&](FNBlock &b) { b.position = position; });
    }
    Outbox::of(m_b->store()).blocksEdited(page, ids, BlockFields::Place);
    Outbox::of(m_b->store()).pageBlocksUpsert(page);
}

void TestPageLinePlaces::aLineGoesWhereItWasTypedAtTheEndsOfTheRange_data()
{
    QTest::addColumn<qint64>("alphaAt"); // as B writes them
    QTest::addColumn<qint64>("omegaAt");
    QTest::addColumn<Action>("action"); // then A, through its editor
    QTest::addColumn<QStringList>("meant");

    const QStringList afterOmega{"alpha", "omega", "A's line"};
    QTest::newRow("after the last, near the top of the range")
        << qint64(0) << kMax - 101 << Action::typeAfterOmega << afterOmega;
    QTest::newRow("after the last, at the top of the range")
        << qint64(0) << kMax << Action::typeAfterOmega << afterOmega;
    QTest::newRow("between the ends of the range")
        << kMin << kMax << Action::typeAfterAlpha << QStringList{"alpha", "A's line", "omega"};
    QTest::newRow("after the last, the first at the bottom of the range")
        << kMin << kMax << Action::typeAfterOmega << afterOmega;
    QTest::newRow("dragged above the first, at the bottom of the range")
        << kMin << kMin + 1 << Action::dragOmegaToTheTop << QStringList{"omega", "alpha"};
}

// B writes positions at the ends of the range, as the service lets any client: A's line goes where A
// typed it, and the page lists alike on the service and both devices.
void TestPageLinePlaces::aLineGoesWhereItWasTypedAtTheEndsOfTheRange()
{
    QFETCH(qint64, alphaAt);
    QFETCH(qint64, omegaAt);
    QFETCH(Action, action);
    QFETCH(QStringList, meant);
    QVERIFY(!sharedPage({"alpha", "omega"}).isEmpty());
    bWrites({{QStringLiteral("alpha"), alphaAt}, {QStringLiteral("omega"), omegaAt}});
    QVERIFY(settle(*m_b));
    QVERIFY(settle(*m_a));
    QCOMPARE(m_a->store().block(blockOn(*m_a, "omega"))->position, omegaAt);

    switch (action) {
    case Action::typeAfterAlpha:
        QVERIFY(m_a->insertBlockAfter(blockOn(*m_a, "alpha"), QStringLiteral("A's line")));
        break;
    case Action::typeAfterOmega:
        QVERIFY(m_a->insertBlockAfter(blockOn(*m_a, "omega"), QStringLiteral("A's line")));
        break;
    case Action::dragOmegaToTheTop:
        m_a->moveBlock(blockOn(*m_a, "omega"), 0);
        break;
    }
    for (ChaosDevice *d : {m_a.get(), m_b.get(), m_a.get()})
        QVERIFY(settle(*d));

    QCOMPARE(textsOnService(), meant);
    QCOMPARE(textsOn(*m_a), meant);
    QCOMPARE(textsOn(*m_b), meant);
}

void TestPageLinePlaces::aLineTypedWhileTheCycleIsOutStaysWithItsRun_data()
{
    QTest::addColumn<qint64>("pPast");   // how far past "alpha" the other client writes its line "p"
    QTest::addColumn<int>("linesFirst"); // A's lines typed before the cycle; one more while it is out
    QTest::addColumn<bool>("pFirst");    // p comes straight after alpha; else right after A's lines
    QTest::addColumn<int>("typedAfter"); // the line the last is typed after; -1: the last typed

    // Where the room after alpha is too narrow for A's lines, they go after p.
    QTest::newRow("p one past alpha") << qint64(1) << 1 << true << -1;
    QTest::newRow("p eight past alpha") << qint64(8) << 1 << false << -1;
    QTest::newRow("p one past alpha, twenty lines first") << qint64(1) << 20 << true << -1;
    QTest::newRow("p eight past alpha, twenty lines first") << qint64(8) << 20 << true << -1;
    QTest::newRow("p one past alpha, typed after the first of three") << qint64(1) << 3 << true << 0;
}

// A types lines after "alpha"; its cycle sends them, and while its pull is out A types one more after
// the last. The pull brings another client's line "p", written right after alpha before A's landed:
// A's lines stay together, in the order typed, on the service and both devices.
void TestPageLinePlaces::aLineTypedWhileTheCycleIsOutStaysWithItsRun()
{
    QFETCH(qint64, pPast);
    QFETCH(int, linesFirst);
    QFETCH(bool, pFirst);
    QFETCH(int, typedAfter);
    QVERIFY(!sharedPage({"alpha", "omega"}).isEmpty());
    const QString p = *m_b->insertBlockAfter(blockOn(*m_b, "alpha"), QStringLiteral("p"));
    const qint64 alphaAt = m_b->store().block(blockOn(*m_b, "alpha"))->position;
    m_b->store().editBlock(p, [&](FNBlock &b) { b.position = alphaAt + pPast; });
    QVERIFY(settle(*m_b));

    auto held = FakeService::Fault::held();
    held.remaining = 1;
    m_fake.setFault(kSync, held);
    const int pulls = requestCount(kSync);
    const int upserts = requestCount(kBlocks);
    QStringList run;
    QStringList lines;
    QString after = blockOn(*m_a, "alpha");
    for (int i = 0; i < linesFirst; ++i) {
        run << QStringLiteral("a%1").arg(i);
        after = *m_a->insertBlockAfter(after, run.back());
        lines << after;
    }
    QTRY_COMPARE_WITH_TIMEOUT(requestCount(kSync), pulls + 1, kWait);
    QCOMPARE(requestCount(kBlocks), upserts + 1); // the lines went out before the pull
    const QString last = QStringLiteral("a%1").arg(linesFirst);
    QVERIFY(m_a->insertBlockAfter(typedAfter < 0 ? after : lines[typedAfter], last));
    run.insert(typedAfter < 0 ? run.size() : typedAfter + 1, last);
    m_fake.releaseHeldAnswers();
    for (ChaosDevice *d : {m_a.get(), m_b.get(), m_a.get(), m_b.get()})
        QVERIFY(settle(*d));

    const QStringList meant = pFirst ? QStringList{"alpha", "p"} + run + QStringList{"omega"}
                                     : QStringList{"alpha"} + run + QStringList{"p", "omega"};
    QCOMPARE(textsOnService(), meant);
    QCOMPARE(textsOn(*m_a), meant);
    QCOMPARE(textsOn(*m_b), meant);
}

QTEST_MAIN(TestPageLinePlaces)
#include "tst_page_line_places.moc"
