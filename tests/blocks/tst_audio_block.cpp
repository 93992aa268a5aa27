#include "app/sync_button.h"
#include "blocks/audio_block.h"
#include "editor/editor_fixture.h"
#include "fake-service/fake_service.h"
#include "fake-service/fake_upload_routes.h"
#include "platform/diag.h"
#include "platform/media_audio_recorder.h"
#include "platform/memory_secret_backend.h"
#include "platform/preset_audio_recorder.h"
#include "store/kept_recordings.h"
#include "store/sync_engine.h"
#include "support/device_services.h"
#include "support/editor_steps.h"
#include "support/fake_http_client.h"
#include "support/media_test_main.h"
#include "support/service_page.h"
#include "ui/toast_center.h"

#include <QAudioDevice>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaDevices>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>

namespace {

const QString kUploadPath = QStringLiteral("/api/upload.php");
const QString kAudioFailed = QStringLiteral("Audio upload failed \u2014 recording kept, try again.");
const QString kRecordingName =
    QStringLiteral("pn-rec-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.m4a");
// Set in the child process that finds no microphone.
constexpr auto kNoInputChild = "PENROOST_TEST_NO_AUDIO_INPUT";

// The AAC sample entry of an MPEG-4 file: its channel count and sample rate.
std::optional<std::pair<int, int>> aacSampleEntry(const QByteArray &mp4)
{
    const qsizetype at = mp4.indexOf("mp4a");
    if (at < 0 || mp4.size() < at + 32)
        return std::nullopt;
    const auto *bytes = reinterpret_cast<const uchar *>(mp4.constData());
    return std::pair{int(qFromBigEndian<quint16>(bytes + at + 20)),
                     int(qFromBigEndian<quint32>(bytes + at + 28) >> 16)};
}

} // namespace

class TestAudioBlock : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    // The microphone's recorder, through the null source the test command provides.
    void recordsUploadsAndPlays();
    void failedUploadKeepsTheRecording_data();
    void failedUploadKeepsTheRecording();
    void noInputDeviceStaysIdle();

    // The block's states, with a scripted recorder.
    void elapsedCountsTicks_data();
    void elapsedCountsTicks();
    void uploadingLastsItsMoment_data();
    void uploadingLastsItsMoment();
    void recorderThatCannotStartStaysIdle();
    void rowGoneWhileRecordingStillUploads();
    void playerRow_data();
    void playerRow();
    void playerIsDroppedWhenTheRowGoes();

private:
    BlockRow *audioRow(const FNBlock &block, bool scripted, KeptRecordings *recordings = nullptr);
    static AudioBlockView *viewOf(BlockRow *row) { return qobject_cast<AudioBlockView *>(row->kindView()); }
    QString storedURL(const QString &localID) const
    {
        return BlockContent::readString(m_fx->storedContent(localID), QStringLiteral("url"));
    }
    bool haveMicrophone();

    FakeService m_fake;
    QString m_token;
    std::unique_ptr<EditorFixture> m_fx;
    QTemporaryDir m_worldDir;
    std::unique_ptr<DeviceServices> m_world;
    std::unique_ptr<ToastCenter> m_toasts;
    QPointer<PresetAudioRecorder> m_recorder; // the scripted one, once a row made it
    bool m_recorderStarts = true;
};

void TestAudioBlock::initTestCase()
{
    m_token = EditorSteps::startWithAccount(m_fake, QStringLiteral("audio@example.com"), QStringLiteral("A"));
    QVERIFY(!m_token.isEmpty());
}

void TestAudioBlock::init()
{
    EditorSteps::useFake(m_fake);
    m_fx = std::make_unique<EditorFixture>();
    m_world = std::make_unique<DeviceServices>(m_worldDir.filePath(QStringLiteral("settings.ini")),
                                               std::make_shared<MemorySecretBackend>(), m_fake.origin());
    m_world->setToken(m_token);
    m_toasts = std::make_unique<ToastCenter>();
    m_recorderStarts = true;
}

