#include "json/json_coder.h"
#include "platform/diag.h"
#include "store/local_store.h"
#include "support/local_store_testing.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <random>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr auto kNever = 1h; // a save delay that never runs out during a test

QDateTime at(const char *iso)
{
    return *json::parseDate(QString::fromLatin1(iso));
}

FNWorkspace workspaceWithServerID(qint64 id)
{
    FNWorkspace w;
    w.serverID = id;
    return w;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

StoreState fileState(const QString &path)
{
    return sharedJSONDecode<StoreState>(readFile(path));
}

QStringList asideFiles(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("state.json.unreadable-*")}, QDir::Files | QDir::Dirs);
}

QStringList filesLike(const QString &folder, const QString &pattern)
{
    return QDir(folder).entryList({pattern}, QDir::Files | QDir::Dirs | QDir::Hidden);
}

QStringList originalFiles(const QString &folder)
{
    return filesLike(folder, QStringLiteral("state.json.original-*"));
}

QStringList tempFiles(const QString &folder)
{
    return filesLike(folder, QStringLiteral("state.json.tmp*"));
}

// The permission bits of a file or folder, as `ls -l` would show them in octal.
mode_t modeOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 07777;
    return st.st_mode & 07777;
}

// Sets the process umask for its lifetime: 0 shows the modes the code asks for, unnarrowed.
struct Umask {
    explicit Umask(mode_t mask)
        : previous(::umask(mask))
    {
    }
    ~Umask() { ::umask(previous); }
    mode_t previous;
};

StoreState sampleState()
{
    StoreState s;
    s.workspaces = {FNWorkspace{.localID = QStringLiteral("W"),
                                .serverID = 7,
                                .name = QStringLiteral("Team"),
                                .role = QStringLiteral("owner"),
                                .ownerUserID = 1,
                                .createdAt = at("2026-01-01T00:00:00Z")}};
    s.currentWorkspaceID = 7;
    FNFolder folder;
    folder.localID = QStringLiteral("F");
    folder.serverID = 3;
    folder.name = QStringLiteral("Plans");
    folder.createdAt = folder.updatedAt = at("2026-01-02T00:00:00Z");
    folder.deletedAt = at("2026-01-03T00:00:00Z");
    s.folders = {folder};
    FNPage page;
    page.localID = QStringLiteral("P");
    page.serverID = 42;
    page.title = QStringLiteral("Hello ✓");
    page.coverOffsetX = page.coverOffsetY = 50;
    page.createdAt = page.updatedAt = at("2026-01-04T00:00:00Z");
    s.pages = {page};
    FNBlock block;
    block.localID = QStringLiteral("B");
    block.pageLocalID = page.localID;
    block.pageServerID = 42;
    block.type = QStringLiteral("text");
    block.contentJSON = QStringLiteral(R"({"text":""})");
    block.createdAt = block.updatedAt = at("2026-01-05T00:00:00Z");
    s.blocks = {block};
    FNSyncOp op;
    op.localID = QStringLiteral("O");
    op.entity = QStringLiteral("block");
    op.op = QStringLiteral("upsert");
    op.refLocalID = page.localID;
    op.payloadJSON = QStringLiteral(R"({"page_id":42,"blocks":[]})");
    op.createdAt = at("2026-01-06T00:00:00Z");
    op.attempts = 1;
    op.lastError = QStringLiteral("Server problem.");
    op.nextRetryAt = at("2026-01-06T00:00:02Z");
    s.outbox = {op};
    s.cursorServerTs = 99;
    s.pageStatuses.insert(QStringLiteral("42"), {.published = true, .sharedCount = 2});
    s.expandedRowIDs = {QStringLiteral("F")};
    return s;
}

// The sample with a second record in every list, and a second page status.
StoreState twoOfEach()
{
    StoreState s = sampleState();
    auto twin = [](auto record, const char *id) {
        record.localID = QString::fromLatin1(id);
        if constexpr (requires { record.serverID; })
            record.serverID += 100;
        return record;
    };
    s.workspaces.push_back(twin(s.workspaces.front(), "W2"));
    s.folders.push_back(twin(s.folders.front(), "F2"));
    s.pages.push_back(twin(s.pages.front(), "P2"));
    s.blocks.push_back(twin(s.blocks.front(), "B2"));
    s.outbox.push_back(twin(s.outbox.front(), "O2"));
    s.pageStatuses.insert(QStringLiteral("142"), {.published = false, .sharedCount = 0});
    s.expandedRowIDs.push_back(QStringLiteral("F2"));
    return s;
}

