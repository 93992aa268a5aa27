#include "api/api_client.h"
#include "blocks/audio_block.h"
#include "blocks/block_content.h"
#include "blocks/block_kind.h"
#include "blocks/block_view.h"
#include "blocks/bookmark_block.h"
#include "blocks/button_block.h"
#include "blocks/columns_block.h"
#include "blocks/database_block.h"
#include "blocks/drawing_block.h"
#include "blocks/file_block.h"
#include "blocks/image_block.h"
#include "blocks/mention_block.h"
#include "blocks/synced_block.h"
#include "editor/block_row.h"
#include "editor/editor_fixture.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "fake-service/fake_upload_routes.h"
#include "platform/preset_file_picker.h"
#include "support/editor_steps.h"
#include "support/test_device.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

// The rich kinds: their typed content over the stored JSON, and their views inside the page.
class TestBlockKinds : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void columnCount_data();
    void columnCount();
    void idReads_data();
    void idReads();
    void databaseBinding();
    void drawingHeight();
    void buttonProps();
    void typedWriteKeepsOtherKeys_data();
    void typedWriteKeepsOtherKeys();

    void everyKindHasItsViewInThePage();
    void imagePromptUploadsInThePage();

private:
    std::unique_ptr<PageView> openPage(const FNPage &page);

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    std::unique_ptr<EditorFixture> m_fx;
};

void TestBlockKinds::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount("kinds@example.com", "secret12", "Kinds");
}

void TestBlockKinds::init()
{
    EditorSteps::useFake(m_fake);
    m_fx = std::make_unique<EditorFixture>();
}

void TestBlockKinds::cleanup()
{
    m_fx.reset();
    if (m_device) {
        m_device->engine().stopLoop();
        QTRY_VERIFY(!m_device->engine().isSyncing());
        m_device.reset();
    }
}

std::unique_ptr<PageView> TestBlockKinds::openPage(const FNPage &page)
{
    auto view =
        std::make_unique<PageView>(m_device->context(), page.localID, nullptr, EditorSteps::fastTiming());
    view->resize(700, 600);
    view->show();
    if (!QTest::qWaitFor([&] { return view->isLaidOut(); }))
        return nullptr;
    return view;
}
void TestBlockKinds::columnCount_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<int>("count");
    QTest::newRow("3") << R"({"count":3})" << 3;
    QTest::newRow("7 caps at 4") << R"({"count":7})" << 4;
    QTest::newRow("1") << R"({"count":1})" << 2;
    QTest::newRow("0") << R"({"count":0})" << 2;
    QTest::newRow("-2") << R"({"count":-2})" << 2;
    QTest::newRow("a fraction") << R"({"count":3.5})" << 2;
    QTest::newRow("a string") << R"({"count":"3"})" << 2;
    QTest::newRow("missing") << "{}" << 2;
    QTest::newRow("not JSON") << "[" << 2;
}

void TestBlockKinds::columnCount()
{
    QFETCH(QString, content);
    QFETCH(int, count);
    FNBlock block = m_fx->addBlock(QStringLiteral("columns"));
    block.contentJSON = content;
    m_fx->store().upsertBlock(block);
    BlockRowModel model(m_fx->store(), block, nullptr, m_fx->hooks());
    QCOMPARE(model.read<ColumnsBlock::Content>().count, qint64(count));
}

void TestBlockKinds::idReads_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<qint64>("id");
    QTest::newRow("integer") << R"({"page_id":12,"source_id":12})" << qint64(12);
    QTest::newRow("string") << R"({"page_id":"12","source_id":"12"})" << qint64(0);
    QTest::newRow("fraction") << R"({"page_id":12.5,"source_id":12.5})" << qint64(0);
    QTest::newRow("null") << R"({"page_id":null,"source_id":null})" << qint64(0);
    QTest::newRow("no content") << "" << qint64(0);
}

