#include "blocks/block_content.h"
#include "blocks/drawing_block.h"
#include "blocks/drawing_block_model.h"
#include "blocks/drawing_canvas.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "support/editor_steps.h"
#include "support/test_device.h"

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QToolButton>

// The drawing block: its gestures and what they write back, and the block inside the page, where a
// drag of the mouse draws, and the drawing comes back on reopening and on another device.
class TestDrawingBlock : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void resize_data();
    void resize();
    void sliderThenHandle();
    void eraser_data();
    void eraser();
    void oneClickStrokeIsStoredNotPainted();
    void storedWidthsPaint_data();
    void storedWidthsPaint();
    void darkCanvasSwapsInkAndWhite_data();
    void darkCanvasSwapsInkAndWhite();
    void clearWritesEmpty_data();
    void clearWritesEmpty();
    void colourAndWidthAreTakenAsAStrokeStarts();
    void anotherDevicesDrawingIsTakenOver();
    void canvasRepaintsFromItsPicture();

    void storedHeightInThePage_data();
    void storedHeightInThePage();
    void dragInThePageDrawsAndComesBack();
    void handleInThePageResizesOnce();
    void toolbarInThePage();

private:
    // A model whose writes are recorded.
    std::unique_ptr<DrawingBlockModel> makeModel(const QString &svg = {}, double height = 240);
    FNBlock addDrawing(TestDevice &device, const FNPage &page, const QString &content);
    std::unique_ptr<PageView> openPage(TestDevice &device, const FNPage &page);
    static DrawingBlockView *drawingIn(const PageView &view, const QString &localID);

    QStringList m_texts;
    QList<double> m_heights;
    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
};

void TestDrawingBlock::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount("sketch@example.com", "secret12", "Sketch");
}

void TestDrawingBlock::init()
{
    EditorSteps::useFake(m_fake);
    m_texts.clear();
    m_heights.clear();
}

void TestDrawingBlock::cleanup()
{
    if (m_device) {
        m_device->engine().stopLoop();
        QTRY_VERIFY(!m_device->engine().isSyncing());
        m_device.reset();
    }
}

std::unique_ptr<DrawingBlockModel> TestDrawingBlock::makeModel(const QString &svg, double height)
{
    auto model = std::make_unique<DrawingBlockModel>([this](const QString &text) { m_texts << text; },
                                                     [this](double h) { m_heights << h; });
    model->loadFromContent(svg, height);
    return model;
}

FNBlock TestDrawingBlock::addDrawing(TestDevice &device, const FNPage &page, const QString &content)
{
    FNBlock block = device.addBlock(page.localID, QString(), 0);
    block.type = QStringLiteral("drawing");
    block.contentJSON = content;
    device.store().upsertBlock(block);
    return block;
}

std::unique_ptr<PageView> TestDrawingBlock::openPage(TestDevice &device, const FNPage &page)
{
    auto view =
        std::make_unique<PageView>(device.context(), page.localID, nullptr, EditorSteps::fastTiming());
    view->resize(760, 700);
    view->show();
    if (!QTest::qWaitFor([&] { return view->isLaidOut(); }))
        return nullptr;
    return view;
}

DrawingBlockView *TestDrawingBlock::drawingIn(const PageView &view, const QString &localID)
{
    BlockRow *row = view.row(localID);
    return row ? qobject_cast<DrawingBlockView *>(row->kindView()) : nullptr;
}

void TestDrawingBlock::resize_data()
{
    QTest::addColumn<QList<double>>("translations");
    QTest::addColumn<double>("height");
    QTest::newRow("far up stops at 120") << QList<double>{-50, -1000} << 120.0;
    QTest::newRow("far down stops at 800") << QList<double>{50, 2000} << 800.0;
    QTest::newRow("back within range") << QList<double>{2000, 30} << 270.0;
    QTest::newRow("exactly the top") << QList<double>{560} << 800.0;
}

void TestDrawingBlock::resize()
{
    QFETCH(QList<double>, translations);
    QFETCH(double, height);
    auto model = makeModel();
    for (const double translation : translations)
        model->resizeChanged(translation);
    QCOMPARE(model->height(), height);
    QVERIFY(m_heights.isEmpty());
    model->resizeEnded();
    QCOMPARE(m_heights, QList<double>{height});
    QCOMPARE(model->dragStartHeight(), height);
    model->resizeEnded();
    QCOMPARE(m_heights.size(), 1);
    QVERIFY(m_texts.isEmpty());
}

