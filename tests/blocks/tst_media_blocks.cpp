#include "api/session_store.h"
#include "blocks/audio_block.h"
#include "blocks/bookmark_block.h"
#include "blocks/file_block.h"
#include "blocks/image_block.h"
#include "editor/editor_fixture.h"
#include "fake-service/fake_service.h"
#include "fake-service/fake_upload_routes.h"
#include "platform/app_events.h"
#include "platform/diag.h"
#include "platform/memory_secret_backend.h"
#include "platform/preset_file_picker.h"
#include "support/device_services.h"
#include "support/editor_steps.h"
#include "support/local_store_testing.h"
#include "support/media_test_main.h"
#include "support/service_page.h"
#include "support/task_outcome.h"
#include "ui/toast_center.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <utility>

namespace {

const QString kUploadPath = QStringLiteral("/api/upload.php");
const QString kBookmarkPath = QStringLiteral("/api/bookmark-fetch.php");
const QString kAudioFailed = QStringLiteral("Audio upload failed \u2014 recording kept, try again.");

// The image block's "Upload image" prompt, while it shows.
QPushButton *uploadButton(BlockRow *row)
{
    auto *view = qobject_cast<ImageBlockView *>(row->kindView());
    return view ? view->uploadButton() : nullptr;
}

// The file block's attach ("any") or the audio block's upload ("audio").
void attachTo(BlockRow *row, const QString &uploadKind)
{
    if (uploadKind == QLatin1String("audio"))
        AudioBlock::attach(row->model());
    else
        FileBlock::attach(row->model());
}

} // namespace

class TestMediaBlocks : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void imageUploadStoresTheURL();
    void replacedImageKeepsLayoutAndCaption();
    void attach_data();
    void attach();
    void failedUploadOnlyPrints_data();
    void failedUploadOnlyPrints();
    void recordingUploadRemovesTheFile_data();
    void recordingUploadRemovesTheFile();
    void failedRecordingKeepsTheFile_data();
    void failedRecordingKeepsTheFile();
    void unauthorizedUploadEndsTheSession_data();
    void unauthorizedUploadEndsTheSession();
    void signedOutDoesNothing();
    void cancelledPickerChangesNothing();
    void uploadOutlivesItsRow();
    void uploadAfterResetWritesNothing();

    void previewFillsWhatTheReplyHolds();
    void newAddressDropsTheOldPreviewAtOnce();
    void failedPreviewLeavesTheAddress();
    void lateReplyForAnOldAddressIsDropped();

private:
    BlockRow *mediaRow(const FNBlock &block);
    QString writeFile(const QString &name, const QByteArray &data)
    {
        return EditorSteps::writeFile(m_files->filePath(name), data);
    }
    QString storedURL(const QString &localID) const
    {
        return BlockContent::readString(m_fx->storedContent(localID), QStringLiteral("url"));
    }

    FakeService m_fake;
    QString m_token;
    std::unique_ptr<EditorFixture> m_fx;
    QTemporaryDir m_worldDir;
    std::unique_ptr<DeviceServices> m_world; // the session, client and events the rows use
    std::unique_ptr<ToastCenter> m_toasts;
    std::shared_ptr<PresetFilePicker> m_picker;
    std::unique_ptr<QTemporaryDir> m_files;
};

void TestMediaBlocks::initTestCase()
{
    m_token =
        EditorSteps::startWithAccount(m_fake, QStringLiteral("media@example.com"), QStringLiteral("Media"));
    QVERIFY(!m_token.isEmpty());
}

void TestMediaBlocks::init()
{
    EditorSteps::useFake(m_fake);
    m_fx = std::make_unique<EditorFixture>();
    m_files = std::make_unique<QTemporaryDir>();
    m_world = std::make_unique<DeviceServices>(m_worldDir.filePath(QStringLiteral("settings.ini")),
                                               std::make_shared<MemorySecretBackend>(), m_fake.origin());
    m_world->setToken(m_token);
    m_toasts = std::make_unique<ToastCenter>();
    m_picker = std::make_shared<PresetFilePicker>();
}

void TestMediaBlocks::cleanup()
{
    m_fx.reset();
    m_toasts.reset();
    m_world.reset();
}

BlockRow *TestMediaBlocks::mediaRow(const FNBlock &block)
{
    BlockRow *row = m_fx->addRow(block);
    row->setMediaServices({&m_world->client, m_toasts.get(), m_picker, {}});
    return row;
}