void TestBlockKinds::idReads()
{
    QFETCH(QString, content);
    QFETCH(qint64, id);
    FNBlock block = m_fx->addBlock(QStringLiteral("mention"));
    block.contentJSON = content;
    m_fx->store().upsertBlock(block);
    BlockRowModel model(m_fx->store(), block, nullptr, m_fx->hooks());
    QCOMPARE(model.read<MentionBlock::Content>().serverID, id);
    QCOMPARE(model.read<SyncedBlock::Content>().serverID, id);

    model.write(ColumnsBlock::Content{3});
    model.write(MentionBlock::Content{44});
    QCOMPARE(m_fx->changes(), 2);
    const JSONObject stored = m_fx->storedContent(block.localID);
    QVERIFY(stored.at(QStringLiteral("count")).isInt());
    QCOMPARE(stored.at(QStringLiteral("count")).toInt(), 3);
    QCOMPARE(stored.at(QStringLiteral("page_id")).toInt(), 44);
    if (!content.isEmpty())
        QVERIFY(stored.count(QStringLiteral("source_id")));
}

void TestBlockKinds::databaseBinding()
{
    const FNBlock block = m_fx->addBlock(QStringLiteral("database"), {{QStringLiteral("database_id"), 5}});
    BlockRowModel model(m_fx->store(), block, nullptr, m_fx->hooks());
    QCOMPARE(model.read<DatabaseBlock::Content>().databaseID, std::optional<qint64>(5));
    DatabaseBlock::setDatabaseID(model, std::nullopt);
    QCOMPARE(model.read<DatabaseBlock::Content>().databaseID, std::optional<qint64>(5));
    QCOMPARE(m_fx->changes(), 0);
    DatabaseBlock::setDatabaseID(model, 7);
    QCOMPARE(model.read<DatabaseBlock::Content>().databaseID, std::optional<qint64>(7));
    QCOMPARE(m_fx->changes(), 1);

    const FNBlock other = m_fx->addBlock(QStringLiteral("database"), {{QStringLiteral("database_id"), "7"}});
    QCOMPARE(BlockRowModel(m_fx->store(), other, nullptr, {}).read<DatabaseBlock::Content>().databaseID,
             std::nullopt);
}

void TestBlockKinds::drawingHeight()
{
    const FNBlock whole = m_fx->addBlock(QStringLiteral("drawing"), {{QStringLiteral("height"), 300}});
    const FNBlock none = m_fx->addBlock(QStringLiteral("drawing"), {{QStringLiteral("height"), "300"}});
    BlockRowModel model(m_fx->store(), whole, nullptr, m_fx->hooks());
    QCOMPARE(model.read<DrawingBlock::Content>().height, 300.0);
    QCOMPARE(BlockRowModel(m_fx->store(), none, nullptr, {}).read<DrawingBlock::Content>().height, 240.0);
    model.write(DrawingBlock::Content{320});
    // A whole double is written as the program writes every whole number.
    QCOMPARE(m_fx->stored(whole.localID).contentJSON, QStringLiteral("{\"height\":320}"));
    QCOMPARE(model.read<DrawingBlock::Content>().height, 320.0);
}

void TestBlockKinds::buttonProps()
{
    const FNBlock block =
        m_fx->addBlock(QStringLiteral("button"),
                       {{QStringLiteral("label"), QStringLiteral("x")}, {QStringLiteral("extra"), true}});
    BlockRowModel model(m_fx->store(), block, nullptr, m_fx->hooks());
    model.write(ButtonBlock::Content{QStringLiteral("Ask"), QStringLiteral("ai_prompt"),
                                     QStringLiteral("Summarise this page")});
    QCOMPARE(m_fx->changes(), 1);
    const JSONObject content = m_fx->storedContent(block.localID);
    QCOMPARE(content.at(QStringLiteral("label")).toString(), QStringLiteral("Ask"));
    QCOMPARE(content.at(QStringLiteral("action")).toString(), QStringLiteral("ai_prompt"));
    QCOMPARE(content.at(QStringLiteral("target")).toString(), QStringLiteral("Summarise this page"));
    QVERIFY(content.at(QStringLiteral("extra")).toBool());
}