// One record kind of the store: its list, its upsert and a field to tell versions apart.
template <typename T>
struct Kind {
    std::vector<T> StoreState::*list;
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
    std::vector<T> initial;
    for (const auto &t : before.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        initial.push_back(record<T>(kind, t, upserted));
    store.change([&](StoreState &s) { s.*kind.list = initial; });
    QSignalSpy changed(&store, &LocalStore::stateChanged);

    (store.*kind.upsert)(upserted);

    std::vector<T> expected;
    for (const auto &t : after.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        expected.push_back(record<T>(kind, t, upserted));
    QCOMPARE(store.state().*kind.list, expected);
    QCOMPARE(changed.count(), 1);
    QVERIFY(store.isSavePending());
}

} // namespace

Q_DECLARE_METATYPE(StoreState)

class TestLocalStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();

    void loadsWhatItSaved();
    void missingFileStartsEmptyAndSilent();
    void unreadableFileIsKeptAside_data();
    void unreadableFileIsKeptAside();
    void asideNeverOverwritesAnEarlierOne();
    void partlyReadFileKeepsTheRest_data();
    void partlyReadFileKeepsTheRest();
    void unkeptFileIsNeverWrittenOver_data();
    void unkeptFileIsNeverWrittenOver();
    void duplicateServerIDsRepairedOnLoad_data();
    void duplicateServerIDsRepairedOnLoad();
    void extraKeysLoadAndGoAtNextSave();
    void filesArePrivate();
    void saveLeavesOtherTempFilesAlone();
    void failingSaveKeepsTheOldFile_data();
    void failingSaveKeepsTheOldFile();

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

    void saveWaitsForTheDelay();
    void burstWrittenOnceStreamWithinTheLongestWait();
    void unchangedStateIsNotSaved_data();
    void unchangedStateIsNotSaved();
    void movedCursorRidesWithTheNextSave();
    void writesAreCounted();
    void resetWhileASaveIsPending();
    void pendingSaveWrittenOnDestruction();
    void pendingSaveWrittenAtQuit();
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

void TestLocalStore::missingFileStartsEmptyAndSilent()
{
    QTemporaryDir dir;
    DiagCapture diag;
    LocalStore store(dir.path(), kNever);
    QCOMPARE(store.state(), StoreState{});
    QVERIFY(diag.lines().isEmpty());
    QVERIFY(asideFiles(dir.path()).isEmpty());
    QCOMPARE(store.url(), dir.filePath(QStringLiteral("state.json")));
}

void TestLocalStore::unreadableFileIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray good = sharedJSONEncode(sampleState());
    QTest::newRow("a list, not an object") << QByteArray("[") + good + "]";
    QTest::newRow("a string") << QByteArray(R"("state")");
    QTest::newRow("null") << QByteArray("null");
    QTest::newRow("truncated") << good.left(good.size() / 2);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not JSON") << QByteArray("hello");
    QTest::newRow("invalid UTF-8") << QByteArray(good).replace("Hello", "\xff\xfe\xfd\xfc\xfb");
}

void TestLocalStore::unreadableFileIsKeptAside()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    writeFile(path, bytes);

    DiagCapture diag;
    LocalStore store(dir.path(), kNever);
    QCOMPARE(store.state(), StoreState{});
    QCOMPARE(diag.lines().size(), 1);
    const QStringList aside = asideFiles(dir.path());
    QCOMPARE(aside.size(), 1);
    QVERIFY2(diag.lines().first().contains(aside.first()), qPrintable(diag.lines().first()));
    QCOMPARE(readFile(dir.filePath(aside.first())), bytes);

    // The next save writes the empty state without touching the user's old data.
    store.save();
    QCOMPARE(fileState(path), StoreState{});
    QCOMPARE(readFile(dir.filePath(aside.first())), bytes);
}