void TestMediaBlocks::imageUploadStoresTheURL()
{
    const FNBlock block = m_fx->addBlock(QStringLiteral("image"), {{QStringLiteral("text"), QString()}});
    BlockRow *row = mediaRow(block);
    QVERIFY(uploadButton(row));
    QCOMPARE(uploadButton(row)->text().right(12), QStringLiteral("Upload image"));
    const QByteArray png = EditorSteps::pngBytes();
    m_picker->setAnswer(writeFile(QStringLiteral("Photo.PNG"), png));

    uploadButton(row)->click();
    QTRY_VERIFY(!storedURL(block.localID).isEmpty());
    QCOMPARE(m_picker->requests(), QList<FilePicker::Filter>{FilePicker::Filter::Images});
    QCOMPARE(m_fake.requestsTo(kUploadPath).size(), 1);
    const auto &sent = FakeUploadRoutes::of(m_fake).files().rbegin()->second;
    QCOMPARE(sent.kind, QStringLiteral("image"));
    QCOMPARE(sent.name, QStringLiteral("Photo.PNG"));
    QCOMPARE(sent.mime, QByteArray("image/png"));
    QCOMPARE(sent.data, png);
    QVERIFY(storedURL(block.localID).startsWith(m_fake.origin() + QStringLiteral("/uploads/")));

    const JSONObject content = m_fx->storedContent(block.localID);
    QVERIFY(content.count(QStringLiteral("text")));
    QVERIFY(!content.count(QStringLiteral("layout")));
    QCOMPARE(m_fx->changes(), 1);
    // With an address the prompt gives way to the image's own view.
    QTRY_VERIFY(!uploadButton(row));
    auto *view = qobject_cast<ImageBlockView *>(row->kindView());
    QVERIFY(view->imageElement());
    // The image the service now holds is the one shown.
    QTRY_COMPARE(view->imageElement()->state(), RemoteImage::State::loaded);
    QCOMPARE(view->imageElement()->image().size(), QSize(8, 4));
}

void TestMediaBlocks::replacedImageKeepsLayoutAndCaption()
{
    const FNBlock block =
        m_fx->addBlock(QStringLiteral("image"), {{QStringLiteral("url"), QStringLiteral("old")},
                                                 {QStringLiteral("layout"), QStringLiteral("float-left")},
                                                 {QStringLiteral("caption"), QStringLiteral("Dog")}});
    BlockRow *row = mediaRow(block);
    QVERIFY(!uploadButton(row));
    m_picker->setAnswer(writeFile(QStringLiteral("new.jpg"), EditorSteps::pngBytes()));
    ImageBlock::upload(row->model());
    QTRY_VERIFY(storedURL(block.localID) != QStringLiteral("old"));
    const JSONObject content = m_fx->storedContent(block.localID);
    QCOMPARE(content.at(QStringLiteral("layout")).toString(), QStringLiteral("float-left"));
    QCOMPARE(content.at(QStringLiteral("caption")).toString(), QStringLiteral("Dog"));
    QCOMPARE(FakeUploadRoutes::of(m_fake).files().rbegin()->second.mime, QByteArray("image/jpeg"));
}

void TestMediaBlocks::attach_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("filename");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("mime");

    QTest::newRow("file") << "file"
                          << "any"
                          << "Report 2024.pdf" << 2048 << QByteArray("application/pdf");
    QTest::newRow("audio file") << "audio"
                                << "audio"
                                << "song.mp3" << 300 << QByteArray("audio/mpeg");
    QTest::newRow("audio of another type") << "audio"
                                           << "audio"
                                           << "notes.txt" << 5 << QByteArray("text/plain");
}

void TestMediaBlocks::attach()
{
    QFETCH(QString, type);
    QFETCH(QString, kind);
    QFETCH(QString, filename);
    QFETCH(int, size);
    QFETCH(QByteArray, mime);
    const FNBlock block = m_fx->addBlock(type, {{QStringLiteral("keep"), true}});
    BlockRow *row = mediaRow(block);
    m_picker->setAnswer(writeFile(filename, QByteArray(size, 'a')));

    attachTo(row, kind);
    QTRY_VERIFY(!storedURL(block.localID).isEmpty());
    QCOMPARE(m_picker->requests(), QList<FilePicker::Filter>{FilePicker::Filter::AnyFile});
    const auto &sent = FakeUploadRoutes::of(m_fake).files().rbegin()->second;
    QCOMPARE(sent.kind, kind);
    QCOMPARE(sent.mime, mime);
    const JSONObject content = m_fx->storedContent(block.localID);
    QCOMPARE(content.at(QStringLiteral("filename")).toString(), filename);
    QVERIFY(content.at(QStringLiteral("size")).isInt());
    QCOMPARE(content.at(QStringLiteral("size")).toInt(), qint64(size));
    QVERIFY(content.at(QStringLiteral("keep")).toBool());
    QCOMPARE(m_fx->changes(), 1);
}