void TestAudioBlock::cleanup()
{
    m_fx.reset();
    m_toasts.reset();
    m_world.reset();
}

BlockRow *TestAudioBlock::audioRow(const FNBlock &block, bool scripted, KeptRecordings *recordings)
{
    BlockRow *row = m_fx->addRow(block);
    BlockServices services{&m_world->client, m_toasts.get(), nullptr, {}};
    services.recordings = recordings;
    if (scripted) {
        services.makeRecorder = [this](QObject *parent) {
            auto *recorder = new PresetAudioRecorder(parent);
            recorder->setStartResult(m_recorderStarts);
            m_recorder = recorder;
            return recorder;
        };
    }
    row->setMediaServices(services);
    return row;
}

bool TestAudioBlock::haveMicrophone()
{
    if (!QMediaDevices::audioInputs().isEmpty())
        return true;
    // The test command provides one; elsewhere (a bare ctest run) there may be none.
    if (qEnvironmentVariableIntValue("PENROOST_REQUIRE_AUDIO") == 1)
        qWarning("PENROOST_REQUIRE_AUDIO is set but Qt sees no audio input");
    return false;
}

void TestAudioBlock::recordsUploadsAndPlays()
{
    if (!haveMicrophone()) {
        QVERIFY2(qEnvironmentVariableIntValue("PENROOST_REQUIRE_AUDIO") != 1, "no microphone to record from");
        QSKIP("No audio input: run under scripts/with-pulseaudio.sh to record for real");
    }
    const FNBlock block = m_fx->addBlock(QStringLiteral("audio"));
    BlockRow *row = audioRow(block, false);
    QVERIFY(m_fx->showWindow());
    AudioBlockView *view = viewOf(row);
    QVERIFY(view);
    QCOMPARE(view->recordButton()->text(), QStringLiteral("Record"));

    QTest::mouseClick(view->recordButton(), Qt::LeftButton);
    QCOMPARE(view->recorderState(), AudioBlockView::RecorderState::recording);
    QCOMPARE(view->recordButton()->text(), QStringLiteral("Stop 0:00"));
    QVERIFY(!view->uploadButton()->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(view->recordButton()->text(), QStringLiteral("Stop 0:01"), 3000);
    QTest::mouseClick(view->recordButton(), Qt::LeftButton);

    QTRY_VERIFY_WITH_TIMEOUT(!storedURL(block.localID).isEmpty(), 15000);
    const FakeUploadRoutes::File &sent = FakeUploadRoutes::of(m_fake).files().rbegin()->second;
    QCOMPARE(sent.kind, QStringLiteral("audio"));
    QCOMPARE(sent.mime, QByteArray("audio/mp4"));
    QVERIFY2(QRegularExpression(QStringLiteral("^") + kRecordingName + QStringLiteral("$"))
                 .match(sent.name)
                 .hasMatch(),
             qPrintable(sent.name));
    QCOMPARE(sent.data.mid(4, 4), QByteArray("ftyp"));
    // AAC in the MPEG-4 container. (Qt 6.4's FFmpeg backend records at the input's own rate and
    // layout, whatever the recorder asks for.)
    const auto format = aacSampleEntry(sent.data);
    QVERIFY(format);
    QVERIFY(format->second >= 8000);
    // Kept by the service, gone from here.
    QTRY_VERIFY(!QFile::exists(QDir::temp().filePath(sent.name)));
    QVERIFY(!QFile::exists(QDir::temp().filePath(sent.name + QStringLiteral(".mp4"))));

    QTRY_VERIFY(view->playButton());
    QCOMPARE(view->fileNameLabel()->text(), sent.name);
    QVERIFY(!m_toasts->current());

    // Played back from the service; at its end the button offers play again.
    view->playButton()->click();
    QVERIFY(view->isPlaying());
    QVERIFY(view->player());
    QTRY_COMPARE_WITH_TIMEOUT(view->player()->mediaStatus(), QMediaPlayer::EndOfMedia, 15000);
    QVERIFY(!view->isPlaying());
    QCOMPARE(view->playButton()->toolTip(), QStringLiteral("Play"));
    QVERIFY(!m_fake.requestsTo(QUrl(storedURL(block.localID)).path()).first().header("Authorization"));
}

void TestAudioBlock::failedUploadKeepsTheRecording_data()
{
    QTest::addColumn<bool>("relaunch"); // the app starts again before the service is back

    QTest::newRow("service back") << false;
    QTest::newRow("next launch") << true;
}

void TestAudioBlock::failedUploadKeepsTheRecording()
{
    QFETCH(bool, relaunch);
    if (!haveMicrophone()) {
        QVERIFY2(qEnvironmentVariableIntValue("PENROOST_REQUIRE_AUDIO") != 1, "no microphone to record from");
        QSKIP("No audio input: run under scripts/with-pulseaudio.sh to record for real");
    }
    // The app's world: the engine's cycles, the kept recordings, and the sync button's badge.
    QDateTime clock = QDateTime::currentDateTimeUtc();
    auto engine = std::make_unique<SyncEngine>(m_fx->store(), m_world->client);
    auto recordings = std::make_unique<KeptRecordings>(m_fx->store(), m_world->client);
    recordings->setClock([&clock] { return clock; });
    recordings->followEngine(*engine);
    auto button = std::make_unique<SyncButton>(m_fx->store(), engine.get(), nullptr, recordings.get());
    const auto cycle = [&] {
        QSignalSpy finished(engine.get(), &SyncEngine::cycleFinished);
        SyncEngine::syncQuietly(engine.get());
        return !finished.isEmpty() || finished.wait(15000);
    };

    m_fake.setFault(kUploadPath, FakeService::Fault::http(503, "{}"));
    const FNBlock block = m_fx->addBlock(QStringLiteral("audio"));
    BlockRow *row = audioRow(block, false, recordings.get());
    AudioBlockView *view = viewOf(row);
    view->toggleRecording();
    QCOMPARE(view->recorderState(), AudioBlockView::RecorderState::recording);
    QTest::qWait(400);
    view->toggleRecording();

    QTRY_VERIFY_WITH_TIMEOUT(m_toasts->current(), 15000);
    QCOMPARE(m_toasts->current()->message, kAudioFailed);
    const HttpRequest sent = m_fake.requestsTo(kUploadPath).constLast();
    const auto part =
        FakeUploadRoutes::parseFilePart(sent.header("Content-Type").value_or(QByteArray()), sent.body);
    QVERIFY(part);
    // With its block in the data folder, not where the system clears temporary files.
    QVERIFY(!QFile::exists(QDir::temp().filePath(part->name)));
    const QString kept =
        QFileInfo(m_fx->store().url())
            .absoluteDir()
            .filePath(QStringLiteral("recordings/") + block.localID + QLatin1Char('/') + part->name);
    QVERIFY2(QFile::exists(kept), qPrintable(kept));
    QVERIFY(storedURL(block.localID).isEmpty());
    QCOMPARE(button->toolTip(), QStringLiteral("1 unsynced change — tap to sync"));
    // The controls come back for another try.
    QTRY_COMPARE(view->recorderState(), AudioBlockView::RecorderState::idle);
    QVERIFY(view->recordButton()->isEnabled());
    QCOMPARE(view->recordButton()->text(), QStringLiteral("Record"));

    if (relaunch) {
        // Quit with the service still down: nothing but the folder and the stored block is left.
        delete row;
        button.reset();
        recordings.reset();
        engine.reset();
        engine = std::make_unique<SyncEngine>(m_fx->store(), m_world->client);
        recordings = std::make_unique<KeptRecordings>(m_fx->store(), m_world->client);
        recordings->followEngine(*engine);
        button = std::make_unique<SyncButton>(m_fx->store(), engine.get(), nullptr, recordings.get());
        QCOMPARE(button->toolTip(), QStringLiteral("1 unsynced change — tap to sync"));
    } else {
        // Tried again only after the pause a failure earns.
        clock = clock.addSecs(60);
    }
    m_fake.clearFaults();
    const qsizetype tries = m_fake.requestsTo(kUploadPath).size();
    QVERIFY(cycle());
    QTRY_VERIFY_WITH_TIMEOUT(!storedURL(block.localID).isEmpty(), 15000);
    QCOMPARE(m_fake.requestsTo(kUploadPath).size(), tries + 1);
    const FakeUploadRoutes::File &uploaded = FakeUploadRoutes::of(m_fake).files().rbegin()->second;
    QCOMPARE(uploaded.name, part->name);
    QCOMPARE(uploaded.kind, QStringLiteral("audio"));
    QCOMPARE(uploaded.data, part->data);
    QTRY_VERIFY(!QFile::exists(kept));
    QTRY_COMPARE(button->toolTip(), QStringLiteral("Up to date"));
    if (!relaunch)
        QTRY_VERIFY(view->playButton());
    // Nothing is sent twice.
    QVERIFY(cycle());
    FakeHttpClient(m_fake).get(QStringLiteral("/api/workspaces.php"), m_token);
    QCOMPARE(m_fake.requestsTo(kUploadPath).size(), tries + 1);
}

void TestAudioBlock::noInputDeviceStaysIdle()
{
    // Qt reads the audio devices once per process: a process of its own sees no PulseAudio at all.
    QTemporaryDir dir;
    QFile config(dir.filePath(QStringLiteral("client.conf")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("autospawn = no\n");
    config.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kNoInputChild), QStringLiteral("1"));
    env.insert(QStringLiteral("PULSE_SERVER"),
               QStringLiteral("unix:") + dir.filePath(QStringLiteral("none")));
    env.insert(QStringLiteral("PULSE_CLIENTCONFIG"), config.fileName());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(60000));
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             qPrintable(out + QString::fromUtf8(child.readAllStandardError())));
    QVERIFY2(out.contains(QStringLiteral("recorder start failed: ")), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("idle after Record")), qPrintable(out));
}

