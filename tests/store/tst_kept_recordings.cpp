// A kept voice note goes with its block: nothing of a data set that is gone, or of a block that got
// its sound another way, is uploaded or left in the data folder. And it goes only then: not while
// its block is unknown, nor before a save holds the address it was uploaded under.
#include "fake-service/fake_service.h"
#include "json/json_value.h"
#include "store/block_fields.h"
#include "store/kept_recordings.h"
#include "store/outbox.h"
#include "support/app_harness.h"
#include "support/killed_child.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <thread>

namespace {

constexpr int kWait = 30000;
const QString kUploadPath = QStringLiteral("/api/upload.php");
const QString kRecordingName = QStringLiteral("pn-rec-1.m4a");
const QByteArray kSound = "sound of a voice note";

// The child process is the app; these tell it what to do. Its mode is "hold" (the address stored,
// no save let run before the kill), "saved" (killed once the recording went after its save) or
// "running" (killed at some moment while the app runs on).
const char *const kModeVar = "PENROOST_KEPT_MODE";
const char *const kOriginVar = "PENROOST_KEPT_ORIGIN";
const char *const kTokenVar = "PENROOST_KEPT_TOKEN";
const char *const kUserVar = "PENROOST_KEPT_USER";
const char *const kFolderVar = "PENROOST_KEPT_FOLDER";
const char *const kBlockVar = "PENROOST_KEPT_BLOCK"; // server id

const QByteArray kUploadedLine = "uploaded";

QString writeRecording(const QString &folder)
{
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(kRecordingName);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(kSound) != kSound.size())
        return QString();
    return path;
}

QString addressOf(const FNBlock &block)
{
    const JSONObject content = parseJSONObject(block.contentJSON.toUtf8());
    const auto it = content.find(QStringLiteral("url"));
    return it != content.end() && it->second.isString() ? it->second.toString() : QString();
}

// The child: the app on the data folder with the block pulled and made a voice note. It records
// (a file kept with the block), uploads it, says so once the block holds the address, and is
// killed at the moment its mode names.
int actAsApp()
{
    const QString mode = qEnvironmentVariable(kModeVar);
    AppDevice device(qEnvironmentVariable(kOriginVar), qEnvironmentVariable(kFolderVar));
    AppHarness app(device);
    app.session.signIn(qEnvironmentVariable(kTokenVar),
                       AuthUser{qEnvironmentVariable(kUserVar).toLongLong(), QStringLiteral("Kim"),
                                QStringLiteral("kim@example.com")});
    if (!runTask(app.engine.syncNow()).ok())
        return KilledChild::fail("first sync");
    const FNBlock *pulled = app.store.liveBlockWithServerID(qEnvironmentVariable(kBlockVar).toLongLong());
    if (!pulled)
        return KilledChild::fail("block not pulled");
    const FNBlock block = *pulled;
    app.store.editBlock(block.localID, [](FNBlock &b) {
        b.type = QStringLiteral("audio");
        b.contentJSON = QStringLiteral("{}");
    });
    Outbox::of(app.store).blockEdited(block.pageLocalID, block.localID, BlockFields::All);
    Outbox::of(app.store).pageBlocksUpsert(block.pageLocalID);
    if (!runTask(app.engine.syncNow()).ok())
        return KilledChild::fail("voice note block not sent");
    // The block as a voice note without a sound is on disk before the recording.
    app.store.save();
    QTemporaryDir temp;
    const QString recording = writeRecording(temp.path());
    if (recording.isEmpty() || !app.recordings.keep(block.localID, recording))
        return KilledChild::fail("recording not kept");
    const TaskOutcome<bool> uploaded = runTask(app.recordings.upload(block.localID));
    if (!uploaded.ok() || !uploaded.value || addressOf(*app.store.block(block.localID)).isEmpty())
        return KilledChild::fail("not uploaded");
    if (mode == QLatin1String("hold")) {
        KilledChild::say(kUploadedLine);
        // Nothing more runs here: no save, no event, until the kill.
        std::this_thread::sleep_for(std::chrono::minutes(2));
        return 2;
    }
    if (mode == QLatin1String("saved") &&
        !QTest::qWaitFor([&] { return !app.recordings.fileOf(block.localID); }, kWait))
        return KilledChild::fail("recording never let go");
    KilledChild::say(kUploadedLine);
    return KilledChild::idleUntilKilled();
}

} // namespace

