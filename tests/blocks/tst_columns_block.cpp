#include "blocks/block_content.h"
#include "blocks/columns_block.h"
#include "editor/block_row.h"
#include "editor/page_row_list.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "support/editor_steps.h"
#include "support/test_device.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <memory>

// The columns block inside the page editor: how its children are dealt out, the count picker, and
// a block added in a column on its way to the service and to another device.
class TestColumnsBlock : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void storedCountIsReadWithinTwoToFour_data();
    void storedCountIsReadWithinTwoToFour();
    void childrenAreDealtOutByPlace();
    void addButtonAddsANestedBlockThatSyncs();

private:
    FNBlock addColumns(const QString &pageLocalID, const QString &contentJSON);
    FNBlock addChild(const FNBlock &columns, const QString &text, qint64 position);
    ColumnsBlockView *open(TestDevice &device, const QString &pageLocalID, const QString &columnsID);
    // The texts of the rows in each cell, in order.
    QList<QStringList> columnTexts(ColumnsBlockView &view) const;

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    std::unique_ptr<PageView> m_view;
};

void TestColumnsBlock::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account =
        m_fake.createAccount(QStringLiteral("columns@example.com"), "secret12", QStringLiteral("Col"));
}

void TestColumnsBlock::init()
{
    m_device = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
}

void TestColumnsBlock::cleanup()
{
    m_view.reset();
    m_device->engine().stopLoop();
    QTRY_VERIFY(!m_device->engine().isSyncing());
    m_device.reset();
}

FNBlock TestColumnsBlock::addColumns(const QString &pageLocalID, const QString &contentJSON)
{
    FNBlock block = m_device->addBlock(pageLocalID, QString(), 0);
    block.type = QStringLiteral("columns");
    block.contentJSON = contentJSON;
    m_device->store().upsertBlock(block);
    return block;
}

FNBlock TestColumnsBlock::addChild(const FNBlock &columns, const QString &text, qint64 position)
{
    FNBlock child = m_device->addBlock(columns.pageLocalID, text, position);
    child.parentBlockLocalID = columns.localID;
    m_device->store().upsertBlock(child);
    return child;
}

ColumnsBlockView *TestColumnsBlock::open(TestDevice &device, const QString &pageLocalID,
                                         const QString &columnsID)
{
    m_view = std::make_unique<PageView>(device.context(), pageLocalID, nullptr, EditorSteps::fastTiming());
    m_view->resize(900, 600);
    m_view->show();
    QApplication::setActiveWindow(m_view.get());
    if (!QTest::qWaitForWindowActive(m_view.get()) ||
        !QTest::qWaitFor([&] { return m_view->row(columnsID) && m_view->isLaidOut(); }))
        return nullptr;
    return qobject_cast<ColumnsBlockView *>(m_view->row(columnsID)->kindView());
}

QList<QStringList> TestColumnsBlock::columnTexts(ColumnsBlockView &view) const
{
    QList<QStringList> out;
    for (QWidget *cell : view.cells()) {
        QStringList texts;
        if (auto *list = cell->findChild<PageRowList *>()) {
            for (BlockRow *row : list->rows())
                texts << row->model().text();
        }
        out << texts;
    }
    return out;
}

void TestColumnsBlock::storedCountIsReadWithinTwoToFour_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<int>("cells");

    QTest::newRow("new block") << "{\"text\":\"\"}" << 2;
    QTest::newRow("three") << R"({"count":3})" << 3;
    QTest::newRow("one") << R"({"count":1})" << 2;
    QTest::newRow("nine") << R"({"count":9})" << 4;
    QTest::newRow("text") << R"({"count":"3"})" << 2;
    QTest::newRow("fraction") << R"({"count":3.5})" << 2;
}

void TestColumnsBlock::storedCountIsReadWithinTwoToFour()
{
    QFETCH(QString, content);
    QFETCH(int, cells);

    const FNPage page = m_device->addPage(m_account.workspaceId, QStringLiteral("Count"));
    const FNBlock columns = addColumns(page.localID, content);
    ColumnsBlockView *view = open(*m_device, page.localID, columns.localID);
    QVERIFY(view);
    QCOMPARE(view->cells().size(), cells);
    QCOMPARE(view->headerLabel()->text(), QStringLiteral("%1 columns").arg(cells));
    QCOMPARE(view->countPicker()->currentText(), QString::number(cells));
    QTRY_VERIFY(view->cells().first()->height() >= ColumnsBlockView::kMinCellHeight);
    // Cells share the row evenly, and only the first has the add button.
    const int width = view->cells().first()->width();
    for (QWidget *cell : view->cells()) {
        QVERIFY(qAbs(cell->width() - width) <= 1);
        QCOMPARE(cell->findChildren<QPushButton *>().size(), cell == view->cells().first() ? 1 : 0);
    }
    // Reading never writes the value back.
    QCOMPARE(m_device->block(columns.localID)->contentJSON, content);
}

