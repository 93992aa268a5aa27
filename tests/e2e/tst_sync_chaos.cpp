#include "fake-service/fake_service.h"
#include "support/chaos_run.h"

#include "store/local_store.h"

#include <QTest>

#include <array>
#include <functional>
#include <map>
#include <utility>
#include <vector>

// Two devices of one account edit their own pages, folders and blocks through the sidebar and the
// editor, and different blocks of one page at once, one of them inserting, deleting, dragging or
// indenting while the other types, while the service fails in every way it can and the devices
// crash and start again; once it recovers, nothing may be lost (a block's text, its place in the
// order the edits meant, what a crashed device had saved) and nothing may exist twice.
class TestSyncChaos : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sameSeedMakesSameSteps();
    void sharedPageEditsTouchTwoBlocksOfOneLivePage_data();
    void sharedPageEditsTouchTwoBlocksOfOneLivePage();
    void checksCatchWhatWentWrong_data();
    void checksCatchWhatWentWrong();
    void twoDevicesUnderFaults_data();
    void twoDevicesUnderFaults();
};

void TestSyncChaos::sameSeedMakesSameSteps()
{
    ChaosOptions options;
    options.seed = 11;
    options.steps = 80;
    const ChaosReport first = ChaosRun(options).run();
    const ChaosReport second = ChaosRun(options).run();
    QCOMPARE(first.steps.size(), 80);
    QCOMPARE(second.steps, first.steps);

    QStringList other;
    for (const ChaosStep &step : makeChaosPlan(12, options.steps, true))
        other << step.describe();
    QVERIFY(other != first.steps);
}

void TestSyncChaos::sharedPageEditsTouchTwoBlocksOfOneLivePage_data()
{
    QTest::addColumn<quint64>("seed");
    QTest::addColumn<bool>("faults");
    for (const quint64 seed : {1, 2, 3, 4, 5, 6})
        QTest::addRow("seed %llu", seed) << seed << (seed % 2 == 1);
}