class TestKeptRecordings : public QObject, private KilledChildFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void keptRecordingGoesWithItsBlock_data();
    void keptRecordingGoesWithItsBlock();
    void recordingGoesOnlyWhenTheStateKnowsItsBlock_data();
    void recordingGoesOnlyWhenTheStateKnowsItsBlock();
    void recordingWaitsForASaveHoldingItsAddress();
    void answerThatIsNoAddressIsAFailedUpload_data();
    void answerThatIsNoAddressIsAFailedUpload();
    void uploadedRecordingOutlivesAKill_data();
    void uploadedRecordingOutlivesAKill();

private:
    FakeService::Account m_kept;
};

void TestKeptRecordings::initTestCase()
{
    QVERIFY(m_fake.start());
    m_kept = m_fake.createAccount(QStringLiteral("kept@example.com"), "secret12", QStringLiteral("K"));
    QVERIFY(!m_kept.token.isEmpty());
}

void TestKeptRecordings::cleanup()
{
    m_fake.clearFaults();
}

void TestKeptRecordings::keptRecordingGoesWithItsBlock_data()
{
    QTest::addColumn<QString>("change");

    // A logout, or another account's sign-in: the data set is wiped.
    QTest::newRow("data set reset") << "reset";
    QTest::newRow("block deleted") << "deleted";
    // A file attached to the block meanwhile is its sound; the older recording must not replace it.
    QTest::newRow("block given a sound") << "sound";
}

void TestKeptRecordings::keptRecordingGoesWithItsBlock()
{
    QFETCH(QString, change);
    m_fake.clearRequests();
    TestDevice device(m_fake.origin(), m_kept.token);
    KeptRecordings kept(device.store(), device.client());
    kept.followEngine(device.engine());
    const FNPage page = device.addPage(m_kept.workspaceId, QStringLiteral("Notes"));
    const FNBlock block = device.addBlock(page.localID, QString(), 0);
    device.store().editBlock(block.localID, [](FNBlock &b) { b.type = QStringLiteral("audio"); });

    QTemporaryDir temp;
    const QString recording = temp.filePath(QStringLiteral("pn-rec-1.m4a"));
    {
        QFile file(recording);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("sound");
    }
    QVERIFY(kept.keep(block.localID, recording));
    const QString path = kept.fileOf(block.localID).value_or(QString());
    QVERIFY(QFile::exists(path));
    QVERIFY(!QFile::exists(recording));
    QCOMPARE(kept.count(), 1);

    const QString attached = QStringLiteral("https://files.example.com/talk.m4a");
    if (change == QLatin1String("reset")) {
        device.store().reset();
        QVERIFY(!QFile::exists(path));
    } else if (change == QLatin1String("deleted")) {
        device.store().editBlock(block.localID,
                                 [](FNBlock &b) { b.deletedAt = QDateTime::currentDateTimeUtc(); });
    } else {
        device.store().editBlock(block.localID, [&](FNBlock &b) {
            b.contentJSON = QString::fromUtf8(serializeJSONObject({{QStringLiteral("url"), attached}}));
        });
    }
    QCOMPARE(kept.count(), 0);

    // The next cycle's try lets it go without sending it.
    QVERIFY(device.sync());
    QTRY_VERIFY(!QFile::exists(path));
    QVERIFY(!kept.fileOf(block.localID));
    QVERIFY(m_fake.requestsTo(QStringLiteral("/api/upload.php")).isEmpty());
    if (change == QLatin1String("sound"))
        QCOMPARE(parseJSONObject(device.block(block.localID)->contentJSON.toUtf8()).at(QStringLiteral("url")),
                 JSONValue(attached));
}

void TestKeptRecordings::recordingGoesOnlyWhenTheStateKnowsItsBlock_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("stays");

    // The launch sets the file aside and starts empty: the set-aside file still holds the block.
    QTest::newRow("state file unreadable") << "unreadable" << true;
    // Recorded into a block whose creation the last save did not hold.
    QTest::newRow("block not in the state") << "unknown" << true;
    QTest::newRow("block deleted in the state") << "deleted" << false;
    QTest::newRow("block holding a sound in the state") << "sound" << false;
}