// The child's side: Record pressed with no microphone in sight.
static int recordWithoutInput(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (!QMediaDevices::audioInputs().isEmpty()) {
        std::fputs("an audio input is still visible\n", stdout);
        return 2;
    }
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("audio"));
    BlockRow *row = fx.addRow(block);
    auto *view = qobject_cast<AudioBlockView *>(row->kindView());
    view->recordButton()->click();
    QCoreApplication::processEvents();
    const bool idle = view->recorderState() == AudioBlockView::RecorderState::idle &&
                      view->recordButton()->text() == QLatin1String("Record") &&
                      view->uploadButton()->isEnabled();
    if (idle)
        diag(QStringLiteral("idle after Record"));
    return idle ? 0 : 1;
}

void TestAudioBlock::elapsedCountsTicks_data()
{
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QString>("text");
    QTest::newRow("start") << 0 << "Stop 0:00";
    QTest::newRow("tenths are not shown") << 9 << "Stop 0:00";
    QTest::newRow("one second") << 10 << "Stop 0:01";
    QTest::newRow("650 ticks") << 650 << "Stop 1:05";
    QTest::newRow("twelve minutes") << 7200 << "Stop 12:00";
    QTest::newRow("past an hour") << 36610 << "Stop 61:01";
}

void TestAudioBlock::elapsedCountsTicks()
{
    QFETCH(int, ticks);
    QFETCH(QString, text);
    const FNBlock block = m_fx->addBlock(QStringLiteral("audio"));
    AudioBlockView *view = viewOf(audioRow(block, true));
    // The clock is driven by hand.
    view->setTiming({std::chrono::hours(1), std::chrono::milliseconds(250)});
    view->toggleRecording();
    QCOMPARE(view->recorderState(), AudioBlockView::RecorderState::recording);
    for (int i = 0; i < ticks; ++i)
        view->tick();
    QCOMPARE(view->recordButton()->text(), text);
    QVERIFY(!view->uploadButton()->isEnabled());
    QVERIFY(view->recordButton()->isEnabled());
    m_recorder->setRecording({}); // nothing to upload when the row goes
}