void TestBlockKinds::typedWriteKeepsOtherKeys_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("expected");
    QTest::newRow("columns") << "columns"
                             << R"({"count":3,"other":true})";
    QTest::newRow("mention") << "mention"
                             << R"({"other":true,"page_id":44})";
    QTest::newRow("synced") << "synced"
                            << R"({"other":true,"source_id":45})";
    QTest::newRow("button") << "button"
                            << R"({"action":"ai_prompt","label":"Ask","other":true,"target":"t"})";
    QTest::newRow("drawing") << "drawing"
                             << R"({"height":320.5,"other":true})";
    QTest::newRow("database") << "database"
                              << R"({"database_id":7,"other":true})";
    QTest::newRow("image") << "image"
                           << R"({"other":true,"url":"u"})";
    QTest::newRow("file") << "file"
                          << R"({"filename":"a.pdf","other":true,"size":3,"url":"u"})";
    QTest::newRow("recording") << "audio"
                               << R"({"other":true,"url":"u"})";
    QTest::newRow("preview") << "bookmark"
                             << R"({"other":true,"title":"T","url":"u"})";
}

void TestBlockKinds::typedWriteKeepsOtherKeys()
{
    QFETCH(QString, kind);
    QFETCH(QString, expected);
    const std::map<QString, std::function<bool(BlockHost &)>> writes{
        {"columns", [](BlockHost &h) { return h.write(ColumnsBlock::Content{3}); }},
        {"mention", [](BlockHost &h) { return h.write(MentionBlock::Content{44}); }},
        {"synced", [](BlockHost &h) { return h.write(SyncedBlock::Content{45}); }},
        {"button",
         [](BlockHost &h) {
             return h.write(ButtonBlock::Content{"Ask", "ai_prompt", "t"});
         }},
        {"drawing", [](BlockHost &h) { return h.write(DrawingBlock::Content{320.5}); }},
        {"database", [](BlockHost &h) { return h.write(DatabaseBlock::Content{7}); }},
        {"image", [](BlockHost &h) { return h.write(ImageBlock::Content{"u"}); }},
        {"file",
         [](BlockHost &h) {
             return h.write(FileBlock::Content{"u", "a.pdf", 3});
         }},
        {"audio",
         [](BlockHost &h) {
             return h.write(AudioBlock::Content{"u", {}, {}});
         }},
        {"bookmark",
         [](BlockHost &h) {
             return h.write(BookmarkBlock::Content{"u", "T", {}, {}});
         }},
    };
    const FNBlock block = m_fx->addBlock(kind, {{QStringLiteral("other"), true}});
    BlockRowModel model(m_fx->store(), block, nullptr, m_fx->hooks());
    QVERIFY(writes.at(kind)(model));
    QCOMPARE(m_fx->storedContent(block.localID), BlockContent::decode(expected));
    QCOMPARE(m_fx->changes(), 1);
}