void TestColumnsBlock::childrenAreDealtOutByPlace()
{
    const FNPage page = m_device->addPage(m_account.workspaceId, QStringLiteral("Deal"));
    const FNBlock columns = addColumns(page.localID, R"({"count":2})");
    // Stored out of order: their positions decide.
    for (const int p : {3, 0, 4, 1, 2})
        addChild(columns, QStringLiteral("c%1").arg(p), p);
    ColumnsBlockView *view = open(*m_device, page.localID, columns.localID);
    QVERIFY(view);
    QTRY_COMPARE(columnTexts(*view), (QList<QStringList>{{"c0", "c2", "c4"}, {"c1", "c3"}}));

    // The user picks three: the children stay as they are and are dealt out again.
    const std::vector<FNBlock> before = m_device->liveBlocks(page.localID);
    QComboBox *picker = view->countPicker();
    picker->setFocus();
    QTest::keyClick(picker, Qt::Key_Down);
    QCOMPARE(BlockContent::decode(m_device->block(columns.localID)->contentJSON).at(QStringLiteral("count")),
             JSONValue(3));
    QTRY_COMPARE(columnTexts(*view), (QList<QStringList>{{"c0", "c3"}, {"c1", "c4"}, {"c2"}}));
    QCOMPARE(view->headerLabel()->text(), QStringLiteral("3 columns"));
    const std::vector<FNBlock> after = m_device->liveBlocks(page.localID);
    QCOMPARE(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        QCOMPARE(after[i].localID, before[i].localID);
        QCOMPARE(after[i].position, before[i].position);
        QCOMPARE(after[i].parentBlockLocalID, before[i].parentBlockLocalID);
    }
}

void TestColumnsBlock::addButtonAddsANestedBlockThatSyncs()
{
    const FNPage page = m_device->addPage(m_account.workspaceId, QStringLiteral("Three columns"));
    QVERIFY(m_device->sync());
    const FNBlock columns = addColumns(page.localID, R"({"count":3})");
    addChild(columns, QStringLiteral("left"), 0);
    addChild(columns, QStringLiteral("middle"), 4);
    QVERIFY(m_device->queueBlockUpsert(page.localID));
    QVERIFY(m_device->sync());
    const qint64 columnsServerID = m_device->block(columns.localID)->serverID;
    QVERIFY(columnsServerID != 0);

    ColumnsBlockView *view = open(*m_device, page.localID, columns.localID);
    QVERIFY(view);
    QPushButton *add = view->cells().first()->findChild<QPushButton *>();
    QVERIFY(add);
    QPointer<ColumnsBlockView> guard(view);
    QTest::mouseClick(add, Qt::LeftButton);
    QVERIFY(guard);
    QTRY_COMPARE(columnTexts(*view), (QList<QStringList>{{"left"}, {"middle"}, {""}}));

    // The new block has the keyboard, and what is typed is its text.
    auto *editor = qobject_cast<RichTextEditor *>(QApplication::focusWidget());
    QTRY_VERIFY((editor = qobject_cast<RichTextEditor *>(QApplication::focusWidget())));
    QTest::keyClicks(editor, QStringLiteral("right"));
    QTRY_COMPARE(columnTexts(*view), (QList<QStringList>{{"left"}, {"middle"}, {"right"}}));
    const auto typed = [&]() -> std::optional<FNBlock> {
        for (const FNBlock &b : m_device->liveBlocks(page.localID)) {
            if (TestDevice::textOf(b) == QStringLiteral("right"))
                return b;
        }
        return std::nullopt;
    };
    QTRY_VERIFY(typed());
    const FNBlock added = *typed();
    QCOMPARE(added.parentBlockLocalID, columns.localID);
    QCOMPARE(added.parentBlockServerID, columnsServerID);
    QCOMPARE(added.position, qint64(5));

    // The page's flush queues it; a cycle takes it to the service under the columns block.
    const qint64 pageServerID = m_device->page(page.localID)->serverID;
    const auto onService = [&] {
        for (const auto &b : m_fake.storedBlocks(pageServerID)) {
            if (b.clientId == added.localID)
                return b.parentBlockId == columnsServerID && b.position == 5 &&
                       b.content.at(QStringLiteral("text")).toString() == QStringLiteral("right");
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT((m_device->sync(), onService()), 5000);

    // A second device pulls it back nested, in the third column.
    m_view.reset();
    TestDevice other(m_fake.origin(), m_account.token);
    QVERIFY(other.sync());
    const FNPage *pulled = other.pageWithServerID(pageServerID);
    QVERIFY(pulled);
    const std::vector<FNBlock> theirs = other.liveBlocks(pulled->localID);
    const auto columnsThere = std::find_if(theirs.begin(), theirs.end(),
                                           [&](const FNBlock &b) { return b.serverID == columnsServerID; });
    QVERIFY(columnsThere != theirs.end());
    ColumnsBlockView *there = open(other, pulled->localID, columnsThere->localID);
    QVERIFY(there);
    QTRY_COMPARE(columnTexts(*there), (QList<QStringList>{{"left"}, {"middle"}, {"right"}}));
    m_view.reset();
    other.engine().stopLoop();
    QTRY_VERIFY(!other.engine().isSyncing());
}

QTEST_MAIN(TestColumnsBlock)
#include "tst_columns_block.moc"
