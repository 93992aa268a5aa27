#include "api/api_client.h"
#include "api/file_upload.h"
#include "fake-service/fake_service.h"
#include "fake-service/fake_upload_routes.h"
#include "json/json_error.h"
#include "platform/app_events.h"
#include "platform/preset_file_picker.h"
#include "support/device_services.h"
#include "support/task_outcome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString UploadPath = QStringLiteral("/api/upload.php");

QByteArray boundaryOf(const HttpRequest &r)
{
    const QByteArray type = r.header("Content-Type").value_or(QByteArray());
    const QByteArray prefix = "multipart/form-data; boundary=";
    return type.startsWith(prefix) ? type.mid(prefix.size()) : QByteArray();
}

// The body as the service expects it, written out independently of the client's builder.
QByteArray expectedBody(const QByteArray &boundary, const QByteArray &nameOnWire, const QByteArray &mime,
                        const QByteArray &data)
{
    return "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"file\"; filename=\"" +
           nameOnWire + "\"\r\n" + "Content-Type: " + mime + "\r\n\r\n" + data + "\r\n--" + boundary +
           "--\r\n";
}

} // namespace

Q_DECLARE_METATYPE(FakeService::Fault)

class TestFileUpload : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void bodyByteForByte_data();
    void bodyByteForByte();
    void headersAsSent();
    void kindInTheAddress_data();
    void kindInTheAddress();
    void storedFileIsServedBack();
    void twoUploadsAtOnceUseTheirOwnBoundaries();
    void awkwardNamesAreEscaped_data();
    void awkwardNamesAreEscaped();
    void successStatuses_data();
    void successStatuses();
    void unusableURLFromServer_data();
    void unusableURLFromServer();
    void undecodableReplyPassesDecoderError();
    void unauthorizedPostsAuthExpiredOnce();
    void errorStatuses_data();
    void errorStatuses();
    void tooLargeForTheService();
    void droppedConnectionIsNetwork();
    void cancelAbortsTheTransfer();
    void onlySilenceEndsAnUpload_data();
    void onlySilenceEndsAnUpload();
    void unparsableAddressSendsNothing();

    void mimeTypes_data();
    void mimeTypes();
    void pickFileReadsTheChosenFile();
    void pickFileGivesNothing_data();
    void pickFileGivesNothing();

private:
    // An upload through the client under a session signed in with `token`.
    QCoro::Task<QUrl> upload(QByteArray data, QString filename, QString mime, QString token,
                             std::optional<QString> kind = std::nullopt, QPointer<CancelToken> cancel = {});
    // The small upload the reply and failure tests send.
    TaskOutcome<QUrl> uploadSmallPng(const QString &token);

    FakeService m_fake;
    QString m_token;
    QTemporaryDir m_dir;
    std::unique_ptr<DeviceServices> m_world; // a fresh one per test, at the fake
};

QCoro::Task<QUrl> TestFileUpload::upload(QByteArray data, QString filename, QString mime, QString token,
                                         std::optional<QString> kind, QPointer<CancelToken> cancel)
{
    m_world->setToken(token);
    return m_world->client.upload(std::move(data), std::move(filename), std::move(mime), std::move(kind),
                                  std::move(cancel));
}

TaskOutcome<QUrl> TestFileUpload::uploadSmallPng(const QString &token)
{
    return runTask(upload("abc", QStringLiteral("f.png"), QStringLiteral("image/png"), token));
}

void TestFileUpload::initTestCase()
{
    QVERIFY(m_fake.start());
    m_token =
        m_fake
            .createAccount(QStringLiteral("up@example.com"), QStringLiteral("secret1"), QStringLiteral("Up"))
            .token;
    QVERIFY(!m_token.isEmpty());
}

void TestFileUpload::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
    FakeUploadRoutes::of(m_fake).setMaxUploadBytes(20 * 1024 * 1024);
    m_world.reset();
    m_world = std::make_unique<DeviceServices>(m_dir.filePath(QStringLiteral("settings.ini")),
                                               std::make_shared<MemorySecretBackend>(), m_fake.origin());
}

void TestFileUpload::bodyByteForByte_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("filename");
    QTest::addColumn<QString>("mime");

    QTest::newRow("text") << QByteArray("hello\n") << "note.txt"
                          << "text/plain";
    QTest::newRow("empty file") << QByteArray() << "empty.bin"
                                << "application/octet-stream";
    QTest::newRow("binary with CRLF and the boundary prefix")
        << QByteArray("\x00\xff\r\n--\r\n------FolioNestBoundary-\r\n", 30) << "photo.png"
        << "image/png";
    QTest::newRow("non-ASCII name unchanged") << QByteArray("%PDF-1.7") << "Résumé 2024 (final).pdf"
                                              << "application/pdf";
}