void TestLocalStore::asideNeverOverwritesAnEarlierOne()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    DiagCapture diag;
    writeFile(path, "first");
    {
        LocalStore store(dir.path(), kNever);
    }
    writeFile(path, "second");
    {
        LocalStore store(dir.path(), kNever);
    }
    const QStringList aside = asideFiles(dir.path());
    QCOMPARE(aside.size(), 2);
    QStringList contents;
    for (const auto &name : aside)
        contents << QString::fromLatin1(readFile(dir.filePath(name)));
    contents.sort();
    QCOMPARE(contents, QStringList({QStringLiteral("first"), QStringLiteral("second")}));
    QCOMPARE(diag.lines().size(), 2);
}

// Breaks one record (or a whole field) of the two-of-each state: `entry` is the list position or map
// key, empty for the field itself; `field` the member inside the record, empty for the record itself.
void TestLocalStore::partlyReadFileKeepsTheRest_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QJsonValue>("value"); // undefined: removed
    QTest::addColumn<StoreState>("expected");

    const StoreState all = twoOfEach();
    auto without = [&all](auto StoreState::*list, size_t at) {
        StoreState s = all;
        (s.*list).erase((s.*list).begin() + qsizetype(at));
        return s;
    };
    const QJsonValue removed(QJsonValue::Undefined);

    QTest::newRow("block with a text position")
        << "blocks"
        << "0"
        << "position" << QJsonValue(QStringLiteral("3")) << without(&StoreState::blocks, 0);
    QTest::newRow("block without indentLevel") << "blocks"
                                               << "1"
                                               << "indentLevel" << removed << without(&StoreState::blocks, 1);
    QTest::newRow("page with a numeric title") << "pages"
                                               << "1"
                                               << "title" << QJsonValue(5) << without(&StoreState::pages, 1);
    QTest::newRow("folder with a date that is no date")
        << "folders"
        << "0"
        << "createdAt" << QJsonValue(QStringLiteral("yesterday")) << without(&StoreState::folders, 0);
    QTest::newRow("outbox op with text attempts")
        << "outbox"
        << "0"
        << "attempts" << QJsonValue(QStringLiteral("1")) << without(&StoreState::outbox, 0);
    QTest::newRow("workspace that is not an object")
        << "workspaces"
        << "1"
        << "" << QJsonValue(7) << without(&StoreState::workspaces, 1);
    QTest::newRow("expanded row id that is a number")
        << "expandedRowIDs"
        << "0"
        << "" << QJsonValue(3) << without(&StoreState::expandedRowIDs, 0);

    StoreState status = all;
    status.pageStatuses.remove(QStringLiteral("42"));
    QTest::newRow("page status of the wrong kind")
        << "pageStatuses"
        << "42"
        << "sharedCount" << QJsonValue(QStringLiteral("2")) << status;
    StoreState noExpanded = all;
    noExpanded.expandedRowIDs.clear();
    QTest::newRow("no expandedRowIDs") << "expandedRowIDs"
                                       << ""
                                       << "" << removed << noExpanded;
    StoreState noBlocks = all;
    noBlocks.blocks.clear();
    QTest::newRow("blocks that are not a list") << "blocks"
                                                << ""
                                                << "" << QJsonValue(QStringLiteral("x")) << noBlocks;
    StoreState noCursor = all;
    noCursor.cursorServerTs = 0;
    QTest::newRow("cursor of the wrong kind") << "cursorServerTs"
                                              << ""
                                              << "" << QJsonValue(true) << noCursor;
}

