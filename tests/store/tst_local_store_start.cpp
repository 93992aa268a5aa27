#include "json/json_coder.h"
#include "json/json_value.h"
#include "local_store_samples.h"
#include "platform/diag.h"
#include "store/local_store.h"
#include "support/local_store_testing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

#include <sys/resource.h>
#include <unistd.h>

using namespace LocalStoreSamples;
using namespace std::chrono_literals;

// What a start finds in the data folder: a file it cannot read, one it partly reads, numbers and
// dates no build can read back, and the temporary files of saves a crash cut short.
namespace {
// Stand-ins in the written state, replaced by the text under test: the second page's position, a
// number in its block's content (read when the page opens), and its last change.
constexpr char kPositionStandIn[] = "987654321";
constexpr char kContentStandIn[] = "4242.25";
constexpr char kDateStandIn[] = "2031-07-07T07:07:07Z";

QStringList filesIn(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    names.sort();
    return names;
}

FNPage page(const char *localID, qint64 serverID, qint64 position, const char *updatedAt)
{
    FNPage p;
    p.localID = QString::fromLatin1(localID);
    p.serverID = serverID;
    p.title = QStringLiteral("Notes");
    p.position = position;
    p.createdAt = at("2026-01-04T00:00:00Z");
    p.updatedAt = at(updatedAt);
    return p;
}

StoreState twoPages()
{
    StoreState s;
    s.cursorServerTs = 99;
    s.pages = {page("P1", 41, 1, "2026-01-05T00:00:00Z"), page("P2", 42, 987654321, kDateStandIn)};
    FNBlock block;
    block.localID = QStringLiteral("B2");
    block.pageLocalID = QStringLiteral("P2");
    block.pageServerID = 42;
    block.type = QStringLiteral("text");
    block.contentJSON = QStringLiteral(R"({"n":4242.25})");
    block.createdAt = block.updatedAt = at("2026-01-05T00:00:00Z");
    s.blocks = {block};
    return s;
}

// What loads from `bytes` is `expected`, the file as it was is kept aside, and `key` is named as the
// member that lost a record.
void checkPartlyRead(const QByteArray &bytes, const QString &key, const StoreState &expected)
{
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

} // namespace

Q_DECLARE_METATYPE(StoreState)

class TestLocalStoreStart : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void missingFileStartsEmptyAndSilent();
    void unreadableFileIsKeptAside_data();
    void unreadableFileIsKeptAside();
    void asideNeverOverwritesAnEarlierOne();
    void partlyReadFileKeepsTheRest_data();
    void partlyReadFileKeepsTheRest();
    void damagedValueCostsOnlyItsRecord_data();
    void damagedValueCostsOnlyItsRecord();
    void unkeptFileIsNeverWrittenOver_data();
    void unkeptFileIsNeverWrittenOver();
    void duplicateServerIDsRepairedOnLoad_data();
    void duplicateServerIDsRepairedOnLoad();
    void extraKeysLoadAndGoAtNextSave();
    void oddNumbersAndDates_data();
    void oddNumbersAndDates();
    void leftoversOfCutSavesRemoved();
};

void TestLocalStoreStart::missingFileStartsEmptyAndSilent()
{
    QTemporaryDir dir;
    DiagCapture diag;
    LocalStore store(dir.path(), kNever);
    QCOMPARE(store.state(), StoreState{});
    QVERIFY(diag.lines().isEmpty());
    QVERIFY(asideFiles(dir.path()).isEmpty());
    QCOMPARE(store.url(), dir.filePath(QStringLiteral("state.json")));
}

void TestLocalStoreStart::unreadableFileIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray good = sharedJSONEncode(sampleState());
    QTest::newRow("a list, not an object") << QByteArray("[") + good + "]";
    QTest::newRow("a string") << QByteArray(R"("state")");
    QTest::newRow("null") << QByteArray("null");
    QTest::newRow("truncated") << good.left(good.size() / 2);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not JSON") << QByteArray("hello");
    QTest::newRow("invalid UTF-8 outside strings")
        << QByteArray(good).replace("\"pages\":", "\"pages\":\xff");
}

void TestLocalStoreStart::unreadableFileIsKeptAside()
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

void TestLocalStoreStart::asideNeverOverwritesAnEarlierOne()
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
void TestLocalStoreStart::partlyReadFileKeepsTheRest_data()
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

void TestLocalStoreStart::partlyReadFileKeepsTheRest()
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
    checkPartlyRead(QJsonDocument(root).toJson(), key, expected);
}

