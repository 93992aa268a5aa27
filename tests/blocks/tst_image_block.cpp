#include "blocks/image_block.h"
#include "editor/editor_fixture.h"
#include "fake-service/fake_service.h"
#include "fake-service/fake_upload_routes.h"
#include "platform/memory_secret_backend.h"
#include "platform/preset_file_picker.h"
#include "support/device_services.h"
#include "support/editor_steps.h"
#include "support/service_page.h"

#include <QAction>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

const QString kLayoutKey = QStringLiteral("layout");
const QString kCaptionKey = QStringLiteral("caption");

QString pathOf(const QString &url)
{
    return QUrl(url).path(QUrl::FullyEncoded);
}

QRect geometryIn(QWidget *widget, QWidget *ancestor)
{
    return QRect(widget->mapTo(ancestor, QPoint(0, 0)), widget->size());
}

} // namespace

class TestImageBlock : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void layoutRows_data();
    void layoutRows();
    void menuStoresTheChosenId();
    void captionBurstHandsOverOnce();
    void captionOfAGoneViewIsStillWritten();
    void storedCaptionFillsTheField();
    void loaderStates_data();
    void loaderStates();
    void secondViewComesFromTheCache();
    void hoverControls();

private:
    BlockRow *imageRow(const JSONObject &content);
    FNBlock addImage(const JSONObject &content)
    {
        JSONObject withURL = content;
        if (!withURL.count(QStringLiteral("url")))
            withURL[QStringLiteral("url")] = m_pngURL;
        return m_fx->addBlock(QStringLiteral("image"), withURL);
    }
    static ImageBlockView *viewOf(BlockRow *row) { return qobject_cast<ImageBlockView *>(row->kindView()); }
    QString storedString(const QString &localID, const QString &key) const
    {
        return BlockContent::readString(m_fx->storedContent(localID), key);
    }

    FakeService m_fake;
    QString m_token;
    QString m_pngURL;
    std::unique_ptr<EditorFixture> m_fx;
    QTemporaryDir m_worldDir;
    std::unique_ptr<DeviceServices> m_world;
    std::shared_ptr<PresetFilePicker> m_picker;
    FNBlock m_lastBlock;
};

void TestImageBlock::initTestCase()
{
    m_token = EditorSteps::startWithAccount(m_fake, QStringLiteral("image@example.com"), QStringLiteral("I"));
    QVERIFY(!m_token.isEmpty());
    m_pngURL = FakeUploadRoutes::of(m_fake).store(
        {QStringLiteral("image"), QStringLiteral("dog.png"), "image/png", EditorSteps::pngBytes()});
}

void TestImageBlock::init()
{
    EditorSteps::useFake(m_fake);
    m_fx = std::make_unique<EditorFixture>();
    m_world = std::make_unique<DeviceServices>(m_worldDir.filePath(QStringLiteral("settings.ini")),
                                               std::make_shared<MemorySecretBackend>(), m_fake.origin());
    m_world->setToken(m_token);
    m_picker = std::make_shared<PresetFilePicker>();
}

void TestImageBlock::cleanup()
{
    m_fx.reset();
    m_world.reset();
}

BlockRow *TestImageBlock::imageRow(const JSONObject &content)
{
    m_lastBlock = addImage(content);
    BlockRow *row = m_fx->addRow(m_lastBlock);
    // As the page does it: the services come just after the row.
    row->setMediaServices({&m_world->client, nullptr, m_picker, {}});
    return row;
}

