#include "api/remote_image_loader.h"
#include "fake-service/fake_service.h"
#include "fake-service/fake_upload_routes.h"
#include "platform/memory_secret_backend.h"
#include "support/device_services.h"
#include "support/editor_steps.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

namespace {

QByteArray encoded(const QSize &size, const char *format)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// Qt writes no GIF: a one-pixel GIF89a as browsers serve it.
const QByteArray kOnePixelGif =
    QByteArray::fromBase64("R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==");

QString pathOf(const QString &url)
{
    return QUrl(url).path(QUrl::FullyEncoded);
}

} // namespace

Q_DECLARE_METATYPE(FakeService::Fault)

class TestRemoteImageLoader : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void decodesServedImages_data();
    void decodesServedImages();
    void failures_data();
    void failures();
    void refusedAddressesSendNothing_data();
    void refusedAddressesSendNothing();
    void secondViewComesFromTheCache();
    void viewsOfOneAddressShareTheDownload();
    void failureIsNotKept();
    void cacheIsBounded();
    void droppedViewAbandonsTheDownload();
    void oneViewDroppedTheOtherStillLoads();

private:
    QString serve(const QString &name, const QByteArray &data, const QByteArray &mime = "image/png")
    {
        return FakeUploadRoutes::of(m_fake).store({QStringLiteral("image"), name, mime, data});
    }
    RemoteImageLoader &loader() { return m_world->client.images(); }
    int requestsTo(const QString &url) const { return int(m_fake.requestsTo(pathOf(url)).size()); }

    FakeService m_fake;
    QString m_token;
    QTemporaryDir m_dir;
    std::unique_ptr<DeviceServices> m_world;
    std::unique_ptr<QObject> m_owner;
};

void TestRemoteImageLoader::initTestCase()
{
    m_token =
        EditorSteps::startWithAccount(m_fake, QStringLiteral("images@example.com"), QStringLiteral("Im"));
    QVERIFY(!m_token.isEmpty());
}

void TestRemoteImageLoader::init()
{
    EditorSteps::useFake(m_fake);
    // Signed in: the token is at hand, and must still not travel with an image.
    m_world = std::make_unique<DeviceServices>(m_dir.filePath(QStringLiteral("settings.ini")),
                                               std::make_shared<MemorySecretBackend>(), m_fake.origin());
    m_world->setToken(m_token);
    m_owner = std::make_unique<QObject>();
}

void TestRemoteImageLoader::cleanup()
{
    m_owner.reset();
    m_world.reset();
}

void TestRemoteImageLoader::decodesServedImages_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("mime");
    QTest::addColumn<QSize>("size");

    QTest::newRow("PNG") << encoded({8, 4}, "PNG") << QByteArray("image/png") << QSize(8, 4);
    QTest::newRow("JPEG") << encoded({16, 8}, "JPEG") << QByteArray("image/jpeg") << QSize(16, 8);
    QTest::newRow("GIF") << kOnePixelGif << QByteArray("image/gif") << QSize(1, 1);
    QTest::newRow("WebP") << encoded({10, 6}, "WEBP") << QByteArray("image/webp") << QSize(10, 6);
    // The content decides, not the label the server put on it.
    QTest::newRow("PNG sent as octet-stream")
        << encoded({5, 5}, "PNG") << QByteArray("application/octet-stream") << QSize(5, 5);
    QTest::newRow("huge, scaled to the longest side")
        << encoded({RemoteImageLoader::kMaxSide * 2, 40}, "PNG") << QByteArray("image/png")
        << QSize(RemoteImageLoader::kMaxSide, 20);
}

void TestRemoteImageLoader::decodesServedImages()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, mime);
    QFETCH(QSize, size);
    QVERIFY(!bytes.isEmpty());
    const QString url = serve(QStringLiteral("picture"), bytes, mime);

    RemoteImage *image = loader().load(url, m_owner.get());
    QCOMPARE(image->state(), RemoteImage::State::loading);
    QSignalSpy changed(image, &RemoteImage::stateChanged);
    QVERIFY(changed.wait());
    QCOMPARE(changed.size(), 1);
    QCOMPARE(image->state(), RemoteImage::State::loaded);
    QCOMPARE(image->image().size(), size);
    QCOMPARE(image->image().pixelColor(0, 0).green() > 100, true);

    const QList<HttpRequest> sent = m_fake.requestsTo(pathOf(url));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().method, QByteArray("GET"));
    QVERIFY(!sent.first().header("Authorization"));
    QVERIFY(!sent.first().header("Cookie"));
}