void TestDrawingBlock::sliderThenHandle()
{
    auto model = makeModel();
    model->setSliderHeight(430);
    model->setSliderHeight(500);
    QCOMPARE(model->height(), 500.0);
    QVERIFY(m_heights.isEmpty());
    model->heightSliderReleased();
    model->resizeChanged(20);
    model->resizeEnded();
    QCOMPARE(m_heights, (QList<double>{500, 520}));
    model->applyHeightPreset(700);
    QCOMPARE(model->dragStartHeight(), 700.0);
    QCOMPARE(m_heights.last(), 700.0);
}

void TestDrawingBlock::eraser_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<bool>("eraseFlag");
    QTest::addColumn<QPointF>("at");
    QTest::addColumn<bool>("erased");
    QTest::newRow("width 2: radius 8, exactly") << 2.0 << false << QPointF(18, 10) << true;
    QTest::newRow("width 2: just beyond") << 2.0 << false << QPointF(18.001, 10) << false;
    QTest::newRow("width 1: still 8") << 1.0 << false << QPointF(10, 2) << true;
    QTest::newRow("width 1: not 4") << 1.0 << false << QPointF(10, 1.5) << false;
    QTest::newRow("width 12: radius 48, exactly") << 12.0 << false << QPointF(10, 58) << true;
    QTest::newRow("width 12: just beyond") << 12.0 << false << QPointF(58.01, 10) << false;
    QTest::newRow("an eraser stroke goes too") << 2.0 << true << QPointF(10, 12) << true;
    QTest::newRow("over empty canvas") << 12.0 << false << QPointF(300, 300) << false;
}

void TestDrawingBlock::eraser()
{
    QFETCH(double, width);
    QFETCH(bool, eraseFlag);
    QFETCH(QPointF, at);
    QFETCH(bool, erased);
    const QString near = QStringLiteral("color=#b33025 w=3 e=%1 path=M200,200 L10,10").arg(eraseFlag ? 1 : 0);
    const QString far = QStringLiteral("color=#222222 w=2 e=0 path=M400,100 L500,100");
    auto model = makeModel(near + QLatin1Char('|') + far);
    model->setWidth(width);
    model->selectEraser();
    QSignalSpy changes(model.get(), &DrawingBlockModel::strokesChanged);
    model->dragChanged(at);
    QCOMPARE(model->strokes().size(), erased ? size_t(1) : size_t(2));
    // The canvas and the undo button follow at once.
    QCOMPARE(changes.size(), erased ? 1 : 0);
    QVERIFY(m_texts.isEmpty());
    model->dragEnded();
    // The end of an eraser gesture writes once, whatever it removed.
    QCOMPARE(m_texts, QStringList{erased ? far : near + QLatin1Char('|') + far});
    QVERIFY(model->strokes().size() == 1 || !erased);
}

void TestDrawingBlock::oneClickStrokeIsStoredNotPainted()
{
    auto model = makeModel();
    model->dragChanged(QPointF(5.5, 6.5));
    model->dragEnded();
    QCOMPARE(m_texts, QStringList{"color=#222222 w=2 e=0 path=M5,6"});
    QCOMPARE(model->strokes().size(), size_t(1));
    QVERIFY(!model->isBlank());

    QVERIFY(model->canUndo());
    model->undoLastStroke();
    QCOMPARE(m_texts.last(), QString());
    QVERIFY(!model->canUndo());
    model->undoLastStroke();
    QCOMPARE(m_texts.size(), 2);
}

void TestDrawingBlock::storedWidthsPaint_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("painted");
    QTest::newRow("huge width covers the canvas") << "w=9e18 path=M-99999,-99999 L-99990,-99990" << true;
    QTest::newRow("negative width paints nothing") << "w=-3 path=M0,50 L100,50" << false;
    QTest::newRow("zero width is a hairline") << "w=0 path=M0,50 L100,50" << true;
    QTest::newRow("infinite width paints 2") << "w=inf path=M0,50 L100,50" << true;
    QTest::newRow("one point is not painted") << "w=12 path=M50,50" << false;
    QTest::newRow("an eraser stroke is not painted") << "w=12 e=1 path=M0,50 L100,50" << false;
}

