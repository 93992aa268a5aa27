#include "store/block_places.h"

#include <QTest>

#include <limits>

using BlockPlaces::Spot;

namespace {

constexpr qint64 kMin = std::numeric_limits<qint64>::min();
constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr int kTries = 64; // the places have a random part: each row is asked this often

std::optional<qint64> given(bool has, qint64 value)
{
    return has ? std::optional(value) : std::nullopt;
}

} // namespace

// Where a block goes among its siblings, at the ends of the range as well as on ordinary pages: no
// place leaves the range or lands outside its neighbours, whatever positions other clients wrote.
class TestBlockPlaces : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aPlaceLiesBetweenItsNeighbours_data();
    void aPlaceLiesBetweenItsNeighbours();
    void roomIsMadeInsideTheRange_data();
    void roomIsMadeInsideTheRange();
    void aRunIsSpreadInsideItsBounds_data();
    void aRunIsSpreadInsideItsBounds();
    void aMoveHoldsAtTheEndsOfTheRange_data();
    void aMoveHoldsAtTheEndsOfTheRange();
};

void TestBlockPlaces::aPlaceLiesBetweenItsNeighbours_data()
{
    QTest::addColumn<bool>("hasBefore");
    QTest::addColumn<qint64>("before");
    QTest::addColumn<bool>("hasAfter");
    QTest::addColumn<qint64>("after");
    QTest::addColumn<int>("spot");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<qint64>("lowest"); // where the place may land, when it fits
    QTest::addColumn<qint64>("highest");

    const int typed = int(Spot::Typed), dropped = int(Spot::Dropped);
    // Ordinary pages: a line's step past the block it follows, a gap past the last, the middle for a drop.
    QTest::newRow("typed in a gap") << true << qint64(0) << true << qint64(1024) << typed << true << qint64(9)
                                    << qint64(16);
    QTest::newRow("typed after the last")
        << true << qint64(2048) << false << qint64(0) << typed << true << qint64(3072) << qint64(3583);
    QTest::newRow("before the first")
        << false << qint64(0) << true << qint64(-5) << dropped << true << qint64(-1540) << qint64(-1029);
    QTest::newRow("dropped in a gap")
        << true << qint64(0) << true << qint64(1024) << dropped << true << qint64(448) << qint64(575);
    QTest::newRow("no block at all") << false << qint64(0) << false << qint64(0) << typed << true << qint64(0)
                                     << qint64(0);
    QTest::newRow("neighbours one apart")
        << true << qint64(7) << true << qint64(8) << typed << false << qint64(0) << qint64(0);
    // Positions another client wrote near or at the ends of the range.
    QTest::newRow("typed after a block near the top")
        << true << kMax - 100 << false << qint64(0) << typed << true << kMax - 99 << kMax - 1;
    QTest::newRow("dropped after a block near the top")
        << true << kMax - 100 << false << qint64(0) << dropped << true << kMax - 99 << kMax - 1;
    QTest::newRow("typed before a block near the bottom")
        << false << qint64(0) << true << kMin + 100 << typed << true << kMin + 1 << kMin + 99;
    QTest::newRow("typed after the top of the range")
        << true << kMax << false << qint64(0) << typed << false << qint64(0) << qint64(0);
    QTest::newRow("typed before the bottom of the range")
        << false << qint64(0) << true << kMin << typed << false << qint64(0) << qint64(0);
    QTest::newRow("typed between both ends")
        << true << kMin << true << kMax << typed << true << kMin + 9 << kMin + 16;
    QTest::newRow("dropped between both ends")
        << true << kMin << true << kMax << dropped << true << -(qint64(1) << 61) << (qint64(1) << 61);
    QTest::newRow("dropped between the ends' neighbours")
        << true << kMin + 1 << true << kMax - 1 << dropped << true << -(qint64(1) << 61) << (qint64(1) << 61);
}

void TestBlockPlaces::aPlaceLiesBetweenItsNeighbours()
{
    QFETCH(bool, hasBefore);
    QFETCH(qint64, before);
    QFETCH(bool, hasAfter);
    QFETCH(qint64, after);
    QFETCH(int, spot);
    QFETCH(bool, fits);
    QFETCH(qint64, lowest);
    QFETCH(qint64, highest);

    for (int i = 0; i < kTries; ++i) {
        const auto place = BlockPlaces::between(given(hasBefore, before), given(hasAfter, after), Spot(spot));
        QCOMPARE(place.has_value(), fits);
        if (!place)
            continue;
        QVERIFY2(*place >= lowest && *place <= highest, qPrintable(QString::number(*place)));
        QVERIFY(!hasBefore || *place > before);
        QVERIFY(!hasAfter || *place < after);
    }
}

void TestBlockPlaces::roomIsMadeInsideTheRange_data()
{
    QTest::addColumn<QList<qint64>>("positions");
    QTest::addColumn<int>("at");
    QTest::addColumn<int>("mostMoved");

    QList<qint64> numbered;
    for (qint64 i = 0; i < 12; ++i)
        numbered << i;
    QTest::newRow("numbered one apart, the middle") << numbered << 6 << 6;
    QTest::newRow("numbered one apart, near the end") << numbered << 10 << 2;
    QTest::newRow("a gap past a crowd") << QList<qint64>{0, 1, 2, 3, 1024} << 2 << 2;
    QList<qint64> top;
    for (qint64 i = 99; i >= 0; --i)
        top << kMax - i;
    QTest::newRow("after the last of a crowd at the top") << top << 100 << 100;
    // Packed against an end: no room past it, so room is made away from it.
    QTest::newRow("inside a crowd at the top") << top << 97 << 100;
    QList<qint64> bottom;
    for (qint64 i = 0; i < 100; ++i)
        bottom << kMin + i;
    QTest::newRow("before the first of a crowd at the bottom") << bottom << 0 << 100;
    QTest::newRow("inside a crowd at the bottom") << bottom << 2 << 100;
    QTest::newRow("both ends, after the top") << QList<qint64>{kMin, kMin + 1, kMax - 1, kMax} << 4 << 2;
    QTest::newRow("both ends, between the bottom two")
        << QList<qint64>{kMin, kMin + 1, kMax - 1, kMax} << 1 << 1;
    QTest::newRow("ordinary blocks under one at the top") << QList<qint64>{0, 1, 2, kMax} << 4 << 1;
    QTest::newRow("two at the top of the range") << QList<qint64>{kMax, kMax} << 1 << 1;
}