void TestImageBlock::layoutRows_data()
{
    QTest::addColumn<JSONValue>("stored");
    QTest::addColumn<QString>("arrangement");
    QTest::addColumn<QString>("label");

    QTest::newRow("inline") << JSONValue(QStringLiteral("inline")) << "inline"
                            << "Inline";
    QTest::newRow("float left") << JSONValue(QStringLiteral("float-left")) << "float-left"
                                << "Float left";
    QTest::newRow("float right") << JSONValue(QStringLiteral("float-right")) << "float-right"
                                 << "Float right";
    QTest::newRow("behind") << JSONValue(QStringLiteral("behind")) << "behind"
                            << "Behind text";
    QTest::newRow("in front") << JSONValue(QStringLiteral("in-front")) << "in-front"
                              << "In front";
    QTest::newRow("wrong case") << JSONValue(QStringLiteral("Float-left")) << "inline"
                                << "Inline";
    QTest::newRow("trailing blank") << JSONValue(QStringLiteral("behind ")) << "inline"
                                    << "Inline";
    QTest::newRow("not a string") << JSONValue(qint64(2)) << "inline"
                                  << "Inline";
    QTest::newRow("missing") << JSONValue() << "inline"
                             << "Inline";
}

void TestImageBlock::layoutRows()
{
    QFETCH(JSONValue, stored);
    QFETCH(QString, arrangement);
    QFETCH(QString, label);
    JSONObject content{{kCaptionKey, QStringLiteral("A dog")}};
    if (!stored.isNull())
        content[kLayoutKey] = stored;
    BlockRow *row = imageRow(content);
    m_fx->window().resize(800, 600);
    QVERIFY(m_fx->showWindow());
    ImageBlockView *view = viewOf(row);
    QVERIFY(view);
    QCOMPARE(view->arrangement(), arrangement);
    QCOMPARE(view->layoutButton()->text(), label);
    QTRY_COMPARE(view->imageElement()->state(), RemoteImage::State::loaded);
    QTRY_VERIFY(view->imageElement()->width() > 0);

    // Laid out again for the loaded image's height.
    QTRY_COMPARE(view->imageElement()->height(), arrangement.startsWith(QLatin1String("float"))
                                                     ? ImageBlockView::kFloatWidth / 2
                                                     : view->width() / 2);
    if (arrangement == QLatin1String("inline"))
        QTRY_VERIFY(geometryIn(view->captionField(), view).top() >=
                    geometryIn(view->imageElement(), view).bottom());
    const QRect image = geometryIn(view->imageElement(), view);
    const QRect caption = geometryIn(view->captionField(), view);
    const int fullWidth = view->width();
    if (arrangement == QLatin1String("inline")) {
        QCOMPARE(image.width(), fullWidth);
        QVERIFY(caption.top() >= image.bottom());
    } else if (arrangement.startsWith(QLatin1String("float"))) {
        QCOMPARE(image.width(), ImageBlockView::kFloatWidth);
        QCOMPARE(image.top(), caption.top());
        if (arrangement == QLatin1String("float-left"))
            QCOMPARE(caption.left() - image.right() - 1, 14);
        else
            QCOMPARE(image.left() - caption.right() - 1, 14);
    } else {
        // Layered: the caption over the image, inset from its edges.
        QCOMPARE(image.width(), fullWidth);
        QVERIFY(image.contains(caption.center()));
        const int inset = arrangement == QLatin1String("behind") ? 20 : 12 + 10;
        QCOMPARE(caption.left() - image.left(), inset);
        QCOMPARE(image.right() - caption.right(), inset);
    }
    // The arrangement never writes anything back.
    QVERIFY(EditorFixture::waitPastTextDelay());
    QCOMPARE(m_fx->changes(), 0);
}

void TestImageBlock::menuStoresTheChosenId()
{
    BlockRow *row = imageRow({{kLayoutKey, QStringLiteral("Behind")}});
    ImageBlockView *view = viewOf(row);
    const QList<QAction *> entries = view->layoutMenu()->actions();
    QCOMPARE(entries.size(), 5);
    QStringList labels;
    for (QAction *entry : entries)
        labels << entry->text();
    QCOMPARE(labels, (QStringList{"Inline", "Float left", "Float right", "Behind text", "In front"}));

    const QStringList ids{"inline", "float-left", "float-right", "behind", "in-front"};
    for (int i = 0; i < ids.size(); ++i) {
        viewOf(row)->layoutMenu()->actions().at(i)->trigger();
        QCOMPARE(storedString(m_lastBlock.localID, kLayoutKey), ids[i]);
        QCOMPARE(viewOf(row)->arrangement(), ids[i]);
        QCOMPARE(viewOf(row)->layoutButton()->text(), labels[i]);
    }
    // The current one again is still a choice.
    viewOf(row)->layoutMenu()->actions().last()->trigger();
    QCOMPARE(m_fx->changes(), 6);
    QCOMPARE(storedString(m_lastBlock.localID, kLayoutKey), QStringLiteral("in-front"));
}