void TestKeptRecordings::recordingGoesOnlyWhenTheStateKnowsItsBlock()
{
    QFETCH(QString, state);
    QFETCH(bool, stays);
    m_fake.clearRequests();
    AppDevice device(m_fake.origin());
    QString blockID;
    {
        AppHarness first(device);
        FNPage page;
        page.title = QStringLiteral("Voice notes");
        first.store.upsertPage(page);
        FNBlock block;
        block.pageLocalID = page.localID;
        block.type = QStringLiteral("audio");
        block.contentJSON = QStringLiteral("{}");
        if (state == QLatin1String("deleted"))
            block.deletedAt = QDateTime::currentDateTimeUtc();
        if (state == QLatin1String("sound"))
            block.contentJSON = QString::fromUtf8(
                serializeJSONObject({{"url", QStringLiteral("https://files.example.com/talk.m4a")}}));
        first.store.upsertBlock(block);
        first.store.save();
        blockID = state == QLatin1String("unknown") ? QUuid::createUuid().toString(QUuid::WithoutBraces)
                                                    : block.localID;
    }
    const QString path =
        writeRecording(QDir(device.storeFolder()).filePath(QStringLiteral("recordings/") + blockID));
    QVERIFY(!path.isEmpty());
    if (state == QLatin1String("unreadable")) {
        QFile file(QDir(device.storeFolder()).filePath(QStringLiteral("state.json")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("{\"workspaces\": [tru");
    }

    // The next launch, signed in, and its first cycle's tries.
    AppHarness app(device);
    app.signInReturning(m_kept.token,
                        AuthUser{m_kept.userId, QStringLiteral("K"), QStringLiteral("kept@example.com")});
    QCOMPARE(app.recordings.fileOf(blockID), std::optional<QString>(path));
    QVERIFY(runTask(app.engine.syncNow()).ok());
    QCOMPARE(runTask(app.recordings.upload(blockID)).value, std::optional<bool>(false));
    QCOMPARE(QFile::exists(path), stays);
    QCOMPARE(app.recordings.count(), 0);
    QVERIFY(m_fake.requestsTo(kUploadPath).isEmpty());
    // A logout empties the data set it belongs to, not a recording no data set here knows.
    app.store.reset();
    QCOMPARE(QFile::exists(path), stays);
}

void TestKeptRecordings::recordingWaitsForASaveHoldingItsAddress()
{
    TestDevice device(m_fake.origin(), m_kept.token);
    KeptRecordings kept(device.store(), device.client());
    const FNPage page = device.addPage(m_kept.workspaceId, QStringLiteral("Notes"));
    const FNBlock block = device.addBlock(page.localID, QString(), 0);
    QTemporaryDir temp;
    QVERIFY(kept.keep(block.localID, writeRecording(temp.path())));
    const QString path = *kept.fileOf(block.localID);

    QCOMPARE(runTask(kept.upload(block.localID)).value, std::optional<bool>(true));
    QVERIFY(!addressOf(*device.block(block.localID)).isEmpty());
    QCOMPARE(kept.count(), 0);
    QVERIFY(QFile::exists(path));
    // A save begun before the address was written lands now: it does not hold it.
    Q_EMIT device.store().saveWritten(device.store().savesStarted());
    QVERIFY(QFile::exists(path));
    // The next one does.
    QTRY_VERIFY(!QFile::exists(path));
    QVERIFY(!kept.fileOf(block.localID));
    const LocalStore relaunched(QFileInfo(device.store().url()).absolutePath());
    QCOMPARE(addressOf(*relaunched.block(block.localID)), addressOf(*device.block(block.localID)));
}

void TestKeptRecordings::answerThatIsNoAddressIsAFailedUpload_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("a local file") << "file:///etc/passwd";
    QTest::newRow("a script") << "javascript:alert(1)";
    QTest::newRow("a relative path") << "/uploads/talk.m4a";
    QTest::newRow("another scheme") << "ftp://files.example.com/talk.m4a";
}

void TestKeptRecordings::answerThatIsNoAddressIsAFailedUpload()
{
    QFETCH(QString, answer);
    m_fake.clearRequests();
    TestDevice device(m_fake.origin(), m_kept.token);
    KeptRecordings kept(device.store(), device.client());
    const FNPage page = device.addPage(m_kept.workspaceId, QStringLiteral("Notes"));
    const FNBlock block = device.addBlock(page.localID, QString(), 0);
    QTemporaryDir temp;
    QVERIFY(kept.keep(block.localID, writeRecording(temp.path())));
    const QString path = *kept.fileOf(block.localID);
    m_fake.setFault(kUploadPath, FakeService::Fault::http(200, serializeJSONObject({{"url", answer}})));

    QCOMPARE(runTask(kept.upload(block.localID)).value, std::optional<bool>(false));
    QCOMPARE(m_fake.requestsTo(kUploadPath).size(), qsizetype(1));
    QVERIFY(addressOf(*device.block(block.localID)).isEmpty());
    QVERIFY(QFile::exists(path));
    QCOMPARE(kept.count(), 1);
}

void TestKeptRecordings::uploadedRecordingOutlivesAKill_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("killAfter"); // ms after the upload landed

    QTest::newRow("killed before the save") << "hold" << 0;
    QTest::newRow("killed after the recording went") << "saved" << 0;
    for (int ms : {0, 100, 250})
        QTest::addRow("killed %d ms after the upload", ms) << "running" << ms;
}