// The room made leaves every block, the new one included, in order and inside the range, and moves
// no more blocks than the row allows.
void TestBlockPlaces::roomIsMadeInsideTheRange()
{
    QFETCH(QList<qint64>, positions);
    QFETCH(int, at);
    QFETCH(int, mostMoved);

    const std::vector<qint64> ordered(positions.begin(), positions.end());
    const BlockPlaces::Room room = BlockPlaces::makeRoom(ordered, size_t(at));
    std::vector<qint64> after = ordered;
    for (const auto &[index, position] : room.moves) {
        QVERIFY(index < after.size());
        after[index] = position;
    }
    after.insert(after.begin() + at, room.position);
    for (size_t i = 1; i < after.size(); ++i)
        QVERIFY2(after[i - 1] < after[i],
                 qPrintable(QStringLiteral("%1: %2 then %3").arg(i).arg(after[i - 1]).arg(after[i])));
    QVERIFY2(int(room.moves.size()) <= mostMoved, qPrintable(QString::number(room.moves.size())));
}

void TestBlockPlaces::aRunIsSpreadInsideItsBounds_data()
{
    QTest::addColumn<bool>("hasLo");
    QTest::addColumn<qint64>("lo");
    QTest::addColumn<bool>("hasHi");
    QTest::addColumn<qint64>("hi");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<qint64>("first"); // the first place, when it fits
    QTest::addColumn<qint64>("step");

    const qint64 gap = kBlockPositionGap;
    QTest::newRow("a line's step apart in a gap")
        << true << qint64(0) << true << gap << 3 << true << kLineStep << kLineStep;
    QTest::newRow("narrower than a line's step")
        << true << qint64(0) << true << qint64(20) << 3 << true << qint64(5) << qint64(5);
    QTest::newRow("no room") << true << qint64(0) << true << qint64(3) << 3 << false << qint64(0)
                             << qint64(0);
    QTest::newRow("past the last") << true << qint64(0) << false << qint64(0) << 2 << true << gap << gap;
    QTest::newRow("before the first")
        << false << qint64(0) << true << qint64(0) << 2 << true << -2 * gap << gap;
    QTest::newRow("past a block near the top")
        << true << kMax - 100 << false << qint64(0) << 3 << true << kMax - 100 + 16 << qint64(16);
    QTest::newRow("before a block near the bottom")
        << false << qint64(0) << true << kMin + 100 << 3 << true << kMin + 16 << qint64(16);
    QTest::newRow("past the top of the range")
        << true << kMax << false << qint64(0) << 1 << false << qint64(0) << qint64(0);
    QTest::newRow("between both ends")
        << true << kMin << true << kMax << 2 << true << kMin + 16 << qint64(16);
    QTest::newRow("two lines past a block two gaps below the top")
        << true << kMax - 2 * gap << false << qint64(0) << 2 << true << kMax - 2 * gap + 16 << qint64(16);
    QTest::newRow("one line past one below the top")
        << true << kMax - 2 << false << qint64(0) << 1 << true << kMax - 1 << qint64(1);
}

void TestBlockPlaces::aRunIsSpreadInsideItsBounds()
{
    QFETCH(bool, hasLo);
    QFETCH(qint64, lo);
    QFETCH(bool, hasHi);
    QFETCH(qint64, hi);
    QFETCH(int, count);
    QFETCH(bool, fits);
    QFETCH(qint64, first);
    QFETCH(qint64, step);

    const auto places = BlockPlaces::spread(given(hasLo, lo), given(hasHi, hi), size_t(count), kLineStep);
    QCOMPARE(places.has_value(), fits);
    if (!places)
        return;
    QCOMPARE(places->size(), size_t(count));
    QCOMPARE(places->front(), first);
    for (size_t i = 1; i < places->size(); ++i)
        QCOMPARE((*places)[i] - (*places)[i - 1], step);
    QVERIFY(!hasLo || places->front() > lo);
    QVERIFY(!hasHi || places->back() < hi);
}

void TestBlockPlaces::aMoveHoldsAtTheEndsOfTheRange_data()
{
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("by");
    QTest::addColumn<qint64>("to");
    QTest::newRow("ordinary, down") << qint64(100) << qint64(-2048) << qint64(-1948);
    QTest::newRow("ordinary, up") << qint64(-100) << qint64(2048) << qint64(1948);
    QTest::newRow("past the top") << kMax - 5 << qint64(2048) << kMax;
    QTest::newRow("past the bottom") << kMin + 5 << qint64(-2048) << kMin;
    QTest::newRow("the whole range down") << kMax << kMin << qint64(-1);
    QTest::newRow("from the bottom by the most down") << kMin << kMin << kMin;
}

void TestBlockPlaces::aMoveHoldsAtTheEndsOfTheRange()
{
    QFETCH(qint64, from);
    QFETCH(qint64, by);
    QFETCH(qint64, to);
    QCOMPARE(BlockPlaces::moved(from, by), to);
}

QTEST_GUILESS_MAIN(TestBlockPlaces)
#include "tst_block_places.moc"