void TestImageBlock::captionBurstHandsOverOnce()
{
    BlockRow *row = imageRow({{kCaptionKey, QStringLiteral("Old")}});
    ImageBlockView *view = viewOf(row);
    QVERIFY(m_fx->showWindow());
    QVERIFY(EditorFixture::focusOn(view->captionField()));
    view->captionField()->selectAll();
    QTest::keyClicks(view->captionField(), QStringLiteral("A dog"));
    QTest::keyClick(view->captionField(), Qt::Key_Return);
    QTest::keyClicks(view->captionField(), QStringLiteral("asleep"));
    QCOMPARE(m_fx->changes(), 0);
    QTRY_COMPARE(storedString(m_lastBlock.localID, kCaptionKey), QStringLiteral("A dog\nasleep"));
    QVERIFY(EditorFixture::waitPastTextDelay());
    QCOMPARE(m_fx->changes(), 1);

    // Emptied: the key stays, with an empty caption.
    view->captionField()->selectAll();
    QTest::keyClick(view->captionField(), Qt::Key_Delete);
    QTRY_COMPARE(m_fx->changes(), 2);
    QVERIFY(m_fx->storedContent(m_lastBlock.localID).count(kCaptionKey));
    QCOMPARE(storedString(m_lastBlock.localID, kCaptionKey), QString());
}

void TestImageBlock::captionOfAGoneViewIsStillWritten()
{
    BlockRow *row = imageRow({});
    ServicePage service(m_fake, m_token, m_fx->store(), m_world->client);
    QVERIFY(service.isValid());
    ImageBlockView *view = viewOf(row);
    QVERIFY(m_fx->showWindow());
    QVERIFY(EditorFixture::focusOn(view->captionField()));
    const auto writes = m_fx->countContentWrites(m_lastBlock.localID);
    QTest::keyClicks(view->captionField(), QStringLiteral("Last words"));
    delete row;
    QTRY_COMPARE(storedString(m_lastBlock.localID, kCaptionKey), QStringLiteral("Last words"));
    QVERIFY(EditorFixture::waitPastTextDelay());
    QCOMPARE(*writes, 1);
    // No view is left to flush it: the write itself queued the page's upsert.
    QVERIFY(service.push());
    const auto onService = service.serviceContent(m_lastBlock.localID);
    QVERIFY(onService);
    QCOMPARE(onService->at(kCaptionKey).toString(), QStringLiteral("Last words"));
    QCOMPARE(service.otherDeviceContent(m_lastBlock.localID), onService);
}

void TestImageBlock::storedCaptionFillsTheField()
{
    BlockRow *row = imageRow({{kCaptionKey, QStringLiteral("Stored")}});
    ImageBlockView *view = viewOf(row);
    QCOMPARE(view->captionField()->toPlainText(), QStringLiteral("Stored"));
    QCOMPARE(view->captionField()->placeholderText(), QStringLiteral("Caption (optional)"));
    // A pull while the image is on screen shows in the field, which holds nothing of its own.
    FNBlock pulled = m_fx->stored(m_lastBlock.localID);
    JSONObject content = BlockContent::decode(pulled.contentJSON);
    content[kCaptionKey] = QStringLiteral("From elsewhere");
    content[kLayoutKey] = QStringLiteral("float-right");
    pulled.contentJSON = *BlockContent::encode(content);
    m_fx->store().upsertBlock(pulled);
    QTRY_COMPARE(view->arrangement(), QStringLiteral("float-right"));
    QCOMPARE(view->captionField()->toPlainText(), QStringLiteral("From elsewhere"));
    QCOMPARE(m_fx->changes(), 0);
}