// Replays the plan's own bookkeeping from its steps: which page each block is on, which pages and
// blocks are gone. Both parts of a shared page's edit must land on the same live page and never on
// one block; a change of its structure is made on a live block of it, and the other device never
// types into the block it deletes.
void TestSyncChaos::sharedPageEditsTouchTwoBlocksOfOneLivePage()
{
    QFETCH(quint64, seed);
    QFETCH(bool, faults);
    using Kind = ChaosStep::Kind;
    using Op = ChaosStep::Shape::Op;
    using PageRef = std::pair<int, int>; // maker, index
    std::array<std::vector<PageRef>, 2> blockPage;
    std::array<std::vector<bool>, 2> blockGone;
    std::array<std::vector<bool>, 2> pageGone;
    int shared = 0;
    int adds = 0;
    int crashes = 0;
    std::map<Op, int> shapes;
    const auto liveOn = [&](int maker, int block, PageRef page) {
        return blockPage[size_t(maker)].at(size_t(block)) == page &&
               !blockGone[size_t(maker)].at(size_t(block));
    };
    for (const ChaosStep &step : makeChaosPlan(seed, 600, faults)) {
        const QByteArray what = step.describe().toUtf8();
        const int peer = 1 - step.device;
        switch (step.kind) {
        case Kind::CreatePage:
            pageGone[size_t(step.device)].push_back(false);
            if (step.twin)
                pageGone[size_t(peer)].push_back(false);
            break;
        case Kind::DeletePage:
            pageGone[size_t(step.device)][size_t(step.record)] = true;
            break;
        case Kind::AddBlock:
            QCOMPARE(step.target, int(blockPage[size_t(step.device)].size()));
            blockPage[size_t(step.device)].push_back({step.device, step.record});
            blockGone[size_t(step.device)].push_back(false);
            break;
        case Kind::ReshapeSharedPage: {
            const ChaosStep::Shape &shape = step.shape;
            const PageRef page(step.other.pageMaker, step.other.page);
            ++shapes[shape.op];
            QVERIFY2(!pageGone[size_t(page.first)][size_t(page.second)], what);
            QVERIFY2(liveOn(shape.blockMaker, shape.block, page), what);
            QVERIFY2(liveOn(step.other.blockMaker, step.other.block, page), what);
            if (shape.op == Op::Insert) {
                QCOMPARE(shape.newBlock, int(blockPage[size_t(step.device)].size()));
                blockPage[size_t(step.device)].push_back(page);
                blockGone[size_t(step.device)].push_back(false);
            }
            if (shape.op == Op::Delete) {
                QVERIFY2(step.other.blockMaker != shape.blockMaker || step.other.block != shape.block, what);
                blockGone[size_t(shape.blockMaker)][size_t(shape.block)] = true;
            }
            break;
        }
        case Kind::Crash:
            ++crashes;
            break;
        case Kind::EditSharedPage: {
            ++shared;
            const PageRef page = blockPage[size_t(step.device)].at(size_t(step.record));
            QVERIFY2(page == PageRef(step.other.pageMaker, step.other.page), what);
            QVERIFY2(!pageGone[size_t(page.first)][size_t(page.second)], what);
            if (step.other.adds) {
                ++adds;
                QCOMPARE(step.other.blockMaker, peer);
                QCOMPARE(step.other.block, int(blockPage[size_t(peer)].size()));
                blockPage[size_t(peer)].push_back(page);
                blockGone[size_t(peer)].push_back(false);
                break;
            }
            QVERIFY2(step.other.blockMaker != step.device || step.other.block != step.record, what);
            QVERIFY2(liveOn(step.other.blockMaker, step.other.block, page), what);
            QVERIFY2(step.text != step.other.text, what);
            break;
        }
        case Kind::EditBlock: {
            const PageRef page = blockPage[size_t(step.device)].at(size_t(step.record));
            QVERIFY2(!pageGone[size_t(page.first)][size_t(page.second)], what);
            QVERIFY2(!blockGone[size_t(step.device)][size_t(step.record)], what);
            break;
        }
        default:
            break;
        }
    }
    // Both ways of taking part, every change of structure, and crashes where faults are planned, or
    // the runs would never meet them.
    QVERIFY(shared > adds);
    QVERIFY(adds > 0);
    for (const Op op : {Op::Insert, Op::Delete, Op::Move, Op::Indent})
        QVERIFY2(shapes[op] > 0, qPrintable(QStringLiteral("no change of structure %1").arg(int(op))));
    QCOMPARE(crashes > 0, faults);
}

// A run without faults, then one thing damaged behind the devices' backs: the checks must count it.
using Damage = std::function<void(ChaosRun &)>;
Q_DECLARE_METATYPE(Damage)

namespace {

// The service's id of a block `maker` made on a page still live, 0 when there is none; with
// `editedByOther`, one whose last edit came from the other device.
qint64 madeBlockID(ChaosRun &run, int maker, bool editedByOther)
{
    const auto &made = run.model().devices;
    for (const ChaosModel::Block &block : made[size_t(maker)].blocks) {
        if (block.skipped || block.deleted || (block.editedBy != maker) != editedByOther ||
            made[size_t(block.pageMaker)].pages[size_t(block.page)].deleted)
            continue;
        if (const FNBlock *own = run.store(maker).block(block.localID); own && own->serverID != 0)
            return own->serverID;
    }
    return 0;
}

} // namespace

