#include "api/api_client.h"
#include "editor/cover_image.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "platform/app_events.h"
#include "platform/preset_file_picker.h"
#include "support/app_harness.h"
#include "support/editor_steps.h"
#include "support/task_outcome.h"

#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

const QString kUploadPath = QStringLiteral("/api/upload.php");

void sendMouse(QWidget *widget, QEvent::Type type, QPoint at)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace

class TestCoverImage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void dragMovesTheOffsets_data();
    void dragMovesTheOffsets();
    void offsetLimits_data();
    void offsetLimits();
    void dragWithThePointer();
    void shortMovementIsNotADrag();
    void removeCover();
    void uploadMakesTheCover();
    void uploadLandsOnThePageAsStoredNow_data();
    void uploadLandsOnThePageAsStoredNow();
    void disabledUntilThePageSyncs();
    void failedUploadShowsItsMessage();
    void unauthorizedUploadEndsTheSession();
    void changesOfALocalPageStayLocal();
    void oneSyncPerQueuedUpdate();
    void signedOutDoesNothing();
    void imageThatFailsToLoad();
    void imageOverTheReplyCap_data();
    void imageOverTheReplyCap();
    void pageHeaderHoldsTheBand();

private:
    FNPage addPage(qint64 serverID, const QString &coverURL = QString(), qint64 x = 50, qint64 y = 50);
    FNPage stored(const QString &localID) const;
    CoverImage *makeCover(const FNPage &page);
    QString writeImage();
    std::vector<FNSyncOp> coverOps() const;

    FakeService m_fake;
    QString m_token;
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::shared_ptr<PresetFilePicker> m_picker;
    std::unique_ptr<QWidget> m_window;
};

void TestCoverImage::initTestCase()
{
    m_token =
        EditorSteps::startWithAccount(m_fake, QStringLiteral("cover@example.com"), QStringLiteral("Cover"));
    QVERIFY(!m_token.isEmpty());
}

void TestCoverImage::init()
{
    EditorSteps::useFake(m_fake);
    m_device = std::make_unique<AppDevice>(m_fake.origin());
    m_app = std::make_unique<AppHarness>(*m_device);
    m_app->services.setToken(m_token);
    m_picker = std::make_shared<PresetFilePicker>();
    m_window = std::make_unique<QWidget>();
}

void TestCoverImage::cleanup()
{
    m_window.reset();
    // A sync still under way finishes before its engine goes.
    QTRY_VERIFY(!m_app->engine.isSyncing());
    m_app.reset();
}

FNPage TestCoverImage::addPage(qint64 serverID, const QString &coverURL, qint64 x, qint64 y)
{
    FNPage page;
    page.serverID = serverID;
    page.title = QStringLiteral("Trip");
    page.coverURL = coverURL;
    page.coverOffsetX = x;
    page.coverOffsetY = y;
    m_app->store.upsertPage(page);
    return page;
}

FNPage TestCoverImage::stored(const QString &localID) const
{
    return *m_app->store.page(localID);
}

CoverImage *TestCoverImage::makeCover(const FNPage &page)
{
    auto *cover = new CoverImage(m_app->context(), m_picker, page.localID, m_window.get());
    m_window->resize(800, 300);
    cover->resize(800, 300);
    m_window->show();
    return cover;
}

QString TestCoverImage::writeImage()
{
    return EditorSteps::writeFile(m_device->dir.filePath(QStringLiteral("cover.png")),
                                  EditorSteps::pngBytes());
}

std::vector<FNSyncOp> TestCoverImage::coverOps() const
{
    std::vector<FNSyncOp> ops;
    for (const FNSyncOp &op : m_app->store.state().outbox) {
        if (op.entity == QLatin1String("page") && op.op == QLatin1String("update"))
            ops.push_back(op);
    }
    return ops;
}