void TestDrawingBlock::storedWidthsPaint()
{
    QFETCH(QString, stored);
    QFETCH(bool, painted);
    const std::vector<DrawingStroke> strokes = DrawingBlock::parseStrokes(stored);
    QCOMPARE(strokes.size(), size_t(1));
    QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    DrawingCanvas::paintStroke(painter, strokes.front());
    painter.end();
    QCOMPARE(qGray(image.pixel(50, 50)) < 128, painted);
    // Nowhere else than along the line.
    QCOMPARE(qGray(image.pixel(50, 10)) < 128, painted && strokes.front().width > 50);
}

void TestDrawingBlock::darkCanvasSwapsInkAndWhite_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("dark");
    QTest::addColumn<QColor>("shown");
    QTest::newRow("ink on light") << "#222222" << false << QColor(0x22, 0x22, 0x22);
    QTest::newRow("ink on dark") << "#222222" << true << QColor(Qt::white);
    QTest::newRow("white on dark") << "#ffffff" << true << QColor(0x22, 0x22, 0x22);
    QTest::newRow("white on light") << "#ffffff" << false << QColor(Qt::white);
    QTest::newRow("a colour stays") << "#b33025" << true << QColor(0xb3, 0x30, 0x25);
    QTest::newRow("another black stays") << "#000000" << true << QColor(Qt::black);
}

void TestDrawingBlock::darkCanvasSwapsInkAndWhite()
{
    QFETCH(QString, stored);
    QFETCH(bool, dark);
    QFETCH(QColor, shown);
    QCOMPARE(DrawingCanvas::shownColor(stored, dark), shown);
    // Painted so: a stroke of the default ink shows on a dark canvas.
    const std::vector<DrawingStroke> strokes =
        DrawingBlock::parseStrokes(QStringLiteral("color=%1 w=8 path=M0,50 L100,50").arg(stored));
    QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
    image.fill(dark ? QColor(0x1f, 0x1f, 0x22) : QColor(Qt::white));
    QPainter painter(&image);
    DrawingCanvas::paintStroke(painter, strokes.front(), dark);
    painter.end();
    QCOMPARE(QColor(image.pixel(50, 50)), shown);
}

void TestDrawingBlock::clearWritesEmpty_data()
{
    QTest::addColumn<QString>("stored");
    QTest::newRow("empty drawing") << "";
    QTest::newRow("two strokes") << "M1,1 L2,2|color=#27ae60 w=5 e=1 path=M3,3";
}

void TestDrawingBlock::clearWritesEmpty()
{
    QFETCH(QString, stored);
    auto model = makeModel(stored);
    model->clear();
    QCOMPARE(m_texts, QStringList{QString()});
    QVERIFY(model->strokes().empty());
}

void TestDrawingBlock::colourAndWidthAreTakenAsAStrokeStarts()
{
    auto model = makeModel();
    model->selectEraser();
    model->selectColor(QStringLiteral("#0a64eb"));
    QVERIFY(!model->eraserOn());
    model->setWidth(7.6);
    model->dragChanged(QPointF(1, 1));
    model->selectColor(QStringLiteral("#b33025"));
    model->setWidth(20);
    QCOMPARE(model->width(), 12.0);
    model->dragChanged(QPointF(9, 9));
    model->dragEnded();
    QCOMPARE(m_texts, QStringList{"color=#0a64eb w=7 e=0 path=M1,1 L9,9"});
    // Its own write read back changes nothing: the stroke stays 7.6 wide until the view is made again.
    model->adoptStored(m_texts.last(), 240);
    QCOMPARE(model->strokes().front().width, 7.6);
}