void TestLocalStore::partlyReadFileKeepsTheRest()
{
    QFETCH(QString, key);
    QFETCH(QString, entry);
    QFETCH(QString, field);
    QFETCH(QJsonValue, value);
    QFETCH(StoreState, expected);

    auto put = [&value](auto &container, const auto &at) {
        if (!value.isUndefined())
            container[at] = value;
        else if constexpr (requires { container.removeAt(at); })
            container.removeAt(at);
        else
            container.remove(at);
    };
    QJsonObject root = QJsonDocument::fromJson(sharedJSONEncode(twoOfEach())).object();
    if (entry.isEmpty()) {
        put(root, key);
    } else if (root[key].isArray()) {
        QJsonArray list = root[key].toArray();
        if (field.isEmpty()) {
            put(list, entry.toInt());
        } else {
            QJsonObject record = list[entry.toInt()].toObject();
            put(record, field);
            list[entry.toInt()] = record;
        }
        root[key] = list;
    } else {
        QJsonObject map = root[key].toObject();
        QJsonObject record = map[entry].toObject();
        put(record, field);
        map[entry] = record;
        root[key] = map;
    }
    const QByteArray bytes = QJsonDocument(root).toJson();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    writeFile(path, bytes);

    DiagCapture diag;
    LocalStore store(dir.path(), kNever);
    QCOMPARE(store.state(), expected);
    QVERIFY(!store.isSaveBlocked());
    const QStringList original = originalFiles(dir.path());
    QCOMPARE(original.size(), 1);
    QCOMPARE(readFile(dir.filePath(original.first())), bytes);
    QCOMPARE(modeOf(dir.filePath(original.first())), mode_t(0600));
    QVERIFY(asideFiles(dir.path()).isEmpty());
    // One line: what was left out, the first reason, where the file is.
    QCOMPARE(diag.lines().size(), 1);
    const QString line = diag.lines().first();
    QVERIFY2(line.contains(key + QStringLiteral(" 1")) && line.contains(original.first()), qPrintable(line));
    QVERIFY2(line.contains(QStringLiteral("first: ") + key), qPrintable(line));

    store.save();
    QCOMPARE(fileState(path), expected);
    QCOMPARE(readFile(dir.filePath(original.first())), bytes);
}

// The data file could not be copied (or renamed) aside: nothing may then write over or remove it,
// even once writing would work again.
void TestLocalStore::unkeptFileIsNeverWrittenOver_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("partly");

    QTest::newRow("partly read, file size limit") << "size-limit" << true;
    if (::geteuid() != 0) {
        QTest::newRow("partly read, read-only folder") << "read-only" << true;
        QTest::newRow("unreadable, read-only folder") << "read-only" << false;
    }
}

void TestLocalStore::unkeptFileIsNeverWrittenOver()
{
    QFETCH(QString, how);
    QFETCH(bool, partly);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    QByteArray bytes = sharedJSONEncode(twoOfEach());
    if (partly)
        bytes.replace(R"("cursorServerTs":99)", R"("cursorServerTs":"99")");
    else
        bytes.prepend('[').append(']');
    writeFile(path, bytes);

    DiagCapture diag;
    {
        std::unique_ptr<LocalStore> store;
        if (how == QLatin1String("read-only")) {
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
            store = std::make_unique<LocalStore>(dir.path(), kNever);
            QVERIFY(
                QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        } else {
            // Beyond the limit a write fails (the signal that would end the process is ignored).
            rlimit before;
            QVERIFY(::getrlimit(RLIMIT_FSIZE, &before) == 0);
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = before;
            small.rlim_cur = rlim_t(bytes.size() / 2);
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
            store = std::make_unique<LocalStore>(dir.path(), kNever);
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &before) == 0);
            std::signal(SIGXFSZ, oldHandler);
        }
        QVERIFY(store->isSaveBlocked());
        QVERIFY(!store->saveBlockedReason().isEmpty());
        QCOMPARE(diag.lines().size(), 1);
        QVERIFY2(diag.lines().first().contains(QLatin1String("could not be")),
                 qPrintable(diag.lines().first()));
        if (partly)
            QCOMPARE(store->state().blocks, twoOfEach().blocks);

        store->change([](StoreState &s) { s.cursorServerTs = 5; });
        store->save();
        LocalStoreTesting::scheduleSave(*store);
        store->reset();
        LocalStoreTesting::scheduleSave(*store);
    }
    QCOMPARE(readFile(path), bytes);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("state.json")});
    QCOMPARE(diag.lines().size(), 1);
}

// Blocks as "localID:serverID@minute of their last edit".
void TestLocalStore::duplicateServerIDsRepairedOnLoad_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("loaded");

    QTest::newRow("later one edited last") << "A:5@1 B:5@2 C:0@0"
                                           << "B:5@2 C:0@0";
    QTest::newRow("earlier one edited last") << "A:5@2 X:6@0 B:5@1"
                                             << "A:5@2 X:6@0";
    QTest::newRow("same time keeps the first") << "A:5@1 B:5@1"
                                               << "A:5@1";
    QTest::newRow("three with one id") << "A:5@1 B:5@3 C:5@2"
                                       << "B:5@3";
    QTest::newRow("two ids twice each") << "A:5@1 B:6@2 C:5@2 D:6@1"
                                        << "B:6@2 C:5@2";
    QTest::newRow("deleted ones count too") << "A:5@1~ B:5@2"
                                            << "B:5@2";
    QTest::newRow("zero is no id") << "A:0@1 B:0@1 C:7@1"
                                   << "A:0@1 B:0@1 C:7@1";
}

