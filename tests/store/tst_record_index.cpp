#include "store/fn_block.h"
#include "store/group_index.h"
#include "store/record_index.h"

#include <QTest>

#include <random>

namespace {

// Few ids, so records share them and the indexes keep several holders per key.
constexpr int kLocalIDs = 40;
constexpr int kServerIDs = 12;
constexpr int kPages = 5;

struct World {
    RecordList<FNBlock> list;
    std::recursive_mutex mutex;
    RecordIndex<FNBlock> ids{list, mutex};
    GroupIndex<FNBlock, QString> byPage{list, [](const FNBlock &b) { return b.pageLocalID; }, mutex};
};

FNBlock randomBlock(std::mt19937 &rng)
{
    FNBlock b;
    b.localID = QStringLiteral("L%1").arg(rng() % kLocalIDs);
    b.serverID = qint64(rng() % kServerIDs);
    b.pageLocalID = rng() % 4 == 0 ? QString() : QStringLiteral("P%1").arg(rng() % kPages);
    if (rng() % 3 == 0)
        b.deletedAt = QDateTime::fromSecsSinceEpoch(1);
    return b;
}

// Asks every lookup and holds it against a scan of the list; the lookups finish any building.
void checkAgainstScan(World &w)
{
    const auto &list = w.list;
    for (int n = 0; n < kLocalIDs; ++n) {
        const QString id = QStringLiteral("L%1").arg(n);
        const auto first =
            std::find_if(list.begin(), list.end(), [&](const FNBlock &b) { return b.localID == id; });
        QCOMPARE(w.ids.withLocalID(id), first == list.end() ? -1 : qsizetype(first - list.begin()));
    }
    for (qint64 s = 0; s < kServerIDs; ++s) {
        std::vector<qsizetype> all;
        qsizetype live = -1;
        for (size_t i = 0; i < list.size(); ++i) {
            if (s == 0 || list[i].serverID != s)
                continue;
            all.push_back(qsizetype(i));
            if (live < 0 && !list[i].deletedAt)
                live = qsizetype(i);
        }
        QCOMPARE(w.ids.allWithServerID(s), all);
        QCOMPARE(w.ids.liveWithServerID(s), live);
        QCOMPARE(w.ids.preferLiveWithServerID(s), live >= 0 ? live : all.empty() ? -1 : all.front());
    }
    for (int p = -1; p < kPages; ++p) {
        const QString page = p < 0 ? QString() : QStringLiteral("P%1").arg(p);
        std::vector<qsizetype> on;
        for (size_t i = 0; i < list.size(); ++i) {
            if (!page.isEmpty() && list[i].pageLocalID == page)
                on.push_back(qsizetype(i));
        }
        QCOMPARE(w.byPage.positions(page), on);
    }
}

} // namespace

// The indexes grow a slice at a time beside the edits of the list, as they do on a thread of their
// own after a load; whatever the interleaving, a lookup answers as a scan of the list does.
class TestRecordIndex : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void agreeWithAScanWhileBuilding_data();
    void agreeWithAScanWhileBuilding();
    void buildingAsideMatchesBuildingAtOnce();
};

void TestRecordIndex::agreeWithAScanWhileBuilding_data()
{
    QTest::addColumn<unsigned>("seed");
    QTest::addColumn<int>("slice"); // records per step of the building
    QTest::newRow("seed 1, slices of 1") << 1u << 1;
    QTest::newRow("seed 2, slices of 7") << 2u << 7;
    QTest::newRow("seed 3, slices of 64") << 3u << 64;
    QTest::newRow("seed 4, slices of 3") << 4u << 3;
    QTest::newRow("seed 5, slices of 500") << 5u << 500;
}

void TestRecordIndex::agreeWithAScanWhileBuilding()
{
    QFETCH(unsigned, seed);
    QFETCH(int, slice);
    std::mt19937 rng(seed);
    World w;
    for (int i = 0; i < 300; ++i)
        w.list.push_back(randomBlock(rng));

    for (int step = 0; step < 4000; ++step) {
        switch (rng() % 10) {
        case 0:
        case 1:
        case 2: // the building moves on
            w.ids.buildSome(size_t(slice));
            w.byPage.buildSome(size_t(slice));
            break;
        case 3:
        case 4:
        case 5: { // a record replaced, ahead of the building or behind it
            if (w.list.empty())
                break;
            const auto at = qsizetype(rng() % w.list.size());
            FNBlock now = randomBlock(rng);
            if (rng() % 2)
                now.localID = w.list[size_t(at)].localID; // most edits keep the id
            const FNBlock before = std::exchange(w.list[size_t(at)], now);
            w.ids.replaced(at, before);
            w.byPage.replaced(at, before);
            break;
        }
        case 6:
        case 7: // appended
            w.list.push_back(randomBlock(rng));
            w.ids.appended();
            w.byPage.appended(qsizetype(w.list.size()) - 1);
            break;
        case 8: // a bulk edit: the building starts over
            if (w.list.size() > 10)
                w.list.erase(w.list.begin() + qsizetype(rng() % w.list.size()));
            w.ids.stale();
            w.byPage.stale();
            break;
        default:
            if (rng() % 4 == 0) {
                checkAgainstScan(w);
                if (QTest::currentTestFailed())
                    QFAIL(qPrintable(QStringLiteral("step %1").arg(step)));
            }
        }
    }
    checkAgainstScan(w);
}

// On a thread of their own against edits under the list's mutex, as the store runs them.
void TestRecordIndex::buildingAsideMatchesBuildingAtOnce()
{
    for (unsigned seed = 10; seed < 14; ++seed) {
        std::mt19937 rng(seed);
        World w;
        for (int i = 0; i < 20000; ++i)
            w.list.push_back(randomBlock(rng));
        std::thread aside([&] {
            while (w.ids.buildSome(64) || w.byPage.buildSome(64)) {
            }
        });
        for (int edit = 0; edit < 2000; ++edit) {
            std::lock_guard lock(w.mutex);
            if (rng() % 3 == 0) {
                w.list.push_back(randomBlock(rng));
                w.ids.appended();
                w.byPage.appended(qsizetype(w.list.size()) - 1);
            } else {
                const auto at = qsizetype(rng() % w.list.size());
                const FNBlock before = std::exchange(w.list[size_t(at)], randomBlock(rng));
                w.ids.replaced(at, before);
                w.byPage.replaced(at, before);
            }
        }
        aside.join();
        checkAgainstScan(w);
    }
}

QTEST_APPLESS_MAIN(TestRecordIndex)
#include "tst_record_index.moc"