void TestFileUpload::bodyByteForByte()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, filename);
    QFETCH(QString, mime);
    const auto outcome = runTask(upload(data, filename, mime, m_token));
    QVERIFY2(outcome.ok(), qPrintable(outcome.errorText()));

    const HttpRequest r = m_fake.lastRequest();
    const QByteArray boundary = boundaryOf(r);
    QVERIFY2(QRegularExpression(QStringLiteral("^----FolioNestBoundary-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-"
                                               "[0-9A-F]{4}-[0-9A-F]{12}$"))
                 .match(QString::fromLatin1(boundary))
                 .hasMatch(),
             boundary.constData());
    QCOMPARE(r.body, expectedBody(boundary, filename.toUtf8(), mime.toUtf8(), data));

    // The service parsed it the same way.
    const auto &files = FakeUploadRoutes::of(m_fake).files();
    QVERIFY(!files.empty());
    const auto &stored = files.rbegin()->second;
    QCOMPARE(stored.name, filename);
    QCOMPARE(stored.mime, mime.toUtf8());
    QCOMPARE(stored.data, data);
}

void TestFileUpload::headersAsSent()
{
    QVERIFY(runTask(upload("x", QStringLiteral("a.txt"), QStringLiteral("text/plain"), m_token)).ok());
    const HttpRequest r = m_fake.lastRequest();
    QCOMPARE(r.method, QByteArray("POST"));
    QCOMPARE(r.header("Authorization"), std::optional("Bearer " + m_token.toUtf8()));
    QCOMPARE(r.header("User-Agent"), std::optional(QByteArray("Penroost-Derud/0.1 (Mac/iOS)")));
    QVERIFY(!r.header("Accept"));
    const QList<QByteArray> names = r.headerNames();
    const auto at = [&](const char *name) { return names.indexOf(QByteArray(name)); };
    QVERIFY(at("Content-Type") >= 0);
    QVERIFY(at("Content-Type") < at("Authorization"));
    QVERIFY(at("Authorization") < at("User-Agent"));
}

void TestFileUpload::kindInTheAddress_data()
{
    QTest::addColumn<std::optional<QString>>("kind");
    QTest::addColumn<QByteArray>("target");

    QTest::newRow("absent is image") << std::optional<QString>() << QByteArray("/api/upload.php?kind=image");
    QTest::newRow("any") << std::optional<QString>(QStringLiteral("any"))
                         << QByteArray("/api/upload.php?kind=any");
    QTest::newRow("audio") << std::optional<QString>(QStringLiteral("audio"))
                           << QByteArray("/api/upload.php?kind=audio");
}

void TestFileUpload::kindInTheAddress()
{
    QFETCH(std::optional<QString>, kind);
    QFETCH(QByteArray, target);
    QVERIFY(runTask(upload("x", QStringLiteral("a.m4a"), QStringLiteral("audio/mp4"), m_token, kind)).ok());
    QCOMPARE(m_fake.lastRequest().target, target);
    QCOMPARE(FakeUploadRoutes::of(m_fake).files().rbegin()->second.kind,
             kind.value_or(QStringLiteral("image")));
}

void TestFileUpload::storedFileIsServedBack()
{
    const QByteArray data("\x89PNG\r\n\x1a\n-image-bytes", 20);
    const auto outcome =
        runTask(upload(data, QStringLiteral("My Photo.png"), QStringLiteral("image/png"), m_token));
    QVERIFY2(outcome.ok(), qPrintable(outcome.errorText()));
    const QUrl url = *outcome.value;
    QVERIFY(url.toString().startsWith(m_fake.origin() + QStringLiteral("/uploads/")));

    QNetworkAccessManager nam;
    std::unique_ptr<QNetworkReply> reply(nam.get(QNetworkRequest(url)));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    QVERIFY(finished.wait());
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QCOMPARE(reply->header(QNetworkRequest::ContentTypeHeader).toString(), QStringLiteral("image/png"));
    QCOMPARE(reply->readAll(), data);
}

