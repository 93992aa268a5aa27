#include "json/json_coder.h"
#include "local_store_samples.h"
#include "platform/diag.h"
#include "store/local_store.h"
#include "support/local_store_testing.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <random>

using namespace LocalStoreSamples;
using namespace std::chrono_literals;

namespace {

FNWorkspace workspaceWithServerID(qint64 id)
{
    FNWorkspace w;
    w.serverID = id;
    return w;
}

// One record kind of the store: its list, its upsert and a field to tell versions apart.
template <typename T>
struct Kind {
    RecordList<T> StoreState::*list;
    void (LocalStore::*upsert)(const T &);
    QString T::*label;
};

// "A:1" is localID A with serverID 1; "~" marks it deleted; "*" names the upserted record.
template <typename T>
T record(const Kind<T> &kind, QString token, const T &upserted)
{
    if (token.endsWith(QLatin1Char('*')))
        return upserted;
    T r;
    if (token.endsWith(QLatin1Char('~'))) {
        token.chop(1);
        r.deletedAt = at("2026-01-01T00:00:00Z");
    }
    const QStringList parts = token.split(QLatin1Char(':'));
    r.localID = parts[0];
    r.serverID = parts[1].toLongLong();
    r.*kind.label = QStringLiteral("old ") + token;
    r.createdAt = r.updatedAt = at("2026-01-01T00:00:00Z");
    return r;
}

template <typename T>
void checkUpsert(const Kind<T> &kind, const QString &before, const QString &token, const QString &after)
{
    QTemporaryDir dir;
    LocalStore store(dir.path(), kNever);
    T upserted = record<T>(kind, token, T{});
    upserted.*kind.label = QStringLiteral("new");
    RecordList<T> initial;
    for (const auto &t : before.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        initial.push_back(record<T>(kind, t, upserted));
    store.change([&](StoreState &s) { s.*kind.list = initial; });
    QSignalSpy changed(&store, &LocalStore::stateChanged);

    (store.*kind.upsert)(upserted);

    RecordList<T> expected;
    for (const auto &t : after.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        expected.push_back(record<T>(kind, t, upserted));
    QCOMPARE(store.state().*kind.list, expected);
    QCOMPARE(changed.count(), 1);
    QVERIFY(store.isSavePending());
}
} // namespace

// The store's records: found and changed by id, through indexes that agree with a scan, and the
// workspace the store has chosen.
class TestLocalStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();

    void loadsWhatItSaved();

    void upsertMatching_data();
    void upsertMatching();
    void indexesAgreeWithFirstMatchScan();
    void softDeleteAndRestore();
    void editByIDSavesAndTellsThatRecord_data();
    void editByIDSavesAndTellsThatRecord();
    void currentWorkspaceRule_data();
    void currentWorkspaceRule();
    void setWorkspacesRepairsTheChoice_data();
    void setWorkspacesRepairsTheChoice();
};

void TestLocalStore::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(LocalStore::defaultFolder().endsWith(QLatin1String("/Folionest")));
}

void TestLocalStore::loadsWhatItSaved()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("deep/er/Folionest"));
    DiagCapture diag;
    {
        LocalStore store(folder, kNever);
        QVERIFY(QFileInfo(folder).isDir());
        store.change([](StoreState &s) { s = sampleState(); });
        store.save();
    }
    QVERIFY(tempFiles(folder).isEmpty());
    QCOMPARE(readFile(folder + QStringLiteral("/state.json")), sharedJSONEncode(sampleState()));

    LocalStore again(folder, kNever);
    QCOMPARE(again.state(), sampleState());
    QCOMPARE(LocalStoreTesting::indexOfPageWithServerID(again, 42), 0);
    QCOMPARE(LocalStoreTesting::indexOfBlock(again, QStringLiteral("B")), 0);
    QVERIFY(diag.lines().isEmpty());
}