void TestCoverImage::dragMovesTheOffsets_data()
{
    QTest::addColumn<int>("storedX");
    QTest::addColumn<int>("storedY");
    QTest::addColumn<QPointF>("translation");
    QTest::addColumn<QSizeF>("band");
    QTest::addColumn<double>("localX");
    QTest::addColumn<double>("localY");
    QTest::addColumn<int>("committedX");
    QTest::addColumn<int>("committedY");

    const QSizeF band(800, 220);
    QTest::newRow("100 right on 800") << 50 << 50 << QPointF(100, 0) << band << 37.5 << 50.0 << 38 << 50;
    QTest::newRow("100 left, half rounds away")
        << 50 << 50 << QPointF(-100, 0) << band << 62.5 << 50.0 << 63 << 50;
    QTest::newRow("down by a tenth of the height")
        << 50 << 50 << QPointF(0, 22) << band << 50.0 << 40.0 << 50 << 40;
    QTest::newRow("from a stored offset")
        << 20 << 70 << QPointF(-40, 11) << QSizeF(400, 220) << 30.0 << 65.0 << 30 << 65;
    QTest::newRow("far right stops at 0") << 50 << 50 << QPointF(5000, 0) << band << 0.0 << 50.0 << 0 << 50;
    QTest::newRow("far left stops at 100")
        << 50 << 50 << QPointF(-5000, 0) << band << 100.0 << 50.0 << 100 << 50;
    QTest::newRow("far up and down") << 50 << 50 << QPointF(0, -900) << band << 50.0 << 100.0 << 50 << 100;
    QTest::newRow("no movement") << 33 << 66 << QPointF(0, 0) << band << 33.0 << 66.0 << 33 << 66;
    QTest::newRow("a band of no width")
        << 50 << 50 << QPointF(10, 0) << QSizeF(0, 220) << 0.0 << 50.0 << 0 << 50;
}

void TestCoverImage::dragMovesTheOffsets()
{
    QFETCH(int, storedX);
    QFETCH(int, storedY);
    QFETCH(QPointF, translation);
    QFETCH(QSizeF, band);
    QFETCH(double, localX);
    QFETCH(double, localY);
    QFETCH(int, committedX);
    QFETCH(int, committedY);
    const FNPage page = addPage(7, QStringLiteral("https://img.example/a.png"), storedX, storedY);
    CoverModel model(m_app->context(), m_picker, page.localID);

    model.dragChanged(translation, band);
    QVERIFY(model.isDragging());
    QCOMPARE(model.localOffsetX(), localX);
    QCOMPARE(model.localOffsetY(), localY);
    // Nothing is stored while the drag goes on.
    QCOMPARE(stored(page.localID).coverOffsetX, qint64(storedX));
    QVERIFY(coverOps().empty());

    model.dragEnded();
    QVERIFY(!model.isDragging());
    const FNPage after = stored(page.localID);
    QCOMPARE(after.coverOffsetX, qint64(committedX));
    QCOMPARE(after.coverOffsetY, qint64(committedY));
    QCOMPARE(after.coverURL, page.coverURL);
    QVERIFY(after.updatedAt >= page.updatedAt);
    const auto ops = coverOps();
    QCOMPARE(ops.size(), size_t(1));
    QCOMPARE(ops[0].refLocalID, page.localID);
    const JSONObject body = parseJSONObject(ops[0].payloadJSON.toUtf8());
    const JSONObject expected{{QStringLiteral("page_id"), 7},
                              {QStringLiteral("cover_offset_x"), committedX},
                              {QStringLiteral("cover_offset_y"), committedY}};
    QCOMPARE(body, expected);
}

void TestCoverImage::offsetLimits_data()
{
    QTest::addColumn<double>("offset");
    QTest::addColumn<double>("clamped");
    QTest::addColumn<int>("rounded");
    QTest::newRow("inside") << 37.5 << 37.5 << 38;
    QTest::newRow("just below a half") << 37.49 << 37.49 << 37;
    QTest::newRow("below 0") << -5.0 << 0.0 << 0;
    QTest::newRow("above 100") << 150.0 << 100.0 << 100;
    QTest::newRow("not a number") << std::nan("") << 0.0 << 0;
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << 100.0 << 100;
    QTest::newRow("minus infinite") << -std::numeric_limits<double>::infinity() << 0.0 << 0;
    QTest::newRow("99.5") << 99.5 << 99.5 << 100;
}

