#include "json/json_coder.h"
#include "json/json_value.h"
#include "platform/diag.h"
#include "store/local_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

// What a start finds in the data folder: numbers and dates no build can read back, and the
// temporary files of saves a crash cut short.
namespace {

constexpr auto kNever = 1h;
// Stand-ins in the written state, replaced by the text under test: the second page's position, a
// number in its block's content (read when the page opens), and its last change.
constexpr char kPositionStandIn[] = "987654321";
constexpr char kContentStandIn[] = "4242.25";
constexpr char kDateStandIn[] = "2031-07-07T07:07:07Z";

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QStringList filesIn(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    names.sort();
    return names;
}

QDateTime at(const char *iso)
{
    return *json::parseDate(QString::fromLatin1(iso));
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

} // namespace

class TestLocalStoreStart : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oddNumbersAndDates_data();
    void oddNumbersAndDates();
    void leftoversOfCutSavesRemoved();
};

void TestLocalStoreStart::oddNumbersAndDates_data()
{
    QTest::addColumn<QByteArray>("number"); // empty: the stand-ins stay
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<QString>("outcome"); // "read", "set aside" or "page left out"
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QByteArray>("content"); // the number as the block's content reads it

    const QByteArray digits88 = QByteArray("1234567890").repeated(8) + "12345678";
    QTest::newRow("348 zeros after the point, then 1")
        << "0." + QByteArray(348, '0') + "1" << QByteArray() << "read" << qint64(0) << QByteArray("0");
    QTest::newRow("0e39") << QByteArray("0e39") << QByteArray() << "read" << qint64(0) << QByteArray("0");
    QTest::newRow("21 digits after the point")
        << QByteArray("0.184467440737095516159") << QByteArray() << "page left out" << qint64(0)
        << QByteArray("0.1844674407370955");
    QTest::newRow("88-digit mantissa e308")
        << digits88 + "e308" << QByteArray() << "set aside" << qint64(0) << QByteArray();
    QTest::newRow("2e308") << QByteArray("2e308") << QByteArray() << "set aside" << qint64(0) << QByteArray();
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
    if (outcome == QLatin1String("set aside")) {
        QCOMPARE(loaded, StoreState{});
        QCOMPARE(diag.lines().size(), 1);
        QVERIFY2(diag.lines().first().contains(QLatin1String("Number too big")),
                 qPrintable(diag.lines().first()));
        QCOMPARE(files.size(), 2);
        QVERIFY(files.last().startsWith(QLatin1String("state.json.unreadable-")));
        QCOMPARE(readFile(dir.filePath(files.last())), bytes);
        return;
    }
    QCOMPARE(loaded.blocks.size(), size_t(1));
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