// A number no double holds or text that is not UTF-8, written into one record of the two-of-each
// state (after `anchor`, in place of `from`), costs that record only, wherever in it the damage sits.
void TestLocalStoreStart::damagedValueCostsOnlyItsRecord_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("key");
    QTest::addColumn<StoreState>("expected");

    const StoreState all = twoOfEach();
    const QByteArray good = sharedJSONEncode(all);
    const auto damaged = [&good](const QByteArray &anchor, const QByteArray &from, const QByteArray &to) {
        const qsizetype record = good.indexOf(anchor);
        const qsizetype at = good.indexOf(from, record);
        return record < 0 || at < 0 ? QByteArray() : QByteArray(good).replace(at, from.size(), to);
    };
    auto without = [&all](auto StoreState::*list, size_t at) {
        StoreState s = all;
        (s.*list).erase((s.*list).begin() + qsizetype(at));
        return s;
    };

    QTest::newRow("number too big in a block's field")
        << damaged(R"("localID":"B2")", R"("position":0)", R"("position":1e400)") << "blocks"
        << without(&StoreState::blocks, 1);
    QTest::newRow("number too big in a page")
        << damaged(R"("localID":"P2")", R"("coverOffsetX":50)", R"("coverOffsetX":1e400)") << "pages"
        << without(&StoreState::pages, 1);
    QTest::newRow("number too big in an outbox op")
        << damaged(R"("localID":"O2")", R"("attempts":1)", R"("attempts":1e400)") << "outbox"
        << without(&StoreState::outbox, 1);
    QTest::newRow("number too big in a member no build reads")
        << damaged(R"("localID":"O")", R"("attempts":1)", R"("attempts":1,"retries":-1e400)") << "outbox"
        << without(&StoreState::outbox, 0);
    QTest::newRow("not UTF-8 in a block's contentJSON")
        << damaged(R"("localID":"B")", R"(\"text\":\"\")", "\\\"text\\\":\\\"caf\xE9\\\"") << "blocks"
        << without(&StoreState::blocks, 0);
    QTest::newRow("not UTF-8 in a page title")
        << damaged(R"("localID":"P")", "Hello", "Hel\xC0lo") << "pages" << without(&StoreState::pages, 0);
    // Read as a key no build knows, the op would lose its retry time.
    QTest::newRow("not UTF-8 in a key") << damaged(R"("localID":"O2")", R"("nextRetryAt")",
                                                   "\"nextRetry\xFF"
                                                   "At\"")
                                        << "outbox" << without(&StoreState::outbox, 1);
    StoreState status = all;
    status.pageStatuses.remove(QStringLiteral("142"));
    QTest::newRow("not UTF-8 in a page status's key")
        << damaged(R"("pageStatuses")", R"("142")", "\"14\xF5\"") << "pageStatuses" << status;
    // Outside any record a bad value fails as a value of the wrong kind does: it takes its empty value.
    StoreState noCursor = all;
    noCursor.cursorServerTs = 0;
    QTest::newRow("number too big as the cursor")
        << damaged(R"("cursorServerTs")", "99", "1e400") << "cursorServerTs" << noCursor;
}

void TestLocalStoreStart::damagedValueCostsOnlyItsRecord()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, key);
    QFETCH(StoreState, expected);
    QVERIFY(!bytes.isEmpty());

    checkPartlyRead(bytes, key, expected);
}

// The data file could not be copied (or renamed) aside: nothing may then write over or remove it,
// even once writing would work again.
void TestLocalStoreStart::unkeptFileIsNeverWrittenOver_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("partly");

    QTest::newRow("partly read, file size limit") << "size-limit" << true;
    if (::geteuid() != 0) {
        QTest::newRow("partly read, read-only folder") << "read-only" << true;
        QTest::newRow("unreadable, read-only folder") << "read-only" << false;
    }
}

void TestLocalStoreStart::unkeptFileIsNeverWrittenOver()
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
void TestLocalStoreStart::duplicateServerIDsRepairedOnLoad_data()
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