void TestFileUpload::twoUploadsAtOnceUseTheirOwnBoundaries()
{
    m_fake.setFault(UploadPath, FakeService::Fault::delay(50));
    auto first = upload("first file", QStringLiteral("one.txt"), QStringLiteral("text/plain"), m_token);
    auto second = upload("second", QStringLiteral("two.csv"), QStringLiteral("text/csv"), m_token,
                         QStringLiteral("any"));
    const auto a = runTask(std::move(first));
    const auto b = runTask(std::move(second));
    QVERIFY2(a.ok() && b.ok(), qPrintable(a.errorText() + b.errorText()));
    QVERIFY(*a.value != *b.value);
    QVERIFY(a.value->path().endsWith(QLatin1String("/one.txt")));
    QVERIFY(b.value->path().endsWith(QLatin1String("/two.csv")));

    const auto requests = m_fake.requestsTo(UploadPath);
    QCOMPARE(requests.size(), 2);
    QVERIFY(boundaryOf(requests[0]) != boundaryOf(requests[1]));
    for (const HttpRequest &r : requests) {
        const bool isFirst = r.body.contains("one.txt");
        QCOMPARE(r.body,
                 expectedBody(boundaryOf(r), isFirst ? "one.txt" : "two.csv",
                              isFirst ? "text/plain" : "text/csv", isFirst ? "first file" : "second"));
    }
}

// Without escaping, these names would end the quoted name early or add headers to the part.
void TestFileUpload::awkwardNamesAreEscaped_data()
{
    QTest::addColumn<QString>("filename");
    QTest::addColumn<QByteArray>("onWire");

    QTest::newRow("quote") << QStringLiteral("say \"hi\".txt") << QByteArray("say %22hi%22.txt");
    QTest::newRow("header injection") << QStringLiteral("a.txt\r\nContent-Type: text/html")
                                      << QByteArray("a.txt%0D%0AContent-Type: text/html");
    QTest::newRow("bare LF") << QStringLiteral("two\nlines.txt") << QByteArray("two%0Alines.txt");
    QTest::newRow("percent and semicolon kept")
        << QStringLiteral("100%; done.txt") << QByteArray("100%; done.txt");
}

void TestFileUpload::awkwardNamesAreEscaped()
{
    QFETCH(QString, filename);
    QFETCH(QByteArray, onWire);
    const auto outcome = runTask(upload("data", filename, QStringLiteral("text/plain"), m_token));
    QVERIFY2(outcome.ok(), qPrintable(outcome.errorText()));
    const HttpRequest r = m_fake.lastRequest();
    QCOMPARE(r.body, expectedBody(boundaryOf(r), onWire, "text/plain", "data"));
    const auto &stored = FakeUploadRoutes::of(m_fake).files().rbegin()->second;
    QCOMPARE(stored.name.toUtf8(), onWire);
    QCOMPARE(stored.mime, QByteArray("text/plain"));
}

void TestFileUpload::successStatuses_data()
{
    QTest::addColumn<int>("status");
    QTest::newRow("200") << 200;
    QTest::newRow("201") << 201;
}