void TestLocalStore::upsertMatching_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("upsert");
    QTest::addColumn<QString>("after");

    QTest::newRow("same localID replaces in place") << "A:1 B:2 C:3"
                                                    << "B:9"
                                                    << "A:1 B:9* C:3";
    QTest::newRow("serverID match takes the new localID") << "A:1 B:2 C:3"
                                                          << "N:2"
                                                          << "A:1 N:2* C:3";
    QTest::newRow("localID wins over an earlier serverID") << "A:1 B:2"
                                                           << "B:1"
                                                           << "A:1 B:1*";
    QTest::newRow("serverID 0 never matches") << "A:0 B:0"
                                              << "N:0"
                                              << "A:0 B:0 N:0*";
    QTest::newRow("no match appends") << "A:1"
                                      << "N:5"
                                      << "A:1 N:5*";
    QTest::newRow("empty list appends") << ""
                                        << "N:0"
                                        << "N:0*";
    QTest::newRow("first of duplicate localIDs only") << "X:1 A:2 A:3"
                                                      << "A:4"
                                                      << "X:1 A:4* A:3";
    QTest::newRow("first of duplicate serverIDs only") << "A:7 B:7"
                                                       << "N:7"
                                                       << "N:7* B:7";
    QTest::newRow("deleted records match like live ones") << "A:1~ B:2"
                                                          << "A:1"
                                                          << "A:1* B:2";
    QTest::newRow("deleted serverID match") << "A:1 B:2~"
                                            << "N:2"
                                            << "A:1 N:2*";
}

void TestLocalStore::upsertMatching()
{
    QFETCH(QString, before);
    QFETCH(QString, upsert);
    QFETCH(QString, after);
    checkUpsert(Kind<FNFolder>{&StoreState::folders, &LocalStore::upsertFolder, &FNFolder::name}, before,
                upsert, after);
    checkUpsert(Kind<FNPage>{&StoreState::pages, &LocalStore::upsertPage, &FNPage::title}, before, upsert,
                after);
    checkUpsert(Kind<FNBlock>{&StoreState::blocks, &LocalStore::upsertBlock, &FNBlock::contentJSON}, before,
                upsert, after);
}

// The id indexes must answer exactly as a first-match scan would, through upserts and in-place edits.
void TestLocalStore::indexesAgreeWithFirstMatchScan()
{
    QTemporaryDir dir;
    LocalStore store(dir.path(), kNever);
    std::mt19937 rng(20240501);
    const QStringList ids = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                             QStringLiteral("D"), QStringLiteral("E")};
    RecordList<FNBlock> model;
    auto scanLocal = [&](const QString &id) -> qsizetype {
        for (size_t i = 0; i < model.size(); ++i) {
            if (model[i].localID == id)
                return qsizetype(i);
        }
        return -1;
    };
    auto scanServer = [&](qint64 id) -> qsizetype {
        for (size_t i = 0; id != 0 && i < model.size(); ++i) {
            if (model[i].serverID == id)
                return qsizetype(i);
        }
        return -1;
    };
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };

    for (int step = 0; step < 4000; ++step) {
        const int action = pick(20);
        if (action < 17) {
            FNBlock b;
            b.localID = pick(4) ? ids[pick(ids.size())] : QStringLiteral("N%1").arg(step);
            b.serverID = pick(5);
            b.position = step;
            qsizetype at = scanLocal(b.localID);
            if (at < 0)
                at = scanServer(b.serverID);
            if (at >= 0)
                model[size_t(at)] = b;
            else
                model.push_back(b);
            store.upsertBlock(b);
        } else {
            // Edits through change(): duplicate one at the front, drop one, or renumber one in place.
            std::function<void(RecordList<FNBlock> &)> edit;
            if (action == 17 && !model.empty()) {
                const FNBlock copy = model[size_t(pick(int(model.size())))];
                edit = [copy](RecordList<FNBlock> &l) { l.insert(l.begin(), copy); };
            } else if (action == 18 && !model.empty()) {
                const int i = pick(int(model.size()));
                edit = [i](RecordList<FNBlock> &l) { l.erase(l.begin() + i); };
            } else if (!model.empty()) {
                const int i = pick(int(model.size()));
                const qint64 s = pick(5);
                edit = [i, s](RecordList<FNBlock> &l) { l[size_t(i)].serverID = s; };
            } else {
                continue;
            }
            edit(model);
            store.change([&](StoreState &s) { edit(s.blocks); });
        }
        if (model.size() > 30) {
            model.erase(model.begin(), model.begin() + 10);
            store.change([](StoreState &s) { s.blocks.erase(s.blocks.begin(), s.blocks.begin() + 10); });
        }
        QCOMPARE(store.state().blocks, model);
        for (const auto &id : ids)
            QCOMPARE(LocalStoreTesting::indexOfBlock(store, id), scanLocal(id));
        for (qint64 s = 0; s < 5; ++s)
            QCOMPARE(LocalStoreTesting::indexOfBlockWithServerID(store, s), scanServer(s));
    }
}