void TestBlockKinds::everyKindHasItsViewInThePage()
{
    m_device = std::make_unique<TestDevice>(m_fake.origin());
    const FNPage page = m_device->addPage(m_account.workspaceId, "Kinds");
    QStringList ids;
    std::map<QString, QString> storedBefore;
    int position = 0;
    for (const BlockType kind : BlockType::allCases()) {
        FNBlock block = m_device->addBlock(page.localID, QStringLiteral("typed"), position++);
        block.type = kind.rawValue();
        // An image with an address shows its name, as the other rich kinds do.
        block.contentJSON =
            QStringLiteral("{\"text\":\"typed\",\"url\":\"http://127.0.0.1:9/y.png\",\"count\":3}");
        m_device->store().upsertBlock(block);
        ids << block.localID;
        storedBefore[block.localID] = block.contentJSON;
    }
    std::unique_ptr<PageView> view = openPage(page);
    QVERIFY(view);

    for (size_t i = 0; i < BlockType::allCases().size(); ++i) {
        const BlockType kind = BlockType::allCases()[i];
        BlockRow *row = view->row(ids[qsizetype(i)]);
        QVERIFY2(row, qPrintable(kind.rawValue()));
        const BlockKind *rich = BlockKind::of(kind);
        const bool textKind = kind.value() <= BlockType::toggle;
        QCOMPARE(rich == nullptr, textKind);
        if (textKind) {
            QVERIFY2(!row->kindView(), qPrintable(kind.rawValue()));
            continue;
        }
        QVERIFY2(row->kindView(), qPrintable(kind.rawValue()));
        QCOMPARE(row->kindView()->type(), kind);
        if (kind == BlockType::drawing) {
            QVERIFY(qobject_cast<DrawingBlockView *>(row->kindView()));
            continue;
        }
        // The linked and media kinds show their own views instead of their names.
        static const QStringList ownViews{"mention", "toc",   "breadcrumbs", "bookmark", "embed",
                                          "synced",  "image", "audio",       "file",     "math"};
        if (ownViews.contains(kind.rawValue())) {
            QVERIFY2(!row->kindLabel(), qPrintable(kind.rawValue()));
            continue;
        }
        if (kind == BlockType::database) {
            // A view of its own: without a database yet, the offer to insert one.
            auto *database = qobject_cast<DatabaseBlockView *>(row->kindView());
            QVERIFY(database && database->insertButton());
            continue;
        }
        // A kind without a view of its own yet shows its name.
        if (row->kindView()->metaObject() != &BlockView::staticMetaObject)
            continue;
        QVERIFY(row->kindLabel());
        QCOMPARE(row->kindLabel()->text(), kind.label());
    }

    // Leaving the page stores the rows' text: the rich kinds keep their content exactly as stored.
    view.reset();
    for (size_t i = 0; i < BlockType::allCases().size(); ++i) {
        const BlockType kind = BlockType::allCases()[i];
        if (BlockKind::of(kind))
            QCOMPARE(m_device->block(ids[qsizetype(i)])->contentJSON, storedBefore[ids[qsizetype(i)]]);
    }
}

void TestBlockKinds::imagePromptUploadsInThePage()
{
    m_device = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
    const FNPage page = m_device->addPage(m_account.workspaceId, "Photos");
    FNBlock block = m_device->addBlock(page.localID, QString(), 0);
    block.type = QStringLiteral("image");
    m_device->store().upsertBlock(block);
    std::unique_ptr<PageView> view = openPage(page);
    QVERIFY(view);
    auto picker = std::make_shared<PresetFilePicker>();
    view->setFilePicker(picker);
    QTemporaryDir files;
    const QByteArray png = EditorSteps::pngBytes();
    picker->setAnswer(EditorSteps::writeFile(files.filePath(QStringLiteral("cat.png")), png));

    auto *image = qobject_cast<ImageBlockView *>(view->row(block.localID)->kindView());
    QVERIFY(image);
    QVERIFY(image->uploadButton());
    QVERIFY(!image->kindLabel());
    QTest::mouseClick(image->uploadButton(), Qt::LeftButton);

    const auto storedURL = [&] {
        return BlockContent::readString(BlockContent::decode(m_device->block(block.localID)->contentJSON),
                                        QStringLiteral("url"));
    };
    QTRY_VERIFY(!storedURL().isEmpty());
    QCOMPARE(picker->requests(), QList<FilePicker::Filter>{FilePicker::Filter::Images});
    QCOMPARE(FakeUploadRoutes::of(m_fake).files().rbegin()->second.data, png);
    // The stored address reaches the view through the store: the prompt gives way to the image.
    QTRY_VERIFY(!image->uploadButton());
    QVERIFY(image->imageElement());
    QCOMPARE(view->row(block.localID)->kindView(), image);
}

QTEST_MAIN(TestBlockKinds)
#include "tst_block_kinds.moc"