void TestImageBlock::loaderStates_data()
{
    QTest::addColumn<QString>("served");
    QTest::addColumn<int>("state");
    QTest::newRow("a PNG") << "png" << int(RemoteImage::State::loaded);
    QTest::newRow("404") << "missing" << int(RemoteImage::State::failed);
    QTest::newRow("not an image") << "text" << int(RemoteImage::State::failed);
}

void TestImageBlock::loaderStates()
{
    QFETCH(QString, served);
    QFETCH(int, state);
    QString url = m_pngURL;
    if (served == QLatin1String("missing"))
        url = m_fake.origin() + QStringLiteral("/uploads/9999/gone.png");
    else if (served == QLatin1String("text"))
        url = FakeUploadRoutes::of(m_fake).store(
            {QStringLiteral("image"), QStringLiteral("fake.png"), "image/png", "not a picture at all"});
    // A slow answer shows the loading rectangle first.
    m_fake.setFault(pathOf(url), FakeService::Fault::delay(150));
    m_fx->window().resize(700, 500);
    BlockRow *row = imageRow({{QStringLiteral("url"), url}});
    QVERIFY(m_fx->showWindow());
    ImageElement *image = viewOf(row)->imageElement();
    if (image->state() == RemoteImage::State::loading)
        QCOMPARE(image->height(), ImageElement::kLoadingHeight);
    QTRY_COMPARE(int(image->state()), state);
    if (state == int(RemoteImage::State::failed)) {
        QCOMPARE(image->height(), ImageElement::kFailedHeight);
    } else {
        // 8 x 4 across the width.
        QTRY_COMPARE(image->height(), image->width() / 2);
    }
    QVERIFY(!m_fake.requestsTo(pathOf(url)).first().header("Authorization"));
}

void TestImageBlock::secondViewComesFromTheCache()
{
    const QString url = FakeUploadRoutes::of(m_fake).store(
        {QStringLiteral("image"), QStringLiteral("twice.png"), "image/png", EditorSteps::pngBytes()});
    BlockRow *first = imageRow({{QStringLiteral("url"), url}});
    QTRY_COMPARE(viewOf(first)->imageElement()->state(), RemoteImage::State::loaded);
    delete first;
    BlockRow *second = imageRow({{QStringLiteral("url"), url}});
    QCOMPARE(viewOf(second)->imageElement()->state(), RemoteImage::State::loaded);
    QTest::qWait(30);
    QCOMPARE(m_fake.requestsTo(pathOf(url)).size(), 1);
}

void TestImageBlock::hoverControls()
{
    BlockRow *row = imageRow({{kLayoutKey, QStringLiteral("float-left")}});
    QVERIFY(m_fx->showWindow());
    ImageBlockView *view = viewOf(row);
    QVERIFY(view->hoverControls()->isHidden());
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), view->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(view, &enter);
    QVERIFY(view->hoverControls()->isVisible());
    QCOMPARE(view->layoutButton()->text(), QStringLiteral("Float left"));
    QCOMPARE(view->replaceButton()->text(), QStringLiteral("Replace"));
    // In the top trailing corner, over the image.
    const QRect controls = geometryIn(view->hoverControls(), view);
    QVERIFY(controls.right() > view->width() - 20);
    QVERIFY(controls.top() < 20);

    QTemporaryDir files;
    const QString path = files.filePath(QStringLiteral("new.png"));
    m_picker->setAnswer(EditorSteps::writeFile(path, EditorSteps::pngBytes()));
    QTest::mouseClick(view->replaceButton(), Qt::LeftButton);
    QTRY_VERIFY(storedString(m_lastBlock.localID, QStringLiteral("url")) != m_pngURL);
    QCOMPARE(m_picker->requests(), QList<FilePicker::Filter>{FilePicker::Filter::Images});
    QCOMPARE(storedString(m_lastBlock.localID, kLayoutKey), QStringLiteral("float-left"));

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(viewOf(row), &leave);
    QVERIFY(viewOf(row)->hoverControls()->isHidden());
}

QTEST_MAIN(TestImageBlock)
#include "tst_image_block.moc"