void TestFileUpload::successStatuses()
{
    QFETCH(int, status);
    m_fake.setFault(UploadPath,
                    FakeService::Fault::http(status, R"({"url":"https://cdn.example/f/1.png","size":3})"));
    const auto outcome = uploadSmallPng(m_token);
    QVERIFY2(outcome.ok(), qPrintable(outcome.errorText()));
    QCOMPARE(*outcome.value, QUrl(QStringLiteral("https://cdn.example/f/1.png")));
}

void TestFileUpload::unusableURLFromServer_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("empty url") << QByteArray(R"({"url":""})");
    QTest::newRow("unparsable url") << QByteArray(R"({"url":"http://[::1/x"})");
}

void TestFileUpload::unusableURLFromServer()
{
    QFETCH(QByteArray, body);
    m_fake.setFault(UploadPath, FakeService::Fault::http(200, body));
    const auto outcome = uploadSmallPng(m_token);
    QVERIFY(outcome.apiError());
    QCOMPARE(outcome.apiError()->kind(), APIError::Kind::Other);
    QCOMPARE(outcome.apiError()->errorDescription(), QStringLiteral("Bad URL from server"));
}

void TestFileUpload::undecodableReplyPassesDecoderError()
{
    for (const QByteArray &body : {QByteArray("<html>ok</html>"), QByteArray(R"({"path":"/x"})")}) {
        m_fake.setFault(UploadPath, FakeService::Fault::http(200, body));
        const auto outcome = uploadSmallPng(m_token);
        QVERIFY(!outcome.ok());
        QVERIFY_THROWS_EXCEPTION(DecodeError, std::rethrow_exception(outcome.error));
    }
}

void TestFileUpload::unauthorizedPostsAuthExpiredOnce()
{
    QSignalSpy expired(&m_world->events, &AppEvents::authExpired);
    const auto outcome = uploadSmallPng(QStringLiteral("revoked-token"));
    QCOMPARE(expired.count(), 1);
    QVERIFY(outcome.apiError());
    QCOMPARE(outcome.apiError()->kind(), APIError::Kind::Http);
    QCOMPARE(outcome.apiError()->status(), 401);
    QCOMPARE(outcome.apiError()->body(), std::optional(QStringLiteral(R"({"error":"Unauthorized"})")));
    QVERIFY(outcome.apiError()->errorDescription().startsWith(QStringLiteral("Please sign in again.")));

    // Other failures do not end the session.
    m_fake.setFault(UploadPath, FakeService::Fault::http(403, R"({"error":"Nope"})"));
    QVERIFY(!uploadSmallPng(m_token).ok());
    QCOMPARE(expired.count(), 1);
}

void TestFileUpload::errorStatuses_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<std::optional<QString>>("text");

    QTest::newRow("500 with text") << 500 << QByteArray(R"({"error":"boom"})")
                                   << std::optional<QString>(QStringLiteral(R"({"error":"boom"})"));
    QTest::newRow("415") << 415 << QByteArray("nope") << std::optional<QString>(QStringLiteral("nope"));
    QTest::newRow("not UTF-8") << 502 << QByteArray("\xff\xfe") << std::optional<QString>();
}

void TestFileUpload::errorStatuses()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(std::optional<QString>, text);
    m_fake.setFault(UploadPath, FakeService::Fault::http(status, body));
    const auto outcome = uploadSmallPng(m_token);
    QVERIFY(outcome.apiError());
    QCOMPARE(outcome.apiError()->kind(), APIError::Kind::Http);
    QCOMPARE(outcome.apiError()->status(), status);
    QCOMPARE(outcome.apiError()->body(), text);
}

void TestFileUpload::tooLargeForTheService()
{
    FakeUploadRoutes::of(m_fake).setMaxUploadBytes(1024);
    const auto outcome = runTask(upload(QByteArray(4096, 'x'), QStringLiteral("big.zip"),
                                        QStringLiteral("application/zip"), m_token, QStringLiteral("any")));
    QVERIFY(outcome.apiError());
    QCOMPARE(outcome.apiError()->status(), 413);
    QVERIFY2(outcome.apiError()->errorDescription().startsWith(QStringLiteral("That's too big to upload.")),
             qPrintable(outcome.apiError()->errorDescription()));
}

void TestFileUpload::droppedConnectionIsNetwork()
{
    m_fake.setFault(UploadPath, FakeService::Fault::drop());
    QSignalSpy expired(&m_world->events, &AppEvents::authExpired);
    const auto outcome = uploadSmallPng(m_token);
    QVERIFY(outcome.apiError());
    QCOMPARE(outcome.apiError()->kind(), APIError::Kind::Network);
    QCOMPARE(expired.count(), 0);
}

void TestFileUpload::cancelAbortsTheTransfer()
{
    m_fake.setFault(UploadPath, FakeService::Fault::delay(10000));
    CancelToken cancel;
    auto task =
        upload("abc", QStringLiteral("f.png"), QStringLiteral("image/png"), m_token, std::nullopt, &cancel);
    QTimer::singleShot(0, &cancel, &CancelToken::cancel);
    QElapsedTimer clock;
    clock.start();
    const auto outcome = runTask(std::move(task));
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(outcome.apiError());
    QCOMPARE(outcome.apiError()->kind(), APIError::Kind::Network);
}

// Every duration a hundredth of the real one: ordinary requests give up after 30 s of silence or 60 s
// in all, an upload only after 60 s of silence.
void TestFileUpload::onlySilenceEndsAnUpload_data()
{
    QTest::addColumn<FakeService::Fault>("fault");
    QTest::addColumn<bool>("succeeds");
    QTest::newRow("answer after 35 s of silence") << FakeService::Fault::delay(350) << true;
    QTest::newRow("reply streaming for 70 s") << FakeService::Fault::trickle(8, 100) << true;
    QTest::newRow("61 s of silence") << FakeService::Fault::delay(610) << false;
}