void TestSyncChaos::checksCatchWhatWentWrong_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<int>("lost");
    QTest::addColumn<int>("duplicates");
    QTest::addColumn<int>("merges");

    const auto firstLive = [](const auto &records) {
        return std::find_if(records.begin(), records.end(), [](const auto &r) { return r.serverID != 0; });
    };
    QTest::newRow("the service forgets a title") << Damage([=](ChaosRun &run) {
        const auto page = firstLive(run.store(0).state().pages);
        run.service().state().pages[page->serverID].title = QStringLiteral("overwritten");
    }) << 3 << 0 << 0;
    QTest::newRow("the service changes a block's text") << Damage([](ChaosRun &run) {
        const qint64 id = madeBlockID(run, 1, false);
        QVERIFY(id != 0);
        run.service().state().blocks[id].content = JSONObject{{QStringLiteral("text"), QStringLiteral("x")}};
    }) << 3 << 0 << 0;
    // As when a device's upsert carried its stale copy of the whole page over the other's edit.
    QTest::newRow("everyone keeps a stale copy over the other device's edit of a shared page")
        << Damage([](ChaosRun &run) {
               qint64 id = 0;
               for (int maker = 0; maker < 2 && id == 0; ++maker)
                   id = madeBlockID(run, maker, true);
               QVERIFY2(id != 0, "the run has no block last edited by the device that did not make it");
               run.service().state().blocks[id].content =
                   JSONObject{{QStringLiteral("text"), QStringLiteral("stale")}};
               for (int device = 0; device < 2; ++device) {
                   LocalStore &store = run.store(device);
                   store.editBlock(store.blockWithServerID(id)->localID,
                                   [](FNBlock &b) { b.contentJSON = QStringLiteral(R"({"text":"stale"})"); });
               }
           })
        << 1 << 0 << 0;
    // As when a device's upsert carried a stale place over the other device's move.
    QTest::newRow("the service swaps two blocks of a page") << Damage([](ChaosRun &run) {
        std::map<qint64, std::vector<qint64>> byPage;
        for (const auto &[id, block] : run.service().state().blocks)
            byPage[block.pageId].push_back(id);
        for (const auto &[page, ids] : byPage) {
            auto &blocks = run.service().state().blocks;
            if (ids.size() < 2 || blocks[ids[0]].position == blocks[ids[1]].position)
                continue;
            std::swap(blocks[ids[0]].position, blocks[ids[1]].position);
            return;
        }
        QFAIL("the run has no page of two blocks");
    }) << -1 << 0 << 0;
    QTest::newRow("a device takes another's indent") << Damage([](ChaosRun &run) {
        const qint64 id = madeBlockID(run, 0, false);
        QVERIFY(id != 0);
        LocalStore &store = run.store(1);
        store.editBlock(store.blockWithServerID(id)->localID, [](FNBlock &b) { b.indentLevel += 2; });
    }) << 1 << 0 << 0;
    QTest::newRow("the service moves a folder") << Damage([=](ChaosRun &run) {
        const auto folder = firstLive(run.store(0).state().folders);
        run.service().state().folders[folder->serverID].parentFolderId = 999;
    }) << 3 << 0 << 0;
    QTest::newRow("the service holds a second page") << Damage([](ChaosRun &run) {
        FakeServiceState &s = run.service().state();
        FakeServiceState::Page copy = s.pages.begin()->second;
        copy.id = s.nextPageId++;
        s.pages[copy.id] = copy;
    }) << 0 << 1 << 0;
    // Its page then lists the block twice there: a wrong order too.
    QTest::newRow("a device holds a block twice") << Damage([=](ChaosRun &run) {
        const FNBlock copy = *firstLive(run.store(1).state().blocks);
        run.store(1).change([&](StoreState &s) {
            s.blocks.push_back(copy);
            s.blocks.back().localID = newLocalID();
        });
    }) << 1 << 1 << 0;
    QTest::newRow("a device takes the other's page for its own") << Damage([=](ChaosRun &run) {
        const auto madeBy = [](const LocalStore &store, const QString &who) {
            for (const FNPage &page : store.state().pages) {
                if (page.serverID != 0 && !page.deletedAt && page.title.startsWith(who))
                    return page;
            }
            return FNPage{};
        };
        const qint64 theirs = madeBy(run.store(1), QStringLiteral("B.")).serverID;
        run.store(0).editPage(
            madeBy(run.store(0), QStringLiteral("A.")).localID, [&](FNPage &page) { page.serverID = theirs; },
            LocalStore::Stamp::Keep);
    }) << -1 << 3 << 1;
    QTest::newRow("a device misses the other's folder") << Damage([=](ChaosRun &run) {
        const qint64 made = firstLive(run.store(0).state().folders)->serverID;
        LocalStore &other = run.store(1);
        other.markFolderDeleted(other.folderWithServerID(made)->localID);
    }) << 1 << 0 << 0;
}