void TestAudioBlock::uploadingLastsItsMoment_data()
{
    QTest::addColumn<int>("uploadStatus");
    QTest::addColumn<int>("uploadDelayMs");
    QTest::newRow("upload succeeds") << 0 << 0;
    QTest::newRow("upload fails") << 503 << 0;
    QTest::newRow("upload still running") << 0 << 1500;
}

void TestAudioBlock::uploadingLastsItsMoment()
{
    QFETCH(int, uploadStatus);
    QFETCH(int, uploadDelayMs);
    FakeService::Fault fault = uploadStatus ? FakeService::Fault::http(uploadStatus, "{}")
                                            : FakeService::Fault::delay(uploadDelayMs);
    if (uploadStatus || uploadDelayMs)
        m_fake.setFault(kUploadPath, fault);
    const FNBlock block = m_fx->addBlock(QStringLiteral("audio"));
    AudioBlockView *view = viewOf(audioRow(block, true));
    view->toggleRecording();
    view->toggleRecording();

    QElapsedTimer shown;
    shown.start();
    QCOMPARE(view->recorderState(), AudioBlockView::RecorderState::uploading);
    QVERIFY(!view->recordButton()->isEnabled());
    QVERIFY(!view->uploadButton()->isEnabled());
    QVERIFY(!view->uploadingLabel()->isHidden());
    QCOMPARE(view->uploadingLabel()->text(), QStringLiteral("Uploading..."));
    QTRY_COMPARE(view->recorderState(), AudioBlockView::RecorderState::idle);
    QVERIFY2(shown.elapsed() >= 240, qPrintable(QString::number(shown.elapsed())));
    QVERIFY2(shown.elapsed() < 1200, qPrintable(QString::number(shown.elapsed())));
    if (!uploadStatus && !uploadDelayMs) {
        // Done already: the stored address shows the player.
        QVERIFY(view->playButton());
    } else {
        QVERIFY(view->uploadingLabel()->isHidden());
        QVERIFY(view->recordButton()->isEnabled());
        QCOMPARE(view->recordButton()->text(), QStringLiteral("Record"));
    }
    if (uploadDelayMs)
        QVERIFY(storedURL(block.localID).isEmpty());
    QTRY_COMPARE(m_fake.requestsTo(kUploadPath).size(), 1);
    if (uploadStatus) {
        QTRY_VERIFY(m_toasts->current());
        QVERIFY(QFile::exists(m_recorder->lastFile()));
        QFile::remove(m_recorder->lastFile());
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!storedURL(block.localID).isEmpty(), 5000);
        QTRY_VERIFY(!QFile::exists(m_recorder->lastFile()));
    }
}

