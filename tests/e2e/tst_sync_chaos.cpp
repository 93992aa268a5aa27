#include "fake-service/fake_service.h"
#include "support/chaos_run.h"

#include "store/local_store.h"

#include <QTest>

#include <functional>

// Two devices of one account edit their own pages, folders and blocks through the sidebar and the
// editor while the service fails in every way it can; once it recovers, nothing may be lost and
// nothing may exist twice.
class TestSyncChaos : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sameSeedMakesSameSteps();
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

// A run without faults, then one thing damaged behind the devices' backs: the checks must count it.
using Damage = std::function<void(ChaosRun &)>;
Q_DECLARE_METATYPE(Damage)

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
    QTest::newRow("the service changes a block's text") << Damage([=](ChaosRun &run) {
        const auto block = firstLive(run.store(1).state().blocks);
        run.service().state().blocks[block->serverID].content =
            JSONObject{{QStringLiteral("text"), QStringLiteral("x")}};
    }) << 3 << 0 << 0;
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
    QTest::newRow("a device holds a block twice") << Damage([=](ChaosRun &run) {
        const FNBlock copy = *firstLive(run.store(1).state().blocks);
        run.store(1).change([&](StoreState &s) {
            s.blocks.push_back(copy);
            s.blocks.back().localID = newLocalID();
        });
    }) << 0 << 1 << 0;
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
    options.seed = 3;
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

void TestSyncChaos::twoDevicesUnderFaults_data()
{
    QTest::addColumn<quint64>("seed");
    QTest::addColumn<bool>("faults");
    for (const quint64 seed : {1, 2, 3, 4})
        QTest::addRow("seed %llu", seed) << seed << true;
    // The same edits on a service that never fails: what goes wrong here is not the faults' doing.
    QTest::newRow("seed 5, no faults") << quint64(5) << false;
}

void TestSyncChaos::twoDevicesUnderFaults()
{
    QFETCH(quint64, seed);
    QFETCH(bool, faults);
    ChaosOptions options;
    options.seed = seed;
    options.steps = 250;
    options.faults = faults;
    const ChaosReport report = ChaosRun(options).run();
    qInfo().noquote() << report.summary();
    QVERIFY2(report.problems.isEmpty(), qPrintable(report.details()));
    QVERIFY2(report.settled, qPrintable(report.details()));
    QVERIFY2(report.findings.lost == 0, qPrintable(report.details()));
    QVERIFY2(report.findings.merges == 0, qPrintable(report.details()));
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