void TestKeptRecordings::uploadedRecordingOutlivesAKill()
{
    QFETCH(QString, mode);
    QFETCH(int, killAfter);
    QVERIFY(seedAccount(QStringLiteral("voice"), QStringLiteral("Kim"), QStringLiteral("Talks"), QString()));
    m_other.reset();
    m_fake.clearRequests();
    const QHash<QString, QString> environment{
        {QString::fromLatin1(kModeVar), mode},
        {QString::fromLatin1(kOriginVar), m_fake.origin()},
        {QString::fromLatin1(kTokenVar), m_account.token},
        {QString::fromLatin1(kUserVar), QString::number(m_account.userId)},
        {QString::fromLatin1(kFolderVar), m_folder->path()},
        {QString::fromLatin1(kBlockVar), QString::number(m_blockServerID)},
    };
    const QByteArray line = KilledChild::runAndKill(environment, kWait, [&](const QByteArray &said) {
        if (said == kUploadedLine)
            QTest::qWait(killAfter);
        return said;
    });
    QCOMPARE(line, kUploadedLine);
    const qsizetype uploadsBefore = m_fake.requestsTo(kUploadPath).size();
    QCOMPARE(uploadsBefore, qsizetype(1));

    // The relaunch: the recording is found again, or its address was saved; either way the block
    // ends with a sound the service has, and nothing is left behind.
    AppDevice device(m_fake.origin(), m_folder->path());
    AppHarness app(device);
    const FNBlock *block = app.store.liveBlockWithServerID(m_blockServerID);
    QVERIFY(block);
    const QString blockID = block->localID;
    const bool saved = !addressOf(*block).isEmpty();
    if (mode == QLatin1String("hold"))
        QVERIFY(!saved);
    if (mode == QLatin1String("saved"))
        QVERIFY(saved);
    // Whatever moment the kill came at, the file or the saved address is there.
    QVERIFY2(saved || app.recordings.fileOf(blockID), "neither the address nor the recording was left");
    app.signInReturning(m_account.token, AuthUser{m_account.userId, QStringLiteral("Kim"), QString()});
    QTRY_VERIFY_WITH_TIMEOUT(runTask(app.engine.syncNow()).ok() && !app.recordings.fileOf(blockID) &&
                                 app.store.state().outbox.empty() && !app.store.isSavePending(),
                             kWait);

    const QString address = addressOf(*app.store.block(blockID));
    QVERIFY(!address.isEmpty());
    // Sent again only when the kill took its address: a cycle before the kill may have pushed it,
    // and the pull then brings it back.
    const qsizetype uploads = m_fake.requestsTo(kUploadPath).size();
    QVERIFY2(uploads == uploadsBefore || (!saved && uploads == uploadsBefore + 1),
             qPrintable(QString::number(uploads)));
    if (mode == QLatin1String("hold"))
        QCOMPARE(uploads, uploadsBefore + 1);
    const std::vector<FakeServiceState::Block> stored = m_fake.storedBlocks(m_pageServerID);
    const auto onService = std::find_if(stored.begin(), stored.end(), [&](const FakeServiceState::Block &b) {
        return b.id == m_blockServerID;
    });
    QVERIFY(onService != stored.end());
    QCOMPARE(FakeService::stringField(onService->content, QStringLiteral("url")), address);
    QVERIFY(QDir(QDir(device.storeFolder()).filePath(QStringLiteral("recordings"))).isEmpty());
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kModeVar))
        return actAsApp();
    TestKeptRecordings test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_kept_recordings.moc"
