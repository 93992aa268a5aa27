#include "json/json_coder.h"
#include "local_store_samples.h"
#include "platform/diag.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "support/local_store_testing.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstring>

#include <unistd.h>

using namespace LocalStoreSamples;
using namespace std::chrono_literals;

// The store's saves: private files, writes that fail without loss, and when a change is written.
class TestLocalStoreSaves : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void filesArePrivate();
    void saveLeavesOtherTempFilesAlone();
    void failingSaveKeepsTheOldFile_data();
    void failingSaveKeepsTheOldFile();

    void saveWaitsForTheDelay();
    void burstWrittenOnceStreamWithinTheLongestWait();
    void unchangedStateIsNotSaved_data();
    void unchangedStateIsNotSaved();
    void movedCursorRidesWithTheNextSave();
    void writesAreCounted();
    void resetWhileASaveIsPending();
    void pendingSaveWrittenOnDestruction();
    void pendingSaveWrittenAtQuit();
    void requestOutAtAKillCountsAsPossiblyArrived();
    void notesLeaveTheJournalOnceASaveCoversThem_data();
    void notesLeaveTheJournalOnceASaveCoversThem();
    void aNoteChecksWhatItsRequestFilled_data();
    void aNoteChecksWhatItsRequestFilled();
};

// Other local users can neither list the folder nor read the data; an older build's open modes
// are narrowed at load, before anything is written.
void TestLocalStoreSaves::filesArePrivate()
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
void TestLocalStoreSaves::saveLeavesOtherTempFilesAlone()
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

void TestLocalStoreSaves::failingSaveKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("state.json replaced by a folder") << "file-is-dir";
    QTest::newRow("folder removed after loading") << "folder-gone";
    QTest::newRow("folder below a regular file") << "below-file";
    if (::geteuid() != 0)
        QTest::newRow("read-only folder") << "read-only";
}

void TestLocalStoreSaves::failingSaveKeepsTheOldFile()
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

void TestLocalStoreSaves::saveWaitsForTheDelay()
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
    // The writer's thread renames the file before its report reaches this one.
    QTRY_VERIFY(!store.isSavePending());
    QVERIFY(tempFiles(dir.path()).isEmpty());
}

// A burst of changes is written once, after it pauses; a stream that never pauses is still written
// within the longest wait, and again after it.
void TestLocalStoreSaves::burstWrittenOnceStreamWithinTheLongestWait()
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

void TestLocalStoreSaves::unchangedStateIsNotSaved_data()
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

void TestLocalStoreSaves::unchangedStateIsNotSaved()
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
void TestLocalStoreSaves::movedCursorRidesWithTheNextSave()
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
void TestLocalStoreSaves::writesAreCounted()
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

void TestLocalStoreSaves::resetWhileASaveIsPending()
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

void TestLocalStoreSaves::pendingSaveWrittenOnDestruction()
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

void TestLocalStoreSaves::pendingSaveWrittenAtQuit()
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

// A request noted as going out and never settled (the process killed) marks its operation as
// possibly arrived at the next load, with its send window and the fields it filled; the note stays
// through saves while a request is out, and the first save after goes empties it. A line a kill
// cut short is no note.
void TestLocalStoreSaves::requestOutAtAKillCountsAsPossiblyArrived()
{
    QTemporaryDir dir;
    const QString notes = dir.filePath(QStringLiteral("state.json.sending"));
    const SendWindow window{at("2026-01-06T00:00:00Z"), at("2026-01-06T00:01:00Z")};
    {
        LocalStore store(dir.path(), kNever);
        store.change([](StoreState &s) { s = sampleState(); });
        store.save();
        Outbox::of(store).goingOut(QStringLiteral("O"), window,
                                   QMap<QString, qint64>{{QStringLiteral("B"), 6}});
        store.save();
        QVERIFY(QFileInfo(notes).size() > 0);
        LocalStoreTesting::abandon(store);
    }
    QFile cut(notes);
    QVERIFY(cut.open(QIODevice::Append));
    cut.write(R"({"op":"O2","filled":{"B")");
    cut.close();

    LocalStore store(dir.path(), kNever);
    const FNSyncOp &op = store.state().outbox.front();
    QVERIFY(op.unanswered);
    QCOMPARE(op.unansweredSends.value_or(std::vector<SendWindow>{}).size(), size_t(1));
    QCOMPARE(op.unansweredSends->front().until, window.until);
    QCOMPARE(store.state().fillChecks.size(), size_t(1));
    QCOMPARE(store.state().fillChecks.front().fields, 6);
    store.save();
    QCOMPARE(QFileInfo(notes).size(), 0);
    QVERIFY(fileState(dir.filePath(QStringLiteral("state.json"))).outbox.front().unanswered);

    // A new request: kept while it is out, emptied by the save after it settled.
    Outbox::of(store).goingOut(QStringLiteral("O"), std::nullopt);
    store.save();
    QVERIFY(QFileInfo(notes).size() > 0);
    Outbox::of(store).goneOut();
    store.save();
    QCOMPARE(QFileInfo(notes).size(), 0);
}