void TestCoverImage::offsetLimits()
{
    QFETCH(double, offset);
    QFETCH(double, clamped);
    QFETCH(int, rounded);
    QCOMPARE(CoverModel::clampOffset(offset), clamped);
    QCOMPARE(CoverModel::roundOffset(offset), qint64(rounded));
}

void TestCoverImage::dragWithThePointer()
{
    const FNPage page = addPage(7, QStringLiteral("https://img.example/a.png"));
    CoverImage *cover = makeCover(page);
    QWidget *band = cover->band();
    QVERIFY(band->isVisible());
    QCOMPARE(band->size(), QSize(800, 220));
    QCOMPARE(cover->imageCentre(), QPointF(400, 110));

    QEnterEvent enter(QPointF(100, 100), QPointF(100, 100), band->mapToGlobal(QPointF(100, 100)));
    QCoreApplication::sendEvent(band, &enter);
    QVERIFY(cover->repositionChip()->isVisible());
    QVERIFY(cover->repositionChip()->text().endsWith(QStringLiteral("Drag to reposition")));

    sendMouse(band, QEvent::MouseButtonPress, QPoint(100, 100));
    sendMouse(band, QEvent::MouseMove, QPoint(150, 100));
    sendMouse(band, QEvent::MouseMove, QPoint(200, 100));
    QVERIFY(cover->model().isDragging());
    QVERIFY(cover->repositionChip()->text().endsWith(QStringLiteral("Repositioning...")));
    QCOMPARE(cover->model().localOffsetX(), 37.5);
    // Half the pointer's way: the image centre moved 50 to the right.
    QCOMPARE(cover->imageCentre(), QPointF(450, 110));
    sendMouse(band, QEvent::MouseButtonRelease, QPoint(200, 100));
    QCOMPARE(stored(page.localID).coverOffsetX, qint64(38));
    QCOMPARE(coverOps().size(), size_t(1));

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(band, &leave);
    QVERIFY(!cover->repositionChip()->isVisible());
}

void TestCoverImage::shortMovementIsNotADrag()
{
    const FNPage page = addPage(7, QStringLiteral("https://img.example/a.png"), 40, 40);
    CoverImage *cover = makeCover(page);
    QWidget *band = cover->band();
    sendMouse(band, QEvent::MouseButtonPress, QPoint(100, 100));
    sendMouse(band, QEvent::MouseMove, QPoint(106, 107));
    QVERIFY(!cover->model().isDragging());
    sendMouse(band, QEvent::MouseButtonRelease, QPoint(106, 107));
    QCOMPARE(stored(page.localID), page);
    QVERIFY(coverOps().empty());
}

void TestCoverImage::removeCover()
{
    const FNPage page = addPage(7, QStringLiteral("https://img.example/a.png"), 20, 80);
    CoverImage *cover = makeCover(page);
    QVERIFY(!cover->addCoverButton()->isVisible());
    QAction *remove = cover->coverMenu()->actions().at(1);
    QCOMPARE(remove->text(), QStringLiteral("Remove cover"));
    QCOMPARE(cover->coverMenu()->actions().at(0)->text(), QStringLiteral("Change cover"));
    remove->trigger();

    const FNPage after = stored(page.localID);
    QVERIFY(after.coverURL.isEmpty());
    QCOMPARE(after.coverOffsetX, qint64(50));
    QCOMPARE(after.coverOffsetY, qint64(50));
    QCOMPARE(cover->model().localOffsetX(), 50.0);
    const auto ops = coverOps();
    QCOMPARE(ops.size(), size_t(1));
    const JSONObject expected{{QStringLiteral("page_id"), 7},
                              {QStringLiteral("cover_url"), QString()},
                              {QStringLiteral("cover_offset_x"), 50},
                              {QStringLiteral("cover_offset_y"), 50}};
    QCOMPARE(parseJSONObject(ops[0].payloadJSON.toUtf8()), expected);
    QVERIFY(cover->addCoverButton()->isVisible());
    QVERIFY(!cover->band()->isVisible());
}