void TestSyncChaos::checksCatchWhatWentWrong()
{
    QFETCH(Damage, damage);
    QFETCH(int, lost);
    QFETCH(int, duplicates);
    QFETCH(int, merges);

    ChaosOptions options;
    // A seed whose run has a block last edited by the device that did not make it, and a page of
    // two blocks.
    options.seed = 8;
    options.steps = 60;
    options.faults = false;
    ChaosRun run(options);
    const ChaosReport report = run.run();
    QVERIFY2(report.problems.isEmpty(), qPrintable(report.details()));
    const ChaosFindings before = run.check();

    damage(run);
    const ChaosFindings after = run.check();
    if (lost >= 0)
        QCOMPARE(after.lost - before.lost, lost);
    else
        QVERIFY(after.lost > before.lost);
    QCOMPARE(after.duplicates - before.duplicates, duplicates);
    QCOMPARE(after.merges - before.merges, merges);
}

namespace {

// A soak beyond the suite's runs (scripts/chaos-soak.sh): CHAOS_SEEDS names the seeds ("1-40" or
// "20,36"), CHAOS_STEPS the steps of each run, CHAOS_FAULTS=0 a service that never fails.
std::vector<quint64> soakSeeds()
{
    std::vector<quint64> seeds;
    for (const QString &part : qEnvironmentVariable("CHAOS_SEEDS").split(u',', Qt::SkipEmptyParts)) {
        const QStringList range = part.split(u'-');
        const quint64 from = range.value(0).toULongLong();
        const quint64 to = range.size() > 1 ? range.value(1).toULongLong() : from;
        for (quint64 seed = from; seed <= to && seed != 0; ++seed)
            seeds.push_back(seed);
    }
    return seeds;
}

} // namespace

void TestSyncChaos::twoDevicesUnderFaults_data()
{
    QTest::addColumn<quint64>("seed");
    QTest::addColumn<bool>("faults");
    QTest::addColumn<int>("steps");
    if (const std::vector<quint64> seeds = soakSeeds(); !seeds.empty()) {
        const int steps = qEnvironmentVariableIntValue("CHAOS_STEPS");
        const bool faults = qEnvironmentVariable("CHAOS_FAULTS") != QLatin1String("0");
        for (const quint64 seed : seeds)
            QTest::addRow("seed %llu", seed) << seed << faults << (steps > 0 ? steps : 3000);
        return;
    }
    for (const quint64 seed : {1, 2, 3, 4})
        QTest::addRow("seed %llu", seed) << seed << true << 250;
    // The same edits on a service that never fails: what goes wrong here is not the faults' doing.
    QTest::newRow("seed 5, no faults") << quint64(5) << false << 250;
}

void TestSyncChaos::twoDevicesUnderFaults()
{
    QFETCH(quint64, seed);
    QFETCH(bool, faults);
    QFETCH(int, steps);
    ChaosOptions options;
    options.seed = seed;
    options.steps = steps;
    options.faults = faults;
    options.trace = qEnvironmentVariableIsSet("CHAOS_TRACE"); // each step to stderr
    const ChaosReport report = ChaosRun(options).run();
    qInfo().noquote() << report.summary();
    QVERIFY2(report.problems.isEmpty(), qPrintable(report.details()));
    QVERIFY2(report.settled, qPrintable(report.details()));
    QVERIFY2(report.findings.lost == 0, qPrintable(report.details()));
    QVERIFY2(report.findings.merges == 0, qPrintable(report.details()));
    // Settled, every push's echo is in and every room move landed or gave way: nothing is left to check.
    QVERIFY2(report.leftChecks == 0, qPrintable(report.details()));
    // A create whose reply was lost under a name any device gives is sent again: its first copy is
    // a page or folder more, which loses nothing. Any other copy is a fault.
    int resent = 0;
    for (const char *kind : {"extra page on the service", "extra page on a device",
                             "extra folder on the service", "extra folder on a device"}) {
        const auto it = report.findings.kinds.find(QString::fromLatin1(kind));
        resent += it != report.findings.kinds.end() ? it->second : 0;
    }
    QVERIFY2(report.findings.duplicates == resent, qPrintable(report.details()));
}

QTEST_GUILESS_MAIN(TestSyncChaos)
#include "tst_sync_chaos.moc"