void TestLocalStore::duplicateServerIDsRepairedOnLoad()
{
    QFETCH(QString, stored);
    QFETCH(QString, loaded);
    auto blocks = [](const QString &tokens) {
        std::vector<FNBlock> out;
        for (QString t : tokens.split(QLatin1Char(' '))) {
            FNBlock b;
            if (t.endsWith(QLatin1Char('~'))) {
                t.chop(1);
                b.deletedAt = at("2026-02-01T00:00:00Z");
            }
            const QStringList parts = t.split(QRegularExpression(QStringLiteral("[:@]")));
            b.localID = parts[0];
            b.serverID = parts[1].toLongLong();
            b.createdAt = at("2026-01-01T00:00:00Z");
            b.updatedAt = b.createdAt.addSecs(60 * parts[2].toLongLong());
            out.push_back(b);
        }
        return out;
    };
    QTemporaryDir dir;
    StoreState state = sampleState();
    state.blocks = blocks(stored);
    writeFile(dir.filePath(QStringLiteral("state.json")), sharedJSONEncode(state));

    DiagCapture diag;
    LocalStore store(dir.path(), kNever);
    QCOMPARE(store.state().blocks, blocks(loaded));
    QCOMPARE(diag.lines().size(), stored == loaded ? 0 : 1);
    for (size_t i = 0; i < store.state().blocks.size(); ++i) {
        const FNBlock &b = store.state().blocks[i];
        if (b.serverID != 0)
            QCOMPARE(LocalStoreTesting::indexOfBlockWithServerID(store, b.serverID), qsizetype(i));
    }
    QVERIFY(!store.isSaveBlocked());
    QVERIFY(originalFiles(dir.path()).isEmpty());
}

void TestLocalStore::extraKeysLoadAndGoAtNextSave()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    QByteArray bytes = sharedJSONEncode(sampleState());
    bytes.insert(1, R"("schema":2,)");
    bytes.replace(R"("updatedAt":"2026-01-04T00:00:00Z")",
                  R"("updatedAt":"2026-01-04T00:00:00Z","deletedAt":null)");
    writeFile(path, bytes);

    LocalStore store(dir.path(), kNever);
    QCOMPARE(store.state(), sampleState());
    QVERIFY(!store.state().pages.front().deletedAt);
    store.save();
    QCOMPARE(readFile(path), sharedJSONEncode(sampleState()));
}

// Other local users can neither list the folder nor read the data; an older build's open modes
// are narrowed at load, before anything is written.
void TestLocalStore::filesArePrivate()
{
    const Umask none(0);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("new/Folionest"));
    const QString path = folder + QStringLiteral("/state.json");
    {
        LocalStore store(folder, kNever);
        QCOMPARE(modeOf(folder), mode_t(0700));
        store.change([](StoreState &s) { s = sampleState(); });
        // The file is the temporary one renamed: this is the mode it was created with.
        store.save();
        QCOMPARE(modeOf(path), mode_t(0600));
    }
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
    LocalStore again(folder, kNever);
    QCOMPARE(modeOf(folder), mode_t(0700));
    QCOMPARE(modeOf(path), mode_t(0600));
    QCOMPARE(again.state(), sampleState());
}

// Another writer's temporary file is neither truncated nor taken over.
void TestLocalStore::saveLeavesOtherTempFilesAlone()
{
    QTemporaryDir dir;
    const QString other = dir.filePath(QStringLiteral("state.json.tmp"));
    writeFile(other, "another writer's half");
    LocalStore store(dir.path(), kNever);
    store.change([](StoreState &s) { s = sampleState(); });
    store.save();
    QCOMPARE(readFile(other), QByteArray("another writer's half"));
    QCOMPARE(fileState(dir.filePath(QStringLiteral("state.json"))), sampleState());
    QCOMPARE(tempFiles(dir.path()), QStringList{QStringLiteral("state.json.tmp")});
}