void TestRemoteImageLoader::failures_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<FakeService::Fault>("fault");

    const QByteArray png = encoded({4, 4}, "PNG");
    QTest::newRow("404") << png << QStringLiteral("missing") << FakeService::Fault();
    QTest::newRow("not an image") << QByteArray("<html>Nothing here</html>") << QStringLiteral("a.png")
                                  << FakeService::Fault();
    QTest::newRow("empty body") << QByteArray() << QStringLiteral("a.png") << FakeService::Fault();
    QTest::newRow("truncated PNG") << png.left(png.size() / 2) << QStringLiteral("a.png")
                                   << FakeService::Fault();
    QTest::newRow("server error with an image body")
        << png << QStringLiteral("a.png") << FakeService::Fault::http(500, png);
    QTest::newRow("dropped connection") << png << QStringLiteral("a.png") << FakeService::Fault::drop();
}

void TestRemoteImageLoader::failures()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(FakeService::Fault, fault);
    QString url = serve(QStringLiteral("a.png"), bytes);
    if (name == QLatin1String("missing"))
        url = m_fake.origin() + QStringLiteral("/uploads/999/missing.png");
    if (fault.status || fault.dropConnection)
        m_fake.setFault(pathOf(url), fault);

    RemoteImage *image = loader().load(url, m_owner.get());
    QSignalSpy changed(image, &RemoteImage::stateChanged);
    QVERIFY(changed.wait());
    QCOMPARE(changed.size(), 1);
    QCOMPARE(image->state(), RemoteImage::State::failed);
    QVERIFY(image->image().isNull());
    QVERIFY(!loader().isCached(url));
}

void TestRemoteImageLoader::refusedAddressesSendNothing_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("empty") << QString();
    QTest::newRow("local file") << QStringLiteral("file:///etc/hosts");
    QTest::newRow("no scheme") << QStringLiteral("example.com/a.png");
    QTest::newRow("data") << QStringLiteral("data:image/png;base64,iVBORw0KGgo=");
    QTest::newRow("no host") << QStringLiteral("http:///a.png");
}

void TestRemoteImageLoader::refusedAddressesSendNothing()
{
    QFETCH(QString, url);
    RemoteImage *image = loader().load(url, m_owner.get());
    QCOMPARE(image->state(), RemoteImage::State::failed);
    QCOMPARE(image->url(), url);
    QTest::qWait(20);
    QVERIFY(m_fake.requests().isEmpty());
}

void TestRemoteImageLoader::secondViewComesFromTheCache()
{
    const QString url = serve(QStringLiteral("cached.png"), encoded({6, 3}, "PNG"));
    {
        std::unique_ptr<QObject> firstView = std::make_unique<QObject>();
        RemoteImage *first = loader().load(url, firstView.get());
        QTRY_COMPARE(first->state(), RemoteImage::State::loaded);
    }
    QVERIFY(loader().isCached(url));
    QVERIFY(loader().cachedBytes() >= 6 * 3 * 4);

    RemoteImage *second = loader().load(url, m_owner.get());
    QCOMPARE(second->state(), RemoteImage::State::loaded);
    QCOMPARE(second->image().size(), QSize(6, 3));
    QTest::qWait(20);
    QCOMPARE(requestsTo(url), 1);
}

