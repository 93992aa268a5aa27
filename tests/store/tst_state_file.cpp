// "state.json" as other builds and crashes leave it: the bytes an older build wrote load and are
// written back unchanged, and a save killed at any moment leaves the old file or the new one.
#include "json/json_coder.h"
#include "platform/diag.h"
#include "state_file_samples.h"
#include "store/local_store.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <random>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList tempFiles(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("state.json.tmp-*")}, QDir::Files | QDir::Hidden);
}

} // namespace

class TestStateFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void olderBuildsFileLoadsAndIsWrittenBackUnchanged();
    void killedSaveLeavesTheOldOrTheNewFile();
    void everySaveWritesTheWholeStateOfItsMoment();
    void largeSaveGoesOutInPiecesOrNotAtAll_data();
    void largeSaveGoesOutInPiecesOrNotAtAll();
};

// The fixture was written by the build before saves moved to their own thread.
void TestStateFile::olderBuildsFileLoadsAndIsWrittenBackUnchanged()
{
    const QByteArray older = readFile(QStringLiteral(STATE_FILE_FIXTURE));
    QVERIFY(!older.isEmpty());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(older);
    }
    LocalStore store(dir.path());
    QCOMPARE(store.state(), StateFileSamples::numbered(7, 40));
    store.save();
    QCOMPARE(readFile(path), older);
    // A change goes out in the same form: what this build writes, the older one wrote for that state.
    store.change([](StoreState &s) { s.cursorServerTs = 8; });
    store.save();
    StoreState expected = StateFileSamples::numbered(7, 40);
    expected.cursorServerTs = 8;
    QCOMPARE(readFile(path), sharedJSONEncode(expected));
}

void TestStateFile::killedSaveLeavesTheOldOrTheNewFile()
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    const QString path = dir.filePath(QStringLiteral("state.json"));
    std::mt19937 random(QTest::currentTestFunction()[0]);
    qint64 written = 0; // the last state the child said was on disk
    int cutShort = 0;   // kills that left a temporary file: a write was under way
    // Every other round, the last among them, the child stops inside a write and says so, so kills land there
    // whatever the machine's timing; the others kill at a random moment.
    for (int round = 0; round < 40; ++round) {
        const bool inWrite = round % 2 == 1; // the first round leaves a file to read
        // What the file holds as the child starts: a kill may have landed after a write but before
        // the child said so.
        const qint64 atStart = round == 0 ? 0 : sharedJSONDecode<StoreState>(readFile(path)).cursorServerTs;
        qint64 saidThisRound = atStart;
        QStringList args{folder};
        if (inWrite)
            args << QStringLiteral("--stop-in-write") << QString::number(random() % 4);
        QProcess child;
        child.start(QStringLiteral(STATE_SAVE_LOOP), args);
        QVERIFY(child.waitForStarted());
        QByteArray said;
        if (inWrite) {
            while (!said.contains("writing\n")) {
                QVERIFY2(child.waitForReadyRead(60000), "the child never began a write");
                said += child.readAllStandardOutput();
            }
        } else {
            // Kill it at a random moment after it has begun saving (loading is not what is tested).
            QVERIFY(child.waitForReadyRead(60000));
            QTest::qSleep(int(random() % 40));
        }
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(20000));
        said += child.readAllStandardOutput();
        for (const QByteArray &line : said.split('\n')) {
            if (!line.isEmpty() && line != "writing") {
                written = std::max(written, line.toLongLong());
                saidThisRound = std::max(saidThisRound, line.toLongLong());
            }
        }
        const bool leftTemp = !tempFiles(folder).isEmpty();
        if (inWrite)
            QVERIFY2(leftTemp, qPrintable(QString::number(round)));
        if (leftTemp)
            ++cutShort;

        // The file reads whole and strictly as one of the states, no older than the last one done.
        StoreState state;
        try {
            state = sharedJSONDecode<StoreState>(readFile(path));
        } catch (const DecodeError &e) {
            QFAIL(qPrintable(QStringLiteral("round %1: %2").arg(round).arg(e.message())));
        }
        // At most one write done that the child had no time to tell of.
        QVERIFY2(state.cursorServerTs >= written, qPrintable(QString::number(round)));
        QVERIFY2(state.cursorServerTs <= saidThisRound + 1, qPrintable(QString::number(round)));
        // Stopped inside a write, the file is still the one before it.
        if (inWrite)
            QCOMPARE(state.cursorServerTs, saidThisRound);
        QCOMPARE(state, StateFileSamples::numbered(state.cursorServerTs));
    }
    QVERIFY(cutShort >= 20);
    // The next start clears what the kills left behind.
    LocalStore store(folder);
    QVERIFY(tempFiles(folder).isEmpty());
    QVERIFY(store.state().cursorServerTs >= written);
}