void TestMediaBlocks::failedUploadOnlyPrints_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("line");
    QTest::newRow("file") << "file"
                          << "file upload failed: ";
    QTest::newRow("audio file") << "audio"
                                << "file upload failed: ";
    QTest::newRow("image") << "image"
                           << "image upload failed: ";
}

void TestMediaBlocks::failedUploadOnlyPrints()
{
    QFETCH(QString, type);
    QFETCH(QString, line);
    m_fake.setFault(kUploadPath, FakeService::Fault::http(500, R"({"error":"Disk full"})"));
    const FNBlock block = m_fx->addBlock(type, {{QStringLiteral("url"), QStringLiteral("before")}});
    BlockRow *row = mediaRow(block);
    m_picker->setAnswer(writeFile(QStringLiteral("a.png"), EditorSteps::pngBytes()));
    DiagCapture diag;

    if (type == QLatin1String("image"))
        ImageBlock::upload(row->model());
    else
        attachTo(row, type == QLatin1String("file") ? QStringLiteral("any") : type);
    QTRY_COMPARE(diag.lines().size(), 1);
    QVERIFY2(diag.lines().first().startsWith(line), qPrintable(diag.lines().first()));
    QVERIFY(diag.lines().first().contains(QStringLiteral("Disk full")));
    QCOMPARE(storedURL(block.localID), QStringLiteral("before"));
    QVERIFY(!m_toasts->current());
    QCOMPARE(m_fx->changes(), 0);
}

void TestMediaBlocks::recordingUploadRemovesTheFile_data()
{
    QTest::addColumn<bool>("crash"); // the app ends before any save after the upload
    QTest::newRow("saved") << false;
    QTest::newRow("no save before a crash") << true;
}

void TestMediaBlocks::recordingUploadRemovesTheFile()
{
    QFETCH(bool, crash);
    const FNBlock block = m_fx->addBlock(QStringLiteral("audio"));
    BlockRow *row = mediaRow(block);
    const QString path = writeFile(QStringLiteral("recording-1.m4a"), QByteArray(64, 'r'));
    m_fx->store().save();
    if (crash)
        LocalStoreTesting::abandon(m_fx->store());

    AudioBlock::uploadRecording(row->model(), path);
    QTRY_VERIFY(!storedURL(block.localID).isEmpty());
    if (crash) {
        // Only the recording is left of the upload: the file on disk holds no address.
        QVERIFY(QFile::exists(path));
        LocalStore relaunched(QFileInfo(m_fx->store().url()).absolutePath());
        QCOMPARE(BlockContent::readString(BlockContent::decode(relaunched.block(block.localID)->contentJSON),
                                          QStringLiteral("url")),
                 QString());
        return;
    }
    // Gone once the file on disk holds the address.
    QTRY_VERIFY(!QFile::exists(path));
    QTRY_VERIFY(!m_fx->store().isSavePending());
    QCOMPARE(
        BlockContent::readString(
            BlockContent::decode(
                LocalStore(QFileInfo(m_fx->store().url()).absolutePath()).block(block.localID)->contentJSON),
            QStringLiteral("url")),
        storedURL(block.localID));
    const auto &sent = FakeUploadRoutes::of(m_fake).files().rbegin()->second;
    QCOMPARE(sent.kind, QStringLiteral("audio"));
    QCOMPARE(sent.mime, QByteArray("audio/mp4"));
    QCOMPARE(sent.name, QStringLiteral("recording-1.m4a"));
    QVERIFY(!m_fx->storedContent(block.localID).count(QStringLiteral("filename")));
    QVERIFY(m_picker->requests().isEmpty());
    QVERIFY(!m_toasts->current());
}