void TestCoverImage::uploadMakesTheCover()
{
    const FNPage page = addPage(7, QStringLiteral("https://img.example/old.png"), 10, 90);
    CoverImage *cover = makeCover(page);
    m_picker->setAnswer(writeImage());

    cover->coverMenu()->actions().at(0)->trigger();
    QVERIFY(cover->model().uploading());
    QVERIFY(cover->uploadBadge()->isVisible());
    QCOMPARE(cover->uploadBadge()->text(), QStringLiteral("Uploading..."));
    QTRY_VERIFY(!cover->model().uploading());
    QCOMPARE(m_picker->requests(), QList<FilePicker::Filter>{FilePicker::Filter::Images});
    QCOMPARE(m_fake.requestsTo(kUploadPath).first().target, QByteArray("/api/upload.php?kind=image"));

    const FNPage after = stored(page.localID);
    QVERIFY(after.coverURL.startsWith(m_fake.origin() + QStringLiteral("/uploads/")));
    QCOMPARE(after.coverOffsetX, qint64(50));
    QCOMPARE(after.coverOffsetY, qint64(50));
    QCOMPARE(cover->model().localOffsetX(), 50.0);
    const auto ops = coverOps();
    QCOMPARE(ops.size(), size_t(1));
    const JSONObject expected{{QStringLiteral("page_id"), 7},
                              {QStringLiteral("cover_url"), after.coverURL},
                              {QStringLiteral("cover_offset_x"), 50},
                              {QStringLiteral("cover_offset_y"), 50}};
    QCOMPARE(parseJSONObject(ops[0].payloadJSON.toUtf8()), expected);
    QVERIFY(!cover->uploadBadge()->isVisible());
    // The band shows the stored file, fetched from its address.
    QTRY_COMPARE(cover->imagePhase(), CoverImage::ImagePhase::Loaded);
}

void TestCoverImage::uploadLandsOnThePageAsStoredNow_data()
{
    QTest::addColumn<bool>("trashed");
    QTest::newRow("title typed meanwhile") << false;
    QTest::newRow("page trashed meanwhile") << true;
}

void TestCoverImage::uploadLandsOnThePageAsStoredNow()
{
    QFETCH(bool, trashed);
    const FNPage page = addPage(7);
    CoverImage *cover = makeCover(page);
    m_picker->setAnswer(writeImage());
    // The edit lands while the file is with the service.
    // Captures by value and ends with the test: the fake outlives this function.
    const QMetaObject::Connection edit =
        connect(&m_fake, &FakeService::requestReceived, &m_app->store, [this, trashed, page] {
            if (trashed) {
                m_app->store.markPageDeleted(page.localID);
            } else {
                FNPage typed = stored(page.localID);
                typed.title = QStringLiteral("Trip to Rome");
                m_app->store.upsertPage(typed);
            }
        });
    cover->addCoverButton()->click();
    QTRY_VERIFY(!cover->model().uploading());
    disconnect(edit);

    const FNPage after = stored(page.localID);
    if (trashed) {
        QVERIFY(after.deletedAt);
        QVERIFY(after.coverURL.isEmpty());
        QVERIFY(coverOps().empty());
    } else {
        QCOMPARE(after.title, QStringLiteral("Trip to Rome"));
        QVERIFY(!after.coverURL.isEmpty());
        QCOMPARE(coverOps().size(), size_t(1));
    }
}