// Saves reuse the chunks of blocks no change reached since the last one: whatever changed, and
// however, each save must still write exactly the state of its moment.
void TestStateFile::everySaveWritesTheWholeStateOfItsMoment()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    LocalStore store(dir.path());
    store.change([](StoreState &s) { s = StateFileSamples::numbered(1, 1700); });
    std::mt19937 random(7);
    const auto someBlock = [&] {
        const auto &blocks = store.state().blocks;
        return blocks[random() % blocks.size()];
    };
    for (int step = 0; step < 300; ++step) {
        const QString text = QStringLiteral(R"({"text":"step %1"})").arg(step);
        switch (random() % 9) {
        case 0:
            store.editBlock(someBlock().localID, [&](FNBlock &b) { b.contentJSON = text; });
            break;
        case 1: {
            FNBlock b = someBlock();
            b.position += 1;
            store.upsertBlock(b);
            break;
        }
        case 2: {
            FNBlock b;
            b.pageLocalID = QStringLiteral("P");
            b.contentJSON = text;
            store.upsertBlock(b);
            break;
        }
        case 3:
            store.markBlockDeleted(someBlock().localID);
            break;
        case 4: {
            std::vector<FNBlock> edited{someBlock(), someBlock(), someBlock()};
            for (FNBlock &b : edited)
                b.contentJSON = text;
            store.replaceBlocks(edited);
            break;
        }
        case 5: {
            FNBlock b;
            b.serverID = 900000 + step;
            store.appendBlocks({b});
            break;
        }
        case 6: {
            const size_t at = random() % store.state().blocks.size();
            store.change([&](StoreState &s) { s.blocks.erase(s.blocks.begin() + qsizetype(at)); });
            break;
        }
        case 7:
            store.editPage(QStringLiteral("P"), [&](FNPage &p) { p.title = text; });
            break;
        default:
            store.save();
            QCOMPARE(readFile(path), sharedJSONEncode(store.state()));
        }
    }
    store.save();
    QCOMPARE(readFile(path), sharedJSONEncode(store.state()));
}

void TestStateFile::largeSaveGoesOutInPiecesOrNotAtAll_data()
{
    QTest::addColumn<int>("blocks");
    QTest::addColumn<qint64>("fileLimit"); // 0: none
    QTest::newRow("within one piece") << 10 << qint64(0);
    QTest::newRow("about one piece") << 3500 << qint64(0);
    QTest::newRow("many pieces") << 15000 << qint64(0);
    QTest::newRow("the disk refuses a later piece") << 15000 << qint64(2 << 20);
}

// The text goes to the file as it is encoded, and still becomes "state.json" whole or not at all.
void TestStateFile::largeSaveGoesOutInPiecesOrNotAtAll()
{
    QFETCH(int, blocks);
    QFETCH(qint64, fileLimit);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    LocalStore store(dir.path(), std::chrono::hours(1));
    store.change([](StoreState &s) { s = StateFileSamples::numbered(1, 1); });
    store.save();
    const QByteArray before = readFile(path);
    QVERIFY(!before.isEmpty());

    store.change([&](StoreState &s) { s = StateFileSamples::numbered(2, blocks); });
    const QByteArray expected = sharedJSONEncode(store.state());
    QVERIFY(fileLimit == 0 || expected.size() > fileLimit);
    rlimit old{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead
    if (fileLimit) {
        rlimit limit = old;
        limit.rlim_cur = rlim_t(fileLimit);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &limit) == 0);
    }
    DiagCapture diagnostics;
    store.save();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    const QByteArray written = readFile(path);
    QVERIFY2(written == (fileLimit ? before : expected),
             qPrintable(QStringLiteral("%1 bytes, %2 expected, first difference at %3")
                            .arg(written.size())
                            .arg((fileLimit ? before : expected).size())
                            .arg(std::mismatch(written.cbegin(), written.cend(),
                                               (fileLimit ? before : expected).cbegin(),
                                               (fileLimit ? before : expected).cend())
                                     .first -
                                 written.cbegin())));
    QCOMPARE(tempFiles(dir.path()), QStringList());
    QCOMPARE(diagnostics.contains(QStringLiteral("LocalStore save error")), fileLimit != 0);
}

QTEST_GUILESS_MAIN(TestStateFile)
#include "tst_state_file.moc"