void TestMediaBlocks::failedRecordingKeepsTheFile_data()
{
    QTest::addColumn<bool>("missingFile");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("service error") << false << 503 << QByteArray("{}");
    QTest::newRow("unreadable file") << true << 503 << QByteArray("{}");
    QTest::newRow("answered with a local file")
        << false << 200 << QByteArray("{\"url\":\"file:///etc/passwd\"}");
    QTest::newRow("answered with a relative path")
        << false << 200 << QByteArray("{\"url\":\"/uploads/r.m4a\"}");
}

void TestMediaBlocks::failedRecordingKeepsTheFile()
{
    QFETCH(bool, missingFile);
    QFETCH(int, status);
    QFETCH(QByteArray, answer);
    m_fake.setFault(kUploadPath, FakeService::Fault::http(status, answer));
    const FNBlock block =
        m_fx->addBlock(QStringLiteral("audio"), {{QStringLiteral("url"), QStringLiteral("old")}});
    BlockRow *row = mediaRow(block);
    const QString path = missingFile ? m_files->filePath(QStringLiteral("gone.m4a"))
                                     : writeFile(QStringLiteral("rec.m4a"), QByteArray(8, 'r'));

    AudioBlock::uploadRecording(row->model(), path);
    QTRY_VERIFY(m_toasts->current());
    QCOMPARE(m_toasts->current()->message, kAudioFailed);
    QVERIFY(!m_toasts->current()->actionLabel);
    QCOMPARE(QFile::exists(path), !missingFile);
    QCOMPARE(storedURL(block.localID), QStringLiteral("old"));
    QCOMPARE(m_fake.requestsTo(kUploadPath).size(), missingFile ? 0 : 1);
}

void TestMediaBlocks::unauthorizedUploadEndsTheSession_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("image") << "image";
    QTest::newRow("file") << "file";
    QTest::newRow("recording") << "recording";
}

void TestMediaBlocks::unauthorizedUploadEndsTheSession()
{
    QFETCH(QString, action);
    m_fake.setFault(kUploadPath, FakeService::Fault::http(401, R"({"error":"Unauthorized"})"));
    const FNBlock block =
        m_fx->addBlock(action == QLatin1String("image") ? QStringLiteral("image") : QStringLiteral("file"));
    BlockRow *row = mediaRow(block);
    m_picker->setAnswer(writeFile(QStringLiteral("a.png"), EditorSteps::pngBytes()));
    const QString recording = writeFile(QStringLiteral("r.m4a"), "r");
    QSignalSpy expired(&m_world->events, &AppEvents::authExpired);
    DiagCapture diag;

    if (action == QLatin1String("image"))
        ImageBlock::upload(row->model());
    else if (action == QLatin1String("file"))
        attachTo(row, QStringLiteral("any"));
    else
        AudioBlock::uploadRecording(row->model(), recording);
    QTRY_COMPARE(m_fake.requestsTo(kUploadPath).size(), 1);
    if (action == QLatin1String("recording"))
        QTRY_VERIFY(m_toasts->current());
    else
        QTRY_COMPARE(diag.lines().size(), 1);
    QCOMPARE(expired.size(), 1);
    QVERIFY(storedURL(block.localID).isEmpty());
}

void TestMediaBlocks::signedOutDoesNothing()
{
    m_world->setToken(std::nullopt);
    const FNBlock image = m_fx->addBlock(QStringLiteral("image"));
    const FNBlock bookmark = m_fx->addBlock(QStringLiteral("bookmark"));
    BlockRow *imageRow = mediaRow(image);
    BlockRow *bookmarkRow = mediaRow(bookmark);
    m_picker->setAnswer(writeFile(QStringLiteral("a.png"), EditorSteps::pngBytes()));
    const QString recording = writeFile(QStringLiteral("r.m4a"), "r");

    uploadButton(imageRow)->click();
    attachTo(imageRow, QStringLiteral("any"));
    attachTo(imageRow, QStringLiteral("audio"));
    AudioBlock::uploadRecording(imageRow->model(), recording);
    BookmarkBlock::resolve(bookmarkRow->model(), QStringLiteral("https://example.com/a"));

    QVERIFY(m_picker->requests().isEmpty());
    QVERIFY(QFile::exists(recording));
    QVERIFY(m_fx->storedContent(bookmark.localID).empty());
    QCOMPARE(m_fx->changes(), 0);
    QVERIFY(!m_toasts->current());
    // A request of ours answered now: nothing else was sent before it.
    m_world->setToken(m_token);
    QVERIFY(runTask(m_world->client.fetchBookmark(QStringLiteral("https://example.com/probe"))).ok());
    QCOMPARE(m_fake.requests().size(), 1);
}