void TestLocalStore::failingSaveKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("state.json replaced by a folder") << "file-is-dir";
    QTest::newRow("folder removed after loading") << "folder-gone";
    QTest::newRow("folder below a regular file") << "below-file";
    if (::geteuid() != 0)
        QTest::newRow("read-only folder") << "read-only";
}

void TestLocalStore::failingSaveKeepsTheOldFile()
{
    QFETCH(QString, how);
    QTemporaryDir dir;
    QString folder = dir.filePath(QStringLiteral("Folionest"));
    const QString path = folder + QStringLiteral("/state.json");
    const QByteArray old = sharedJSONEncode(sampleState());
    if (how == QLatin1String("below-file")) {
        writeFile(dir.filePath(QStringLiteral("plain")), "x");
        folder = dir.filePath(QStringLiteral("plain/Folionest"));
    } else {
        QVERIFY(QDir().mkpath(folder));
        writeFile(path, old);
    }

    DiagCapture diag;
    LocalStore store(folder, kNever);
    if (how == QLatin1String("read-only"))
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    if (how == QLatin1String("folder-gone"))
        QVERIFY(QDir(folder).removeRecursively());
    if (how == QLatin1String("file-is-dir")) {
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
    }
    store.change([](StoreState &s) { s.cursorServerTs = 12345; });
    store.save();
    if (how == QLatin1String("read-only"))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QCOMPARE(diag.lines().size(), 1);
    QVERIFY2(diag.lines().first().startsWith(QLatin1String("LocalStore save error: ")),
             qPrintable(diag.lines().first()));
    QVERIFY(diag.lines().first().size() > int(strlen("LocalStore save error: ")));
    QVERIFY(tempFiles(folder).isEmpty());
    if (how == QLatin1String("read-only"))
        QCOMPARE(readFile(path), old);
    else if (how == QLatin1String("file-is-dir"))
        QVERIFY(QFileInfo(path + QStringLiteral("/inside")).isDir());
    else
        QVERIFY(!QFile::exists(path));
    // Nothing was lost in memory: the next save that can write, does.
    QCOMPARE(store.state().cursorServerTs, 12345);
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
    std::vector<FNBlock> model;
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
            std::function<void(std::vector<FNBlock> &)> edit;
            if (action == 17 && !model.empty()) {
                const FNBlock copy = model[size_t(pick(int(model.size())))];
                edit = [copy](std::vector<FNBlock> &l) { l.insert(l.begin(), copy); };
            } else if (action == 18 && !model.empty()) {
                const int i = pick(int(model.size()));
                edit = [i](std::vector<FNBlock> &l) { l.erase(l.begin() + i); };
            } else if (!model.empty()) {
                const int i = pick(int(model.size()));
                const qint64 s = pick(5);
                edit = [i, s](std::vector<FNBlock> &l) { l[size_t(i)].serverID = s; };
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

void TestLocalStore::saveWaitsForTheDelay()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    {
        LocalStore slow(dir.path(), kNever);
        LocalStoreTesting::scheduleSave(slow);
        QCoreApplication::processEvents();
        QVERIFY(!QFile::exists(path));
        QVERIFY(slow.isSavePending());
    }
    QFile::remove(path);

    LocalStore store(dir.path(), 30ms);
    store.change([](StoreState &s) { s.cursorServerTs = 1; });
    LocalStoreTesting::scheduleSave(store);
    QVERIFY(!QFile::exists(path));
    QTRY_VERIFY(QFile::exists(path));
    QCOMPARE(fileState(path).cursorServerTs, 1);
    QVERIFY(!store.isSavePending());
    QVERIFY(tempFiles(dir.path()).isEmpty());
}

// A burst of changes is written once, after it pauses; a stream that never pauses is still written
// within the longest wait, and again after it.
void TestLocalStore::burstWrittenOnceStreamWithinTheLongestWait()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("gone"));
    DiagCapture diag;
    {
        LocalStore store(folder, 60ms);
        QVERIFY(QDir(folder).removeRecursively());
        for (int i = 0; i < 5; ++i) {
            LocalStoreTesting::scheduleSave(store);
            QCoreApplication::processEvents();
        }
        QCOMPARE(diag.lines().size(), 0); // not while the burst goes on
        QTRY_COMPARE(diag.lines().size(), 1);
        QVERIFY(!store.isSavePending());
    }
    QCOMPARE(diag.lines().size(), 1);

    LocalStore store(folder, 200ms);
    QVERIFY(QDir(folder).removeRecursively());
    store.setLongestSaveWait(400ms);
    QElapsedTimer stream;
    stream.start();
    // A change every 20 ms never leaves the 200 ms delay to run out.
    while (stream.elapsed() < 2000) {
        LocalStoreTesting::scheduleSave(store);
        QTest::qWait(20);
    }
    QVERIFY2(diag.lines().size() >= 1 + 3, qPrintable(QString::number(diag.lines().size())));
}