void TestLocalStore::softDeleteAndRestore()
{
    QTemporaryDir dir;
    LocalStore store(dir.path(), kNever);
    QDateTime now = at("2026-03-01T10:00:00Z");
    store.setClock([&] { return now; });
    store.change([](StoreState &s) {
        s = sampleState();
        s.folders.front().deletedAt.reset();
        FNPage twin = s.pages.front();
        twin.title = QStringLiteral("twin");
        s.pages.push_back(twin);
        s.pages.front().folderServerID = s.folders.front().serverID;
    });
    const StoreState before = store.state();
    QSignalSpy changed(&store, &LocalStore::stateChanged);

    store.markPageDeleted(QStringLiteral("P"));
    QCOMPARE(changed.count(), 1);
    QVERIFY(store.isSavePending());
    QCOMPARE(store.state().pages[0].deletedAt, now);
    QCOMPARE(store.state().pages[0].updatedAt, before.pages[0].updatedAt);
    QVERIFY(!store.state().pages[1].deletedAt); // only the first of two with that id

    now = now.addSecs(60);
    store.markPageDeleted(QStringLiteral("P"));
    QCOMPARE(store.state().pages[0].deletedAt, now);

    store.restorePage(QStringLiteral("P"));
    QVERIFY(!store.state().pages[0].deletedAt);

    // No cascade either way.
    store.markFolderDeleted(QStringLiteral("F"));
    QCOMPARE(store.state().folders[0].deletedAt, now);
    QVERIFY(!store.state().pages[0].deletedAt);
    store.markPageDeleted(QStringLiteral("P"));
    QVERIFY(!store.state().blocks[0].deletedAt);
    store.markBlockDeleted(QStringLiteral("B"));
    QCOMPARE(store.state().blocks[0].deletedAt, now);
    store.restoreFolder(QStringLiteral("F"));
    store.restoreFolder(QStringLiteral("F"));
    QVERIFY(!store.state().folders[0].deletedAt);

    // An unknown id, or a restore of a live record, changes nothing: the observers are told, but
    // nothing is written.
    store.save();
    const StoreState settled = store.state();
    changed.clear();
    store.markPageDeleted(QStringLiteral("nope"));
    store.restorePage(QStringLiteral("nope"));
    store.markBlockDeleted(QStringLiteral("nope"));
    store.restoreFolder(QStringLiteral("F"));
    QCOMPARE(store.state(), settled);
    QCOMPARE(changed.count(), 4);
    QVERIFY(!store.isSavePending());
}

void TestLocalStore::editByIDSavesAndTellsThatRecord_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("stamped");
    QTest::newRow("folder: no stamp of its own") << "folder" << false;
    QTest::newRow("page edited") << "page" << true;
    QTest::newRow("page filed") << "page" << false;
    QTest::newRow("block edited") << "block" << true;
    QTest::newRow("block filed") << "block" << false;
}