void TestCoverImage::disabledUntilThePageSyncs()
{
    const FNPage page = addPage(0);
    CoverImage *cover = makeCover(page);
    QVERIFY(cover->addCoverButton()->isVisible());
    QVERIFY(!cover->addCoverButton()->isEnabled());
    QVERIFY(cover->addCoverButton()->text().endsWith(QStringLiteral("Add cover")));
    QVERIFY(cover->messageLabel()->isVisible());
    QCOMPARE(cover->messageLabel()->text(), QStringLiteral("Will be available once the page syncs"));
    m_picker->setAnswer(writeImage());
    cover->model().uploadCover();
    QVERIFY(m_picker->requests().isEmpty());

    FNPage synced = stored(page.localID);
    synced.serverID = 31;
    m_app->store.upsertPage(synced);
    QVERIFY(cover->addCoverButton()->isEnabled());
    QVERIFY(!cover->messageLabel()->isVisible());
}

void TestCoverImage::failedUploadShowsItsMessage()
{
    m_fake.setFault(kUploadPath, FakeService::Fault::http(500, R"({"error":"Disk full"})"));
    const FNPage page = addPage(7);
    CoverImage *cover = makeCover(page);
    m_picker->setAnswer(writeImage());
    cover->addCoverButton()->click();
    QVERIFY(!cover->addCoverButton()->isEnabled());
    QVERIFY(cover->addCoverButton()->text().endsWith(QStringLiteral("Uploading...")));
    QTRY_VERIFY(!cover->model().uploading());

    QVERIFY(cover->model().errorMsg());
    QVERIFY(cover->messageLabel()->isVisible());
    QVERIFY(cover->messageLabel()->text().contains(QStringLiteral("Disk full")));
    QVERIFY(cover->messageLabel()->styleSheet().contains(QStringLiteral("red")));
    QCOMPARE(stored(page.localID), page);
    QVERIFY(coverOps().empty());

    // The message stays until the next upload starts.
    m_fake.clearFaults();
    m_picker->setAnswer(std::nullopt);
    cover->addCoverButton()->click();
    QVERIFY(!cover->model().errorMsg());
    QVERIFY(!cover->messageLabel()->isVisible());
}

void TestCoverImage::unauthorizedUploadEndsTheSession()
{
    m_fake.setFault(kUploadPath, FakeService::Fault::http(401, R"({"error":"Unauthorized"})"));
    const FNPage page = addPage(7);
    CoverImage *cover = makeCover(page);
    m_picker->setAnswer(writeImage());
    QSignalSpy expired(&m_app->events, &AppEvents::authExpired);
    cover->model().uploadCover();
    QTRY_VERIFY(!cover->model().uploading());
    QCOMPARE(expired.size(), 1);
    QVERIFY(cover->model().errorMsg());
    QVERIFY(stored(page.localID).coverURL.isEmpty());
}

void TestCoverImage::changesOfALocalPageStayLocal()
{
    const FNPage page = addPage(0, QStringLiteral("https://img.example/a.png"));
    QSignalSpy syncing(&m_app->engine, &SyncEngine::isSyncingChanged);
    CoverModel model(m_app->context(), m_picker, page.localID);
    model.dragChanged(QPointF(-80, 0), QSizeF(800, 220));
    model.dragEnded();
    QCOMPARE(stored(page.localID).coverOffsetX, qint64(60));
    model.removeCover();
    QVERIFY(stored(page.localID).coverURL.isEmpty());
    QVERIFY(m_app->store.state().outbox.empty());
    QCOMPARE(syncing.size(), 0);
}

void TestCoverImage::oneSyncPerQueuedUpdate()
{
    const FNPage page = addPage(7, QStringLiteral("https://img.example/a.png"));
    QSignalSpy finished(&m_app->engine, &SyncEngine::cycleFinished);
    CoverModel model(m_app->context(), m_picker, page.localID);
    model.removeCover();
    QCOMPARE(coverOps().size(), size_t(1));
    QTRY_COMPARE(finished.size(), 1);
    QTRY_VERIFY(!m_app->engine.isSyncing());
    // What the service received is the queued body.
    const auto sent = m_fake.requestsTo(QStringLiteral("/api/pages.php"));
    QVERIFY(!sent.isEmpty());
    QVERIFY(sent.last().body.contains("\"cover_url\":\"\""));
    QCOMPARE(finished.size(), 1);
}