void TestLocalStore::unchangedStateIsNotSaved_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("saves");
    const char *const same[] = {"upsert same block",          "upsert same page",
                                "upsert same folder",         "edit block, nothing changed",
                                "edit page, nothing changed", "same workspaces",
                                "same current workspace",     "same cursor",
                                "same page statuses",         "same page status",
                                "same expanded rows"};
    for (const char *action : same)
        QTest::newRow(action) << QString::fromLatin1(action) << false;
    // The same calls with a real change: the rows above could not pass by never saving.
    QTest::newRow("upsert changed block") << "upsert changed block" << true;
    QTest::newRow("edit block, text changed") << "edit block, text changed" << true;
    QTest::newRow("other page status") << "other page status" << true;
    QTest::newRow("other expanded rows") << "other expanded rows" << true;
}

void TestLocalStore::unchangedStateIsNotSaved()
{
    QFETCH(QString, action);
    QFETCH(bool, saves);
    QTemporaryDir dir;
    LocalStore store(dir.path(), kNever);
    store.change([](StoreState &s) {
        s = sampleState();
        s.pageStatuses.insert(QStringLiteral("42"), FNPageStatus{.published = true, .sharedCount = 2});
    });
    store.save();
    const StoreState before = store.state();
    const FNBlock block = before.blocks.front();
    QSignalSpy told(&store, &LocalStore::stateChanged);
    if (action == QLatin1String("upsert same block"))
        store.upsertBlock(block);
    else if (action == QLatin1String("upsert same page"))
        store.upsertPage(before.pages.front());
    else if (action == QLatin1String("upsert same folder"))
        store.upsertFolder(before.folders.front());
    else if (action == QLatin1String("edit block, nothing changed"))
        store.editBlock(block.localID, [&](FNBlock &b) { b.contentJSON = block.contentJSON; });
    else if (action == QLatin1String("edit page, nothing changed"))
        store.editPage(QStringLiteral("P"), [](FNPage &p) { p.title = QStringLiteral("Hello ✓"); });
    else if (action == QLatin1String("same workspaces"))
        store.setWorkspaces(before.workspaces);
    else if (action == QLatin1String("same current workspace"))
        store.setCurrentWorkspaceID(before.currentWorkspaceID);
    else if (action == QLatin1String("same cursor"))
        store.setCursorServerTs(before.cursorServerTs);
    else if (action == QLatin1String("same page statuses"))
        store.setPageStatuses(before.pageStatuses);
    else if (action == QLatin1String("same page status"))
        store.setPageStatus(42, FNPageStatus{.published = true, .sharedCount = 2});
    else if (action == QLatin1String("same expanded rows"))
        store.setExpandedRowIDs(before.expandedRowIDs);
    else if (action == QLatin1String("upsert changed block")) {
        FNBlock changed = block;
        changed.contentJSON = QStringLiteral(R"({"text":"new"})");
        store.upsertBlock(changed);
    } else if (action == QLatin1String("edit block, text changed"))
        store.editBlock(block.localID, [](FNBlock &b) { b.contentJSON = QStringLiteral(R"({"text":"x"})"); });
    else if (action == QLatin1String("other page status"))
        store.setPageStatus(42, FNPageStatus{.published = false, .sharedCount = 2});
    else if (action == QLatin1String("other expanded rows"))
        store.setExpandedRowIDs({QStringLiteral("F"), QStringLiteral("P")});
    else
        QFAIL("unknown action");
    QCOMPARE(store.isSavePending(), saves);
    if (!saves) {
        QCOMPARE(store.state(), before); // not even a stamp
        if (action.startsWith(QLatin1String("upsert")) || action.startsWith(QLatin1String("edit")))
            QCOMPARE(told.count(), 1); // the observers still hear of it
    }
}