void TestRemoteImageLoader::viewsOfOneAddressShareTheDownload()
{
    const QString url = serve(QStringLiteral("shared.png"), encoded({7, 7}, "PNG"));
    m_fake.setFault(pathOf(url), FakeService::Fault::delay(150));

    RemoteImage *first = loader().load(url, m_owner.get());
    RemoteImage *second = loader().load(url, m_owner.get());
    QSignalSpy firstDone(first, &RemoteImage::stateChanged);
    QSignalSpy secondDone(second, &RemoteImage::stateChanged);
    QTRY_COMPARE(secondDone.size(), 1);
    QTRY_COMPARE(firstDone.size(), 1);
    QCOMPARE(first->state(), RemoteImage::State::loaded);
    QCOMPARE(second->state(), RemoteImage::State::loaded);
    QCOMPARE(requestsTo(url), 1);
}

void TestRemoteImageLoader::failureIsNotKept()
{
    const QString url = serve(QStringLiteral("flaky.png"), encoded({3, 3}, "PNG"));
    FakeService::Fault once = FakeService::Fault::http(503, "{}");
    once.remaining = 1;
    m_fake.setFault(pathOf(url), once);

    RemoteImage *first = loader().load(url, m_owner.get());
    QTRY_COMPARE(first->state(), RemoteImage::State::failed);
    // The view built again tries again.
    RemoteImage *second = loader().load(url, m_owner.get());
    QCOMPARE(second->state(), RemoteImage::State::loading);
    QTRY_COMPARE(second->state(), RemoteImage::State::loaded);
    QCOMPARE(requestsTo(url), 2);
}

void TestRemoteImageLoader::cacheIsBounded()
{
    // Room for one 100 x 100 image (40,000 bytes) but not two.
    RemoteImageLoader small(m_world->client.transport(), 60'000);
    const QString a = serve(QStringLiteral("a.png"), encoded({100, 100}, "PNG"));
    const QString b = serve(QStringLiteral("b.png"), encoded({100, 100}, "PNG"));
    const QString huge = serve(QStringLiteral("huge.png"), encoded({200, 200}, "PNG"));

    QTRY_COMPARE(small.load(a, m_owner.get())->state(), RemoteImage::State::loaded);
    QVERIFY(small.isCached(a));
    RemoteImage *second = small.load(b, m_owner.get());
    QTRY_COMPARE(second->state(), RemoteImage::State::loaded);
    QVERIFY(small.isCached(b));
    QVERIFY(!small.isCached(a));
    QVERIFY(small.cachedBytes() <= 60'000);

    // Larger than the whole cache: shown, not kept, and nothing else pushed out for it.
    RemoteImage *big = small.load(huge, m_owner.get());
    QTRY_COMPARE(big->state(), RemoteImage::State::loaded);
    QVERIFY(!small.isCached(huge));
    QVERIFY(small.isCached(b));

    QCOMPARE(small.load(a, m_owner.get())->state(), RemoteImage::State::loading);
    QTRY_COMPARE(requestsTo(a), 2);
}

void TestRemoteImageLoader::droppedViewAbandonsTheDownload()
{
    const QString url = serve(QStringLiteral("slow.png"), encoded({5, 2}, "PNG"));
    m_fake.setFault(pathOf(url), FakeService::Fault::delay(200));
    {
        QObject view;
        loader().load(url, &view);
        QTRY_COMPARE(requestsTo(url), 1);
    }
    // Nobody waits: the answer, when it comes, is not decoded into the cache.
    QTest::qWait(350);
    QVERIFY(!loader().isCached(url));

    m_fake.clearFaults();
    RemoteImage *again = loader().load(url, m_owner.get());
    QTRY_COMPARE(again->state(), RemoteImage::State::loaded);
    QCOMPARE(requestsTo(url), 2);
}

void TestRemoteImageLoader::oneViewDroppedTheOtherStillLoads()
{
    const QString url = serve(QStringLiteral("half.png"), encoded({4, 9}, "PNG"));
    m_fake.setFault(pathOf(url), FakeService::Fault::delay(120));
    auto gone = std::make_unique<QObject>();
    loader().load(url, gone.get());
    RemoteImage *stays = loader().load(url, m_owner.get());
    gone.reset();
    QTRY_COMPARE(stays->state(), RemoteImage::State::loaded);
    QCOMPARE(stays->image().size(), QSize(4, 9));
    QCOMPARE(requestsTo(url), 1);
}

QTEST_MAIN(TestRemoteImageLoader)
#include "tst_remote_image_loader.moc"