namespace {

template <typename Record>
Record renamed(Record record, const char *id)
{
    record.localID = QString::fromLatin1(id);
    return record;
}

// The operations the journal's readable notes name, in order.
QStringList notedOps(const QString &path)
{
    QStringList ops;
    for (const QByteArray &line : readFile(path).split('\n')) {
        if (!line.isEmpty())
            ops << QString::fromUtf8(line).section(QLatin1Char('"'), 3, 3);
    }
    return ops;
}

} // namespace

void TestLocalStoreSaves::notesLeaveTheJournalOnceASaveCoversThem_data()
{
    QTest::addColumn<bool>("killedBeforeTheTrim");
    QTest::newRow("the save takes the notes it covers out") << false;
    QTest::newRow("a kill leaves them in after the save") << true;
}

// O's request is answered and O2's is out when a save is written: the save holds how O went and
// only O2's note stays. Launched again, O2 counts as possibly arrived and O does not, also when a
// kill came between the save and the journal's trim.
void TestLocalStoreSaves::notesLeaveTheJournalOnceASaveCoversThem()
{
    QFETCH(bool, killedBeforeTheTrim);
    QTemporaryDir dir;
    const QString notes = dir.filePath(QStringLiteral("state.json.sending"));
    {
        LocalStore store(dir.path(), kNever);
        store.change([](StoreState &s) {
            s = sampleState();
            s.outbox.push_back(renamed(s.outbox.front(), "O2"));
        });
        store.save();
        Outbox::of(store).goingOut(QStringLiteral("O"), std::nullopt);
        Outbox::of(store).goneOut();
        Outbox::of(store).goingOut(QStringLiteral("O2"), std::nullopt);
        const QByteArray both = readFile(notes);
        QCOMPARE(notedOps(notes), (QStringList{QStringLiteral("O"), QStringLiteral("O2")}));
        store.save();
        QCOMPARE(notedOps(notes), QStringList{QStringLiteral("O2")});
        if (killedBeforeTheTrim)
            writeFile(notes, both);
        LocalStoreTesting::abandon(store);
    }
    LocalStore store(dir.path(), kNever);
    QCOMPARE(store.state().outbox.size(), size_t(2));
    QVERIFY(!store.state().outbox[0].unanswered);
    QVERIFY(store.state().outbox[1].unanswered);
    // The next save holds that: the journal is empty after it.
    store.save();
    QCOMPARE(QFileInfo(notes).size(), 0);
}

void TestLocalStoreSaves::aNoteChecksWhatItsRequestFilled_data()
{
    QTest::addColumn<QByteArray>("note");
    QTest::addColumn<bool>("unanswered");
    QTest::addColumn<qint64>("checked"); // the fields of B's fill check; 0 for none
    QTest::newRow("operation queued") << QByteArray(R"({"op":"O","filled":{"B":4},"n":8})") << true << 4LL;
    // Sent before any save wrote it: the request went out all the same.
    QTest::newRow("operation gone, block live")
        << QByteArray(R"({"op":"X","filled":{"B":4},"n":8})") << false << 4LL;
    QTest::newRow("operation gone, block deleted")
        << QByteArray(R"({"op":"X","filled":{"B2":4},"n":8})") << false << 0LL;
    QTest::newRow("operation gone, block unknown")
        << QByteArray(R"({"op":"X","filled":{"Z":4},"n":8})") << false << 0LL;
    // An older build's note, unnumbered: with its operation gone the save after its answer may
    // hold all it did.
    QTest::newRow("older note, operation queued")
        << QByteArray(R"({"op":"O","filled":{"B":4}})") << true << 4LL;
    QTest::newRow("older note, operation gone")
        << QByteArray(R"({"op":"X","filled":{"B":4}})") << false << 0LL;
    // Covered by the save the state came from.
    QTest::newRow("note the state covers")
        << QByteArray(R"({"op":"O","filled":{"B":4},"n":7})") << false << 0LL;
}

void TestLocalStoreSaves::aNoteChecksWhatItsRequestFilled()
{
    QFETCH(QByteArray, note);
    QFETCH(bool, unanswered);
    QFETCH(qint64, checked);
    QTemporaryDir dir;
    StoreState state = sampleState();
    state.blocks.push_back(renamed(state.blocks.front(), "B2"));
    state.blocks.back().deletedAt = at("2026-01-06T00:00:00Z");
    state.sendNotesCovered = 7;
    writeFile(dir.filePath(QStringLiteral("state.json")), sharedJSONEncode(state));
    writeFile(dir.filePath(QStringLiteral("state.json.sending")), "\n" + note + "\n");
    LocalStore store(dir.path(), kNever);
    QCOMPARE(store.state().outbox.front().unanswered, unanswered);
    const auto &checks = store.state().fillChecks;
    QCOMPARE(checks.size(), size_t(checked != 0 ? 1 : 0));
    if (checked != 0) {
        QCOMPARE(checks.front().blockLocalID, QStringLiteral("B"));
        QCOMPARE(checks.front().fields, checked);
        QVERIFY(checks.front().awaitingEcho);
    }
}

QTEST_GUILESS_MAIN(TestLocalStoreSaves)
#include "tst_local_store_saves.moc"