void TestDrawingBlock::anotherDevicesDrawingIsTakenOver()
{
    const QString theirs = QStringLiteral("color=#27ae60 w=4 e=0 path=M10,10 L20,20|"
                                          "color=#9b59b6 w=2 e=0 path=M300,300 L310,310");
    {
        auto model = makeModel(QStringLiteral("M1,1 L2,2"));
        model->adoptStored(theirs, 300);
        QCOMPARE(model->strokes(), DrawingBlock::parseStrokes(theirs));
        QCOMPARE(model->height(), 300.0);
        model->adoptStored(theirs, 1000);
        QCOMPARE(model->height(), 300.0);
        QVERIFY(m_texts.isEmpty() && m_heights.isEmpty());
    }
    {
        // Mid-stroke, their drawing waits; the finished stroke is added to it, not written over it.
        auto model = makeModel(QStringLiteral("M1,1 L2,2"));
        model->dragChanged(QPointF(50, 50));
        model->adoptStored(theirs, 240);
        QCOMPARE(model->strokes().size(), size_t(1));
        model->dragChanged(QPointF(60, 60));
        model->dragEnded();
        QCOMPARE(m_texts.last(), theirs + QStringLiteral("|color=#222222 w=2 e=0 path=M50,50 L60,60"));
    }
    {
        // Mid-sweep, the eraser's path counts against their drawing.
        auto model = makeModel(QStringLiteral("M10,10 L11,11"));
        model->selectEraser();
        model->dragChanged(QPointF(12, 12));
        QVERIFY(model->strokes().empty());
        model->adoptStored(theirs, 240);
        model->dragEnded();
        QCOMPARE(m_texts.last(), QStringLiteral("color=#9b59b6 w=2 e=0 path=M300,300 L310,310"));

        // That sweep is over: a later stroke does not erase what arrives during it.
        model->selectPen();
        model->dragChanged(QPointF(100, 100));
        model->adoptStored(theirs, 240);
        model->dragEnded();
        QCOMPARE(model->strokes().size(), size_t(3));
    }
}

void TestDrawingBlock::canvasRepaintsFromItsPicture()
{
    auto model = makeModel(QStringLiteral("color=#222222 w=6 e=0 path=M10,10 L100,10"));
    DrawingCanvas canvas(*model);
    canvas.resize(300, 240);
    const QImage first = canvas.grab().toImage();
    QCOMPARE(canvas.cacheRebuilds(), 1);
    QVERIFY(qGray(first.pixel(50, 10)) < 128);

    // A finished stroke is added to the picture; undo draws it afresh.
    model->dragChanged(QPointF(10, 100));
    model->dragChanged(QPointF(100, 100));
    const QImage drawing = canvas.grab().toImage();
    QVERIFY(qGray(drawing.pixel(50, 100)) < 128);
    model->dragEnded();
    const QImage finished = canvas.grab().toImage();
    QCOMPARE(canvas.cacheRebuilds(), 1);
    QCOMPARE(finished, drawing);
    model->undoLastStroke();
    const QImage undone = canvas.grab().toImage();
    QCOMPARE(canvas.cacheRebuilds(), 2);
    QVERIFY(qGray(undone.pixel(50, 100)) > 128);
    QVERIFY(qGray(undone.pixel(50, 10)) < 128);

    // An eraser sweep that removes nothing keeps the picture; one that removes a stroke redraws it.
    model->selectEraser();
    model->dragChanged(QPointF(200, 200));
    canvas.grab();
    QCOMPARE(canvas.cacheRebuilds(), 2);
    model->dragChanged(QPointF(12, 12));
    const QImage erased = canvas.grab().toImage();
    QCOMPARE(canvas.cacheRebuilds(), 3);
    QVERIFY(qGray(erased.pixel(50, 10)) > 128);
    model->dragEnded();
    QCOMPARE(m_texts.last(), QString());
}

void TestDrawingBlock::storedHeightInThePage_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<int>("height");
    QTest::newRow("300 as an integer") << R"({"height":300})" << 300;
    QTest::newRow("120.4 as a double") << R"({"height":120.4})" << 120;
    QTest::newRow("100 shows 240") << R"({"height":100})" << 240;
    QTest::newRow("1000 shows 240") << R"({"height":1000})" << 240;
    QTest::newRow("a string shows 240") << R"({"height":"300","svg":7})" << 240;
    QTest::newRow("no keys") << "{}" << 240;
}

void TestDrawingBlock::storedHeightInThePage()
{
    QFETCH(QString, content);
    QFETCH(int, height);
    m_device = std::make_unique<TestDevice>(m_fake.origin());
    const FNPage page = m_device->addPage(m_account.workspaceId, "Heights");
    const FNBlock block = addDrawing(*m_device, page, content);
    std::unique_ptr<PageView> view = openPage(*m_device, page);
    QVERIFY(view);
    DrawingBlockView *drawing = drawingIn(*view, block.localID);
    QVERIFY(drawing);
    QCOMPARE(drawing->canvas()->height(), height);
    QCOMPARE(drawing->heightLabel()->text(), QStringLiteral("%1pt").arg(height));
    QCOMPARE(drawing->model().hint(), QStringLiteral("Click and drag to draw"));
    QTest::mouseClick(drawing->eraserButton(), Qt::LeftButton);
    QCOMPARE(drawing->model().hint(), QStringLiteral("Eraser mode"));
    QTest::mouseClick(drawing->swatch(2), Qt::LeftButton);
    QCOMPARE(drawing->model().hint(), QStringLiteral("Click and drag to draw"));
    QVERIFY(!drawing->undoButton()->isEnabled());
    view.reset();
    QCOMPARE(m_device->block(block.localID)->contentJSON, content);
}