void TestAudioBlock::recorderThatCannotStartStaysIdle()
{
    m_recorderStarts = false;
    const FNBlock block = m_fx->addBlock(QStringLiteral("audio"));
    AudioBlockView *view = viewOf(audioRow(block, true));
    DiagCapture diag;
    view->recordButton()->click();
    QCOMPARE(view->recorderState(), AudioBlockView::RecorderState::idle);
    QCOMPARE(view->recordButton()->text(), QStringLiteral("Record"));
    QVERIFY(view->uploadButton()->isEnabled());
    QVERIFY(diag.lines().size() == 1 &&
            diag.lines().first().startsWith(QStringLiteral("recorder start failed: ")));
    QTest::qWait(50);
    QVERIFY(m_fake.requestsTo(kUploadPath).isEmpty());
}

void TestAudioBlock::rowGoneWhileRecordingStillUploads()
{
    const FNBlock block = m_fx->addBlock(QStringLiteral("audio"));
    ServicePage service(m_fake, m_token, m_fx->store(), m_world->client);
    QVERIFY(service.isValid());
    BlockRow *row = audioRow(block, true);
    viewOf(row)->toggleRecording();
    QPointer<PresetAudioRecorder> recorder = m_recorder;
    QVERIFY(recorder && recorder->isRecording());
    // The page closes mid-recording.
    delete row;
    QTRY_VERIFY(!storedURL(block.localID).isEmpty());
    QCOMPARE(m_fake.requestsTo(kUploadPath).size(), 1);
    QCOMPARE(FakeUploadRoutes::of(m_fake).files().rbegin()->second.mime, QByteArray("audio/mp4"));
    QTRY_VERIFY(!recorder);
    QVERIFY(service.push());
    const auto onService = service.serviceContent(block.localID);
    QVERIFY(onService);
    QCOMPARE(onService->at(QStringLiteral("url")).toString(), storedURL(block.localID));
    QCOMPARE(service.otherDeviceContent(block.localID), onService);
}