// A pull that moves the cursor alone writes nothing of its own; the cursor goes out with the next
// save, or when the store closes.
void TestLocalStore::movedCursorRidesWithTheNextSave()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    {
        LocalStore store(dir.path(), 20ms);
        store.change([](StoreState &s) { s = sampleState(); });
        store.save();
        store.setCursorServerTs(900);
        QVERIFY(!store.isSavePending());
        QCOMPARE(fileState(path).cursorServerTs, sampleState().cursorServerTs);
        store.setExpandedRowIDs({QStringLiteral("P")});
        QTRY_VERIFY(!store.isSavePending());
        QCOMPARE(fileState(path).cursorServerTs, 900);
        store.setCursorServerTs(901);
    }
    QCOMPARE(fileState(path).cursorServerTs, 901);
}

// Writes are counted through failing saves, each of which prints one line.
void TestLocalStore::writesAreCounted()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("gone"));
    DiagCapture diag;
    {
        // Calls with events between them, well within the delay: one write, when the store goes.
        LocalStore store(folder, kNever);
        QVERIFY(QDir(folder).removeRecursively());
        for (int i = 0; i < 3; ++i) {
            LocalStoreTesting::scheduleSave(store);
            QCoreApplication::processEvents();
        }
        QCOMPARE(diag.lines().size(), 0);
        QVERIFY(store.isSavePending());
    }
    QCOMPARE(diag.lines().size(), 1);

    {
        // The same with no event between the calls.
        LocalStore store(folder, kNever);
        QVERIFY(QDir(folder).removeRecursively());
        for (int i = 0; i < 5; ++i)
            LocalStoreTesting::scheduleSave(store);
        QCoreApplication::processEvents();
        QCOMPARE(diag.lines().size(), 1);
    }
    QCOMPARE(diag.lines().size(), 2);

    {
        // The last save runs out its delay on its own; its failure comes back to this thread.
        LocalStore store(folder, 20ms);
        QVERIFY(QDir(folder).removeRecursively());
        LocalStoreTesting::scheduleSave(store);
        QTRY_COMPARE(diag.lines().size(), 3);
        QVERIFY(!store.isSavePending());
    }
    QCOMPARE(diag.lines().size(), 3);
    QVERIFY(std::all_of(diag.lines().cbegin(), diag.lines().cend(), [](const QString &l) {
        return l.startsWith(QLatin1String("LocalStore save error: "));
    }));
}

void TestLocalStore::resetWhileASaveIsPending()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    writeFile(path, sharedJSONEncode(sampleState()));
    LocalStore store(dir.path(), 30ms);
    QCOMPARE(store.state(), sampleState());
    store.change([](StoreState &s) { s.cursorServerTs = 1000; });
    LocalStoreTesting::scheduleSave(store);

    QSignalSpy changed(&store, &LocalStore::stateChanged);
    store.reset();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(store.state(), StoreState{});
    QCOMPARE(LocalStoreTesting::indexOfPage(store, QStringLiteral("P")), -1);
    QVERIFY(!QFile::exists(path));
    QVERIFY(store.isSavePending());
    QTRY_VERIFY(QFile::exists(path));
    QCOMPARE(fileState(path), StoreState{});

    // Reset with nothing pending leaves no file behind.
    store.reset();
    QVERIFY(!QFile::exists(path));
    QVERIFY(!store.isSavePending());
}

void TestLocalStore::pendingSaveWrittenOnDestruction()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    {
        LocalStore store(dir.path(), kNever);
        store.change([](StoreState &s) { s = sampleState(); });
        LocalStoreTesting::scheduleSave(store);
    }
    QCOMPARE(fileState(path), sampleState());

    // Nothing pending: nothing written.
    QFile::remove(path);
    {
        LocalStore store(dir.path(), kNever);
    }
    QVERIFY(!QFile::exists(path));
}

void TestLocalStore::pendingSaveWrittenAtQuit()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    LocalStore store(dir.path(), kNever);
    store.change([](StoreState &s) { s = sampleState(); });
    LocalStoreTesting::scheduleSave(store);

    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();

    QVERIFY(!store.isSavePending());
    QCOMPARE(fileState(path), sampleState());
}

QTEST_GUILESS_MAIN(TestLocalStore)
#include "tst_local_store.moc"