void TestDrawingBlock::dragInThePageDrawsAndComesBack()
{
    m_device = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
    const FNPage page = m_device->addPage(m_account.workspaceId, "Sketches");
    QVERIFY(m_device->sync());
    const FNBlock block = addDrawing(*m_device, page, R"({"height":300})");
    QVERIFY(m_device->queueBlockUpsert(page.localID));
    QVERIFY(m_device->sync());

    std::unique_ptr<PageView> view = openPage(*m_device, page);
    QVERIFY(view);
    DrawingBlockView *drawing = drawingIn(*view, block.localID);
    QVERIFY(drawing);
    QTest::mouseClick(drawing->swatch(9), Qt::LeftButton);
    QWidget *canvas = drawing->canvas();
    QTest::mousePress(canvas, Qt::LeftButton, Qt::NoModifier, QPoint(20, 30));
    QTest::mouseMove(canvas, QPoint(60, 40));
    QTest::mouseMove(canvas, QPoint(100, 80));
    QTest::mouseRelease(canvas, Qt::LeftButton, Qt::NoModifier, QPoint(100, 80));

    const QString expected = QStringLiteral("color=#0a64eb w=2 e=0 path=M20,30 L60,40 L100,80");
    const auto storedSVG = [&](TestDevice &device, const QString &localID) {
        const FNBlock *stored = device.block(localID);
        return stored ? BlockContent::readString(BlockContent::decode(stored->contentJSON), "svg")
                      : QString();
    };
    QCOMPARE(storedSVG(*m_device, block.localID), expected);
    QCOMPARE(BlockContent::readDouble(BlockContent::decode(m_device->block(block.localID)->contentJSON),
                                      "height", 0),
             300.0);
    QVERIFY(drawing->undoButton()->isEnabled());
    // The page queues its blocks for the service, which then holds the stroke.
    const qint64 pageID = m_device->page(page.localID)->serverID;
    const auto serviceHasIt = [&] {
        const std::vector<FakeServiceState::Block> blocks = m_fake.storedBlocks(pageID);
        return blocks.size() == 1 && BlockContent::readString(blocks.front().content, "svg") == expected;
    };
    QTRY_VERIFY((m_device->sync(), serviceHasIt()));

    // Reopened, the page shows the stroke.
    view.reset();
    view = openPage(*m_device, page);
    QVERIFY(view);
    drawing = drawingIn(*view, block.localID);
    QVERIFY(drawing);
    QCOMPARE(DrawingBlock::serializeStrokes(drawing->model().strokes()), expected);
    QCOMPARE(drawing->canvas()->height(), 300);
    const QImage shown = drawing->canvas()->grab().toImage();
    const QRgb onStroke = shown.pixel(60, 40);
    QVERIFY2(qBlue(onStroke) > qRed(onStroke) + 60, qPrintable(QColor(onStroke).name()));

    // Another device of the same account shows the same strokes.
    TestDevice other(m_fake.origin(), m_account.token);
    QVERIFY(other.sync());
    const FNPage *theirPage = other.pageWithServerID(pageID);
    QVERIFY(theirPage);
    const std::vector<FNBlock> theirBlocks = other.liveBlocks(theirPage->localID);
    QCOMPARE(theirBlocks.size(), size_t(1));
    std::unique_ptr<PageView> theirView = openPage(other, *theirPage);
    QVERIFY(theirView);
    DrawingBlockView *theirDrawing = drawingIn(*theirView, theirBlocks.front().localID);
    QVERIFY(theirDrawing);
    QCOMPARE(DrawingBlock::serializeStrokes(theirDrawing->model().strokes()), expected);
    theirView.reset();
    other.engine().stopLoop();
}