void TestMediaBlocks::cancelledPickerChangesNothing()
{
    const FNBlock block =
        m_fx->addBlock(QStringLiteral("file"), {{QStringLiteral("url"), QStringLiteral("u")}});
    BlockRow *row = mediaRow(block);
    m_picker->setAnswer(std::nullopt);
    DiagCapture diag;
    attachTo(row, QStringLiteral("any"));
    ImageBlock::upload(row->model());
    QCOMPARE(m_picker->requests().size(), 2);
    QCOMPARE(storedURL(block.localID), QStringLiteral("u"));
    QCOMPARE(m_fx->changes(), 0);
    QVERIFY(diag.lines().isEmpty());
    QVERIFY(m_fake.requests().isEmpty());
}

void TestMediaBlocks::uploadOutlivesItsRow()
{
    const FNBlock block =
        m_fx->addBlock(QStringLiteral("file"), {{QStringLiteral("note"), QStringLiteral("n")}});
    ServicePage service(m_fake, m_token, m_fx->store(), m_world->client);
    QVERIFY(service.isValid());
    BlockRow *row = mediaRow(block);
    m_picker->setAnswer(writeFile(QStringLiteral("a.pdf"), "%PDF"));
    attachTo(row, QStringLiteral("any"));
    // The page scrolls the row away (or closes) while the upload is under way.
    delete row;
    QTRY_VERIFY(!storedURL(block.localID).isEmpty());
    const JSONObject content = m_fx->storedContent(block.localID);
    QCOMPARE(content.at(QStringLiteral("filename")).toString(), QStringLiteral("a.pdf"));
    QCOMPARE(content.at(QStringLiteral("note")).toString(), QStringLiteral("n"));
    // No page will flush it: the write queued it, and the service and the other device have it.
    QVERIFY(service.queuedUpsertsCarrying(block.localID) > 0 || service.serviceContent(block.localID));
    QVERIFY(service.push());
    QCOMPARE(service.serviceContent(block.localID), std::optional<JSONObject>(content));
    QCOMPARE(service.otherDeviceContent(block.localID), std::optional<JSONObject>(content));
}

void TestMediaBlocks::uploadAfterResetWritesNothing()
{
    const FNBlock block = m_fx->addBlock(QStringLiteral("file"));
    BlockRow *row = mediaRow(block);
    m_picker->setAnswer(writeFile(QStringLiteral("a.pdf"), "%PDF"));
    // Signing out wipes the data set while the upload is with the service.
    connect(&m_fake, &FakeService::requestReceived, &m_fx->store(), [this] { m_fx->store().reset(); });
    const size_t before = FakeUploadRoutes::of(m_fake).files().size();
    QVERIFY(runTask(FileBlock::pickAndAttach(row->model(), QStringLiteral("any"))).ok());
    QCOMPARE(FakeUploadRoutes::of(m_fake).files().size(), before + 1);
    QVERIFY(m_fx->store().state().blocks.empty());
    QCOMPARE(m_fx->changes(), 0);
}

void TestMediaBlocks::previewFillsWhatTheReplyHolds()
{
    const QString url = QStringLiteral("https://example.com/article");
    m_fake.state().bookmarkPreviews.insert(url,
                                           JSONObject{{QStringLiteral("title"), QStringLiteral("Article")}});
    const FNBlock block =
        m_fx->addBlock(QStringLiteral("bookmark"), {{QStringLiteral("url"), url},
                                                    {QStringLiteral("description"), QStringLiteral("d")},
                                                    {QStringLiteral("image"), QStringLiteral("i.png")}});
    BlockRow *row = mediaRow(block);
    BookmarkBlock::resolve(row->model(), url);
    QTRY_COMPARE(BlockContent::readString(m_fx->storedContent(block.localID), QStringLiteral("title")),
                 QStringLiteral("Article"));
    const JSONObject content = m_fx->storedContent(block.localID);
    // The same address again: what the reply leaves out stays.
    QCOMPARE(content.at(QStringLiteral("description")).toString(), QStringLiteral("d"));
    QCOMPARE(content.at(QStringLiteral("image")).toString(), QStringLiteral("i.png"));
    QCOMPARE(m_fake.lastRequest().body, QByteArray("{\"url\":\"https://example.com/article\"}"));
}