void TestLocalStoreStart::duplicateServerIDsRepairedOnLoad()
{
    QFETCH(QString, stored);
    QFETCH(QString, loaded);
    auto blocks = [](const QString &tokens) {
        RecordList<FNBlock> out;
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

void TestLocalStoreStart::extraKeysLoadAndGoAtNextSave()
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

void TestLocalStoreStart::oddNumbersAndDates_data()
{
    QTest::addColumn<QByteArray>("number"); // empty: the stand-ins stay
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<QString>("outcome"); // "read" or "page left out"
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QByteArray>("content"); // the number as the block's content reads it; empty: unread

    const QByteArray digits88 = QByteArray("1234567890").repeated(8) + "12345678";
    QTest::newRow("348 zeros after the point, then 1")
        << "0." + QByteArray(348, '0') + "1" << QByteArray() << "read" << qint64(0) << QByteArray("0");
    QTest::newRow("0e39") << QByteArray("0e39") << QByteArray() << "read" << qint64(0) << QByteArray("0");
    QTest::newRow("21 digits after the point")
        << QByteArray("0.184467440737095516159") << QByteArray() << "page left out" << qint64(0)
        << QByteArray("0.1844674407370955");
    QTest::newRow("88-digit mantissa e308")
        << digits88 + "e308" << QByteArray() << "page left out" << qint64(0) << QByteArray();
    QTest::newRow("2e308") << QByteArray("2e308") << QByteArray() << "page left out" << qint64(0)
                           << QByteArray();
    QTest::newRow("offset carries past 9999") << QByteArray() << QByteArray("9999-12-31T20:00:00-04:00")
                                              << "page left out" << qint64(0) << QByteArray(kContentStandIn);
    QTest::newRow("offset carries before year 1")
        << QByteArray() << QByteArray("0001-01-01T00:30:00+01:00") << "page left out" << qint64(0)
        << QByteArray(kContentStandIn);
}

void TestLocalStoreStart::oddNumbersAndDates()
{
    QFETCH(QByteArray, number);
    QFETCH(QByteArray, date);
    QFETCH(QString, outcome);
    QFETCH(qint64, position);
    QFETCH(QByteArray, content);

    QByteArray bytes = sharedJSONEncode(twoPages());
    QCOMPARE(bytes.count(kPositionStandIn) + bytes.count(kContentStandIn) + bytes.count(kDateStandIn), 3);
    if (!number.isEmpty())
        bytes.replace(kPositionStandIn, number).replace(kContentStandIn, number);
    if (!date.isEmpty())
        bytes.replace(kDateStandIn, date);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    writeFile(path, bytes);

    DiagCapture diag;
    StoreState loaded;
    {
        LocalStore store(dir.path(), kNever);
        loaded = store.state();
        QVERIFY(!store.isSaveBlocked());
        store.save();
    }
    const QStringList files = filesIn(dir.path());
    QCOMPARE(loaded.blocks.size(), size_t(1));
    // A number no double holds costs the page it is in; inside the block's text it is only text.
    if (content.isEmpty())
        QCOMPARE(loaded.blocks.front().contentJSON, QString::fromLatin1(R"({"n":)" + number + "}"));
    else
        QCOMPARE(parseJSONObject(loaded.blocks.front().contentJSON.toUtf8()).at(QStringLiteral("n")),
                 JSONValue::parse(content));
    StoreState expected = twoPages();
    expected.blocks = loaded.blocks;
    if (outcome == QLatin1String("page left out")) {
        expected.pages.pop_back();
        QCOMPARE(diag.lines().size(), 1);
        QVERIFY2(diag.lines().first().contains(QLatin1String("left out pages 1")),
                 qPrintable(diag.lines().first()));
        QCOMPARE(files.size(), 2);
        QVERIFY(files.last().startsWith(QLatin1String("state.json.original-")));
    } else {
        expected.pages.back().position = position;
        QVERIFY2(diag.lines().isEmpty(), qPrintable(diag.lines().join(u'\n')));
        QCOMPARE(files, QStringList{QStringLiteral("state.json")});
    }
    QCOMPARE(loaded, expected);
    // What loaded was saved as text the next start reads whole.
    LocalStore again(dir.path(), kNever);
    QCOMPARE(again.state(), expected);
    QCOMPARE(diag.lines().size(), outcome == QLatin1String("read") ? 0 : 1);
}

// The lock is held before the store is built, so its own temporary files can only be leftovers;
// another name is not the store's to remove, and "state.json" is neither rewritten nor touched.
void TestLocalStoreStart::leftoversOfCutSavesRemoved()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    const StoreState state = twoPages();
    const QByteArray bytes = sharedJSONEncode(state);
    writeFile(path, bytes);
    writeFile(dir.filePath(QStringLiteral("state.json.tmp-3k9x0a")), bytes.left(bytes.size() / 2));
    writeFile(dir.filePath(QStringLiteral("state.json.tmp-zz")), bytes);
    writeFile(dir.filePath(QStringLiteral("state.json.tmp")), "another writer's");
    writeFile(dir.filePath(QStringLiteral("notes.tmp-1")), "not the store's");
    const QDateTime modified = QDateTime::currentDateTimeUtc().addDays(-3);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    }

    DiagCapture diag;
    LocalStore store(dir.path(), kNever);
    QCOMPARE(store.state(), state);
    QCOMPARE(filesIn(dir.path()), QStringList({QStringLiteral("notes.tmp-1"), QStringLiteral("state.json"),
                                               QStringLiteral("state.json.tmp")}));
    QCOMPARE(readFile(path), bytes);
    QCOMPARE(QFileInfo(path).lastModified().toSecsSinceEpoch(), modified.toSecsSinceEpoch());
    QCOMPARE(readFile(dir.filePath(QStringLiteral("state.json.tmp"))), QByteArray("another writer's"));
    QCOMPARE(diag.lines(), QStringList{QStringLiteral(
                               "LocalStore: removed 2 temporary file(s) left by an interrupted save")});
}

QTEST_GUILESS_MAIN(TestLocalStoreStart)
#include "tst_local_store_start.moc"