void TestCoverImage::signedOutDoesNothing()
{
    m_app->services.setToken(std::nullopt);
    const FNPage page = addPage(7);
    CoverImage *cover = makeCover(page);
    m_picker->setAnswer(writeImage());
    cover->addCoverButton()->click();
    QVERIFY(m_picker->requests().isEmpty());
    QVERIFY(!cover->model().uploading());
    QVERIFY(!cover->model().errorMsg());
}

void TestCoverImage::imageThatFailsToLoad()
{
    const FNPage page = addPage(7, m_fake.origin() + QStringLiteral("/uploads/999/missing.png"));
    CoverImage *cover = makeCover(page);
    QCOMPARE(cover->imagePhase(), CoverImage::ImagePhase::Loading);
    QTRY_COMPARE(cover->imagePhase(), CoverImage::ImagePhase::Failed);

    FNPage other = stored(page.localID);
    other.coverURL = QStringLiteral("not a url");
    m_app->store.upsertPage(other);
    QCOMPARE(cover->imagePhase(), CoverImage::ImagePhase::Failed);
}

// The image is read whole into memory, so it is held to the same cap as every reply.
void TestCoverImage::imageOverTheReplyCap_data()
{
    QTest::addColumn<qsizetype>("over"); // bytes of the image past the cap
    QTest::addColumn<CoverImage::ImagePhase>("phase");
    QTest::newRow("at the cap") << qsizetype(0) << CoverImage::ImagePhase::Loaded;
    QTest::newRow("one byte past") << qsizetype(1) << CoverImage::ImagePhase::Failed;
}

void TestCoverImage::imageOverTheReplyCap()
{
    QFETCH(qsizetype, over);
    QFETCH(CoverImage::ImagePhase, phase);
    const QByteArray png = EditorSteps::pngBytes();
    m_fake.routeRaw(
        "GET", QStringLiteral("/covers/capped.png"),
        [png](const FakeService::Call &) {
            HttpResponse r = HttpResponse::json(200, png);
            r.contentType = "image/png";
            return r;
        },
        FakeService::Access::Public);
    m_app->client.transport().setMaxReplyBytes(png.size() - over);

    CoverImage *cover = makeCover(addPage(7, m_fake.origin() + QStringLiteral("/covers/capped.png")));
    QTRY_VERIFY(cover->imagePhase() != CoverImage::ImagePhase::Loading);
    QCOMPARE(cover->imagePhase(), phase);
}

void TestCoverImage::pageHeaderHoldsTheBand()
{
    const FNPage page = addPage(0);
    PageView view(m_app->context(), page.localID);
    view.setFilePicker(m_picker);
    view.resize(800, 600);
    view.show();
    CoverImage *cover = view.coverImage();
    QVERIFY(cover);
    QVERIFY(view.coverSlot()->isAncestorOf(cover));
    QVERIFY(cover->addCoverButton()->isVisible());
    QVERIFY(!cover->addCoverButton()->isEnabled());

    FNPage synced = stored(page.localID);
    synced.serverID = 12;
    m_app->store.upsertPage(synced);
    QVERIFY(cover->addCoverButton()->isEnabled());
    m_picker->setAnswer(writeImage());
    cover->addCoverButton()->click();
    QTRY_VERIFY(!stored(page.localID).coverURL.isEmpty());
    QTRY_VERIFY(cover->band()->isVisible());
    QCOMPARE(m_picker->requests().size(), 1);
}

QTEST_MAIN(TestCoverImage)
#include "tst_cover_image.moc"