void TestLocalStore::editByIDSavesAndTellsThatRecord()
{
    QFETCH(QString, kind);
    QFETCH(bool, stamped);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    LocalStore store(dir.path(), 30ms);
    store.change([](StoreState &s) { s = sampleState(); });
    const StoreState before = store.state();
    const QDateTime now = at("2026-05-01T08:00:00Z");
    store.setClock([&] { return now; });
    QSignalSpy folders(&store, &LocalStore::folderChanged);
    QSignalSpy pages(&store, &LocalStore::pageChanged);
    QSignalSpy blocks(&store, &LocalStore::blockChanged);
    QSignalSpy changed(&store, &LocalStore::stateChanged);
    const QString edited = QStringLiteral("edited");
    const auto stamp = stamped ? LocalStore::Stamp::Edited : LocalStore::Stamp::Keep;
    // What the edit wrote, and the record's `updatedAt`, as `state` holds them.
    std::function<std::pair<QString, QDateTime>(const StoreState &)> read;
    QSignalSpy *told = nullptr;
    QString id;
    if (kind == QLatin1String("folder")) {
        id = QStringLiteral("F");
        told = &folders;
        QVERIFY(store.editFolder(id, [&](FNFolder &f) { f.name = edited; }));
        QVERIFY(!store.editFolder(QStringLiteral("nope"), [&](FNFolder &f) { f.name = edited; }));
        read = [](const StoreState &s) { return std::pair(s.folders[0].name, s.folders[0].updatedAt); };
    } else if (kind == QLatin1String("page")) {
        id = QStringLiteral("P");
        told = &pages;
        QVERIFY(store.editPage(
            id, [&](FNPage &p) { p.title = edited; }, stamp));
        QVERIFY(!store.editPage(
            QStringLiteral("nope"), [&](FNPage &p) { p.title = edited; }, stamp));
        read = [](const StoreState &s) { return std::pair(s.pages[0].title, s.pages[0].updatedAt); };
    } else {
        id = QStringLiteral("B");
        told = &blocks;
        QVERIFY(store.editBlock(
            id, [&](FNBlock &b) { b.contentJSON = edited; }, stamp));
        QVERIFY(!store.editBlock(
            QStringLiteral("nope"), [&](FNBlock &b) { b.contentJSON = edited; }, stamp));
        read = [](const StoreState &s) { return std::pair(s.blocks[0].contentJSON, s.blocks[0].updatedAt); };
    }
    const QDateTime updatedAt = stamped ? now : read(before).second;
    QCOMPARE(read(store.state()), std::pair(edited, updatedAt));
    // That record's signal, once, and the broad one; an unknown id tells nobody.
    QCOMPARE(told->count(), 1);
    QCOMPARE(told->at(0).at(0).toString(), id);
    QCOMPARE(folders.count() + pages.count() + blocks.count(), 1);
    QCOMPARE(changed.count(), 1);

    // On disk once the save delay has run out.
    QVERIFY(store.isSavePending());
    QTRY_VERIFY(!store.isSavePending());
    QCOMPARE(read(fileState(path)), std::pair(edited, updatedAt));
}

void TestLocalStore::currentWorkspaceRule_data()
{
    QTest::addColumn<qint64>("current");
    QTest::addColumn<QList<qint64>>("serverIDs");
    QTest::addColumn<qint64>("expected");

    const QList<qint64> list = {0, 7, 9};
    QTest::newRow("none chosen: first nonzero") << qint64(0) << list << qint64(7);
    QTest::newRow("chosen and listed") << qint64(9) << list << qint64(9);
    QTest::newRow("chosen but gone") << qint64(5) << list << qint64(7);
    QTest::newRow("only zero ids") << qint64(0) << QList<qint64>{0, 0} << qint64(0);
    QTest::newRow("chosen, nothing listed") << qint64(9) << QList<qint64>{} << qint64(0);
}

void TestLocalStore::currentWorkspaceRule()
{
    QFETCH(qint64, current);
    QFETCH(QList<qint64>, serverIDs);
    QFETCH(qint64, expected);
    QTemporaryDir dir;
    LocalStore store(dir.path(), kNever);
    store.change([&](StoreState &s) {
        for (const qint64 id : serverIDs)
            s.workspaces.push_back(workspaceWithServerID(id));
        s.currentWorkspaceID = current;
    });
    QCOMPARE(store.currentWorkspaceServerID(), expected);
    QCOMPARE(store.state().currentWorkspaceID, current);
}

void TestLocalStore::setWorkspacesRepairsTheChoice_data()
{
    currentWorkspaceRule_data();
}

void TestLocalStore::setWorkspacesRepairsTheChoice()
{
    QFETCH(qint64, current);
    QFETCH(QList<qint64>, serverIDs);
    QFETCH(qint64, expected);
    QTemporaryDir dir;
    LocalStore store(dir.path(), kNever);
    store.change([&](StoreState &s) {
        s.workspaces = {workspaceWithServerID(1)};
        s.currentWorkspaceID = current;
    });
    std::vector<FNWorkspace> list;
    for (const qint64 id : serverIDs)
        list.push_back(workspaceWithServerID(id));
    QSignalSpy changed(&store, &LocalStore::stateChanged);
    store.setWorkspaces(list);
    QCOMPARE(store.state().workspaces, list);
    QCOMPARE(store.state().currentWorkspaceID, expected);
    QCOMPARE(changed.count(), 1);
    QVERIFY(store.isSavePending());
}

QTEST_GUILESS_MAIN(TestLocalStore)
#include "tst_local_store.moc"