void TestDrawingBlock::handleInThePageResizesOnce()
{
    m_device = std::make_unique<TestDevice>(m_fake.origin());
    const FNPage page = m_device->addPage(m_account.workspaceId, "Resize");
    const FNBlock block = addDrawing(*m_device, page, R"({"height":1000,"svg":"M1,1 L5,5"})");
    std::unique_ptr<PageView> view = openPage(*m_device, page);
    QVERIFY(view);
    DrawingBlockView *drawing = drawingIn(*view, block.localID);
    QVERIFY(drawing);
    QWidget *handle = drawing->canvas()->resizeHandle();
    QVERIFY(handle->isVisible());
    // The pointer's place on the screen: the handle moves with the canvas's edge.
    const QPoint start = handle->mapToGlobal(handle->rect().center());
    const auto at = [&](int down) { return handle->mapFromGlobal(start + QPoint(0, down)); };
    const QString before = m_device->block(block.localID)->contentJSON;

    // Under 10 points is not yet a drag.
    QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, at(0));
    QTest::mouseMove(handle, at(6));
    QCOMPARE(drawing->canvas()->height(), 240);
    QTest::mouseMove(handle, at(60));
    QCOMPARE(drawing->canvas()->height(), 300);
    QTest::mouseMove(handle, at(-400));
    QCOMPARE(drawing->canvas()->height(), 120);
    QCOMPARE(m_device->block(block.localID)->contentJSON, before);
    QTest::mouseMove(handle, at(80));
    QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, at(80));
    QCOMPARE(drawing->canvas()->height(), 320);
    const JSONObject stored = BlockContent::decode(m_device->block(block.localID)->contentJSON);
    QCOMPARE(BlockContent::readDouble(stored, "height", 0), 320.0);
    QCOMPARE(BlockContent::readString(stored, "svg"), QStringLiteral("M1,1 L5,5"));
    QCOMPARE(drawing->heightSlider()->value(), 320);
    QCOMPARE(handle->geometry().bottomRight(), drawing->canvas()->rect().bottomRight() - QPoint(8, 8));
}

void TestDrawingBlock::toolbarInThePage()
{
    m_device = std::make_unique<TestDevice>(m_fake.origin());
    const FNPage page = m_device->addPage(m_account.workspaceId, "Toolbar");
    const FNBlock block = addDrawing(*m_device, page, "{}");
    FNBlock below = m_device->addBlock(page.localID, QStringLiteral("notes"), 1);
    std::unique_ptr<PageView> view = openPage(*m_device, page);
    QVERIFY(view);
    DrawingBlockView *drawing = drawingIn(*view, block.localID);
    QVERIFY(drawing);
    const auto storedHeight = [&] {
        return BlockContent::readDouble(BlockContent::decode(m_device->block(block.localID)->contentJSON),
                                        "height", 0);
    };

    drawing->widthSlider()->setValue(760);
    QCOMPARE(drawing->model().width(), 7.6);
    QCOMPARE(drawing->widthLabel()->text(), QStringLiteral("7pt"));
    QCOMPARE(drawing->model().eraserRadius(), 30.4);

    // The canvas follows the height slider; the height is stored once, when it is let go.
    drawing->heightSlider()->setSliderDown(true);
    drawing->heightSlider()->setValue(450);
    drawing->heightSlider()->setValue(500);
    QCOMPARE(drawing->canvas()->height(), 500);
    QCOMPARE(storedHeight(), 0.0);
    drawing->heightSlider()->setSliderDown(false);
    QCOMPARE(storedHeight(), 500.0);

    QAction *medium = drawing->presetsButton()->menu()->actions().value(1);
    QVERIFY(medium);
    QCOMPARE(medium->text(), QStringLiteral("Medium (300)"));
    medium->trigger();
    QCOMPARE(drawing->canvas()->height(), 300);
    QCOMPARE(storedHeight(), 300.0);

    // Drawing takes the keyboard from the text row below, whose toolbar would cover the canvas.
    RichTextEditor *editor = view->row(below.localID)->richEditor();
    QVERIFY(editor);
    editor->setFocus();
    QTRY_VERIFY(editor->hasFocus());
    QTest::mouseClick(drawing->canvas(), Qt::LeftButton, Qt::NoModifier, QPoint(40, 40));
    QTRY_VERIFY(drawing->canvas()->hasFocus());
    QCOMPARE(drawing->model().strokes().size(), size_t(1));
}

QTEST_MAIN(TestDrawingBlock)
#include "tst_drawing_block.moc"