void TestMediaBlocks::newAddressDropsTheOldPreviewAtOnce()
{
    const QString next = QStringLiteral("https://example.com/next");
    m_fake.state().bookmarkPreviews.insert(next,
                                           JSONObject{{QStringLiteral("title"), QStringLiteral("Next")}});
    const FNBlock block = m_fx->addBlock(QStringLiteral("bookmark"),
                                         {{QStringLiteral("url"), QStringLiteral("https://example.com/old")},
                                          {QStringLiteral("title"), QStringLiteral("Old")},
                                          {QStringLiteral("description"), QStringLiteral("Old text")},
                                          {QStringLiteral("image"), QStringLiteral("old.png")},
                                          {QStringLiteral("other"), 1}});
    BlockRow *row = mediaRow(block);
    const int before = int(m_fx->store().state().blocks.size());
    BookmarkBlock::resolve(row->model(), next);

    // One write: the new address and none of the old preview.
    QCOMPARE(m_fx->changes(), 1);
    JSONObject content = m_fx->storedContent(block.localID);
    QCOMPARE(content.at(QStringLiteral("url")).toString(), next);
    QVERIFY(!content.count(QStringLiteral("title")));
    QVERIFY(!content.count(QStringLiteral("description")));
    QVERIFY(!content.count(QStringLiteral("image")));
    QCOMPARE(content.at(QStringLiteral("other")).toInt(), 1);

    QTRY_COMPARE(BlockContent::readString(m_fx->storedContent(block.localID), QStringLiteral("title")),
                 QStringLiteral("Next"));
    content = m_fx->storedContent(block.localID);
    QVERIFY(!content.count(QStringLiteral("image")));
    QCOMPARE(int(m_fx->store().state().blocks.size()), before);
}

void TestMediaBlocks::failedPreviewLeavesTheAddress()
{
    m_fake.setFault(kBookmarkPath, FakeService::Fault::http(500, "{}"));
    const QString url = QStringLiteral("https://example.com/a");
    const FNBlock block =
        m_fx->addBlock(QStringLiteral("bookmark"),
                       {{QStringLiteral("url"), url}, {QStringLiteral("title"), QStringLiteral("T")}});
    BlockRow *row = mediaRow(block);
    DiagCapture diag;
    QVERIFY(runTask(BookmarkBlock::fetchPreview(row->model(), url)).ok());
    QCOMPARE(m_fake.requestsTo(kBookmarkPath).size(), 1);
    const JSONObject content = m_fx->storedContent(block.localID);
    QCOMPARE(content.at(QStringLiteral("url")).toString(), url);
    QCOMPARE(content.at(QStringLiteral("title")).toString(), QStringLiteral("T"));
    QCOMPARE(m_fx->changes(), 0);
    QVERIFY(diag.lines().isEmpty());
    QVERIFY(!m_toasts->current());
}

void TestMediaBlocks::lateReplyForAnOldAddressIsDropped()
{
    const QString first = QStringLiteral("https://example.com/first");
    const QString second = QStringLiteral("https://example.com/second");
    m_fake.state().bookmarkPreviews.insert(
        first, JSONObject{{QStringLiteral("title"), QStringLiteral("First")},
                          {QStringLiteral("description"), QStringLiteral("1st")}});
    m_fake.state().bookmarkPreviews.insert(second,
                                           JSONObject{{QStringLiteral("title"), QStringLiteral("Second")}});
    const FNBlock block = m_fx->addBlock(QStringLiteral("bookmark"), {{QStringLiteral("url"), first}});
    BlockRow *row = mediaRow(block);
    BookmarkBlock::resolve(row->model(), second);
    // The answer for the address the block had before comes in after the change.
    QVERIFY(runTask(BookmarkBlock::fetchPreview(row->model(), first)).ok());
    JSONObject content = m_fx->storedContent(block.localID);
    QVERIFY(!content.count(QStringLiteral("description")));
    QVERIFY(BlockContent::readString(content, QStringLiteral("title")) != QStringLiteral("First"));
    QTRY_COMPARE(BlockContent::readString(m_fx->storedContent(block.localID), QStringLiteral("title")),
                 QStringLiteral("Second"));
    content = m_fx->storedContent(block.localID);
    QCOMPARE(content.at(QStringLiteral("url")).toString(), second);
    QVERIFY(!content.count(QStringLiteral("description")));
}

PENROOST_MEDIA_TEST_MAIN(TestMediaBlocks)
#include "tst_media_blocks.moc"