void TestAudioBlock::playerRow_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("playable");
    QTest::newRow("uploaded") << "http://127.0.0.1:9/uploads/4/pn-rec-1.m4a"
                              << "pn-rec-1.m4a" << true;
    QTest::newRow("escaped name") << "https://example.com/a/voice%20note.m4a"
                                  << "voice note.m4a" << true;
    QTest::newRow("not an address") << "not a url"
                                    << "audio" << false;
    QTest::newRow("a local file is not played") << "file:///etc/passwd"
                                                << "audio" << false;
}

void TestAudioBlock::playerRow()
{
    QFETCH(QString, url);
    QFETCH(QString, name);
    QFETCH(bool, playable);
    const FNBlock block = m_fx->addBlock(QStringLiteral("audio"), {{QStringLiteral("url"), url}});
    AudioBlockView *view = viewOf(audioRow(block, true));
    QVERIFY(view->playButton());
    QVERIFY(!view->recordButton());
    QCOMPARE(view->fileNameLabel()->text(), name);

    view->playButton()->click();
    QVERIFY(view->isPlaying());
    QCOMPARE(bool(view->player()), playable);
    QCOMPARE(view->playButton()->toolTip(), QStringLiteral("Pause"));
    view->playButton()->click();
    QVERIFY(!view->isPlaying());
    QCOMPARE(view->playButton()->toolTip(), QStringLiteral("Play"));
}

void TestAudioBlock::playerIsDroppedWhenTheRowGoes()
{
    const FNBlock block = m_fx->addBlock(
        QStringLiteral("audio"), {{QStringLiteral("url"), QStringLiteral("http://127.0.0.1:9/a.m4a")}});
    BlockRow *row = audioRow(block, true);
    QVERIFY(m_fx->showWindow());
    AudioBlockView *view = viewOf(row);
    view->togglePlay();
    QPointer<QMediaPlayer> first = view->player();
    QVERIFY(first);

    // Off screen: stopped and dropped; the next play starts afresh.
    row->hide();
    QVERIFY(!view->isPlaying());
    QVERIFY(!view->player());
    QTRY_VERIFY(!first);
    row->show();
    view->togglePlay();
    QPointer<QMediaPlayer> second = view->player();
    QVERIFY(second);

    delete row;
    QTRY_VERIFY(!second);
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(kNoInputChild)) {
        MediaAudioRecorder::selectBackend();
        return recordWithoutInput(argc, argv);
    }
    QTEST_SET_MAIN_SOURCE_PATH
    runMediaTest<TestAudioBlock>(argc, argv);
}

#include "tst_audio_block.moc"