void TestFileUpload::onlySilenceEndsAnUpload()
{
    QFETCH(FakeService::Fault, fault);
    QFETCH(bool, succeeds);
    APIClient &client = m_world->client.transport();
    client.setTimeouts(std::chrono::milliseconds(300), std::chrono::milliseconds(600));
    client.setUploadTimeout(std::chrono::milliseconds(600));
    const auto restore = qScopeGuard([&client] {
        client.setTimeouts(APIClient::kRequestTimeout, APIClient::kResourceTimeout);
        client.setUploadTimeout(APIClient::kUploadSilenceTimeout);
    });
    m_fake.setFault(UploadPath, fault);

    const auto outcome = uploadSmallPng(m_token);
    QVERIFY(outcome.finished);
    if (succeeds) {
        QVERIFY2(outcome.ok(), qPrintable(outcome.errorText()));
        QVERIFY(outcome.value->isValid());
        return;
    }
    const auto e = outcome.apiError();
    QVERIFY(e);
    QCOMPARE(e->networkError(), QNetworkReply::TimeoutError);
    QCOMPARE(e->errorDescription(), QStringLiteral("The request timed out."));
}

void TestFileUpload::unparsableAddressSendsNothing()
{
    const auto outcome = runTask(upload("abc", QStringLiteral("f.png"), QStringLiteral("image/png"), m_token,
                                        QStringLiteral("im age<>")));
    QVERIFY(outcome.apiError());
    QCOMPARE(outcome.apiError()->errorDescription(), QStringLiteral("Invalid upload URL"));
    QVERIFY(m_fake.requests().isEmpty());
}

void TestFileUpload::mimeTypes_data()
{
    QTest::addColumn<QString>("filename");
    QTest::addColumn<QString>("mime");

    QTest::newRow("upper-case JPG") << "Photo.JPG"
                                    << "image/jpeg";
    QTest::newRow("jpeg") << "a.jpeg"
                          << "image/jpeg";
    QTest::newRow("mixed-case png") << "Shot.PnG"
                                    << "image/png";
    QTest::newRow("m4a") << "memo.m4a"
                         << "audio/mp4";
    QTest::newRow("mp3") << "song.mp3"
                         << "audio/mpeg";
    QTest::newRow("docx") << "cv.docx"
                          << "application/vnd.openxmlformats-officedocument.wordprocessingml.document";
    QTest::newRow("xlsx") << "t.xlsx"
                          << "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";
    QTest::newRow("json") << "data.json"
                          << "application/json";
    QTest::newRow("only the last extension") << "archive.tar.gz"
                                             << "application/octet-stream";
    QTest::newRow("png then something else") << "image.png.exe"
                                             << "application/octet-stream";
    QTest::newRow("no extension") << "README"
                                  << "application/octet-stream";
    QTest::newRow("trailing dot") << "notes."
                                  << "application/octet-stream";
    QTest::newRow("unknown") << "movie.mov"
                             << "application/octet-stream";
}

void TestFileUpload::mimeTypes()
{
    QFETCH(QString, filename);
    QFETCH(QString, mime);
    QCOMPARE(mimeTypeForFilename(filename), mime);
}

void TestFileUpload::pickFileReadsTheChosenFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Photo.JPG"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\xff\xd8\xff\xe0jpeg", 8));
    file.close();

    PresetFilePicker picker(path);
    const auto outcome = runTask(pickFile(picker, FilePicker::Filter::Images));
    QVERIFY(outcome.ok() && *outcome.value);
    const PickedFile picked = **outcome.value;
    QCOMPARE(picked.filename, QStringLiteral("Photo.JPG"));
    QCOMPARE(picked.mime, QStringLiteral("image/jpeg"));
    QCOMPARE(picked.data, QByteArray("\xff\xd8\xff\xe0jpeg", 8));
    QCOMPARE(picker.requests(), QList<FilePicker::Filter>{FilePicker::Filter::Images});
}

void TestFileUpload::pickFileGivesNothing_data()
{
    QTest::addColumn<QString>("answer"); // "" = cancelled, "<dir>" = a folder
    QTest::newRow("cancelled") << QString();
    QTest::newRow("missing file") << QStringLiteral("gone.txt");
    QTest::newRow("a folder") << QStringLiteral("<dir>");
}

void TestFileUpload::pickFileGivesNothing()
{
    QFETCH(QString, answer);
    QTemporaryDir dir;
    PresetFilePicker picker;
    if (answer == QLatin1String("<dir>"))
        picker.setAnswer(dir.path());
    else if (!answer.isEmpty())
        picker.setAnswer(dir.filePath(answer));
    const auto outcome = runTask(pickFile(picker, FilePicker::Filter::AnyFile));
    QVERIFY(outcome.ok());
    QVERIFY(!*outcome.value);
}

QTEST_MAIN(TestFileUpload)
#include "tst_file_upload.moc"
