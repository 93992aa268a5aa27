#include "blocks/block_content.h"
#include "blocks/button_block.h"
#include "blocks/columns_block.h"
#include "editor/block_row.h"
#include "editor/page_row_list.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "platform/recording_url_opener.h"
#include "support/editor_steps.h"
#include "support/test_device.h"
#include "ui/toast_center.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <memory>

// The button and columns blocks inside the page editor: what a button shows and does and its
// editor; how the columns deal out their children, and a block added in a column on its way to the
// service and to another device.
class TestButtonColumns : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void showsLabelAndNeedsATarget_data();
    void showsLabelAndNeedsATarget();
    void pressOpensOnlyWebAndMailAddresses_data();
    void pressOpensOnlyWebAndMailAddresses();
    void editorOpensOnTheStoredValues();
    void childrenAreDealtOutByPlace();
    void addButtonAddsANestedBlockThatSyncs();

private:
    // The page open in a page editor, once the block's row is there; its kind's view.
    template <class View>
    View *openPage(TestDevice &device, const QString &pageLocalID, const QString &blockID);
    ButtonBlockView *openButton(const QString &contentJSON);
    FNBlock addColumns(const QString &pageLocalID, const QString &contentJSON);
    FNBlock addChild(const FNBlock &columns, const QString &text, qint64 position);
    // The texts of the rows in each cell, in order.
    QList<QStringList> columnTexts(ColumnsBlockView &view) const;

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    ToastCenter m_toasts;
    std::unique_ptr<RecordingUrlOpener> m_opener;
    std::unique_ptr<PageView> m_view;
    QString m_blockID;
};

void TestButtonColumns::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount(QStringLiteral("blocks@example.com"), "secret12", QStringLiteral("Bo"));
}

void TestButtonColumns::init()
{
    m_device = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
    m_toasts.dismiss();
    m_opener = std::make_unique<RecordingUrlOpener>();
}

void TestButtonColumns::cleanup()
{
    m_view.reset();
    m_device->engine().stopLoop();
    QTRY_VERIFY(!m_device->engine().isSyncing());
    m_device.reset();
}

template <class View>
View *TestButtonColumns::openPage(TestDevice &device, const QString &pageLocalID, const QString &blockID)
{
    AppContext context = device.context();
    context.toasts = &m_toasts;
    context.urlOpener = m_opener.get();
    m_view = std::make_unique<PageView>(context, pageLocalID, nullptr, EditorSteps::fastTiming());
    m_view->resize(900, 600);
    m_view->show();
    QApplication::setActiveWindow(m_view.get());
    if (!QTest::qWaitForWindowActive(m_view.get()) ||
        !QTest::qWaitFor([&] { return m_view->row(blockID) && m_view->isLaidOut(); }))
        return nullptr;
    return qobject_cast<View *>(m_view->row(blockID)->kindView());
}

ButtonBlockView *TestButtonColumns::openButton(const QString &contentJSON)
{
    const FNPage page = m_device->addPage(m_account.workspaceId, QStringLiteral("Buttons"));
    FNBlock block = m_device->addBlock(page.localID, QString(), 0);
    block.type = QStringLiteral("button");
    block.contentJSON = contentJSON;
    m_device->store().upsertBlock(block);
    m_blockID = block.localID;
    return openPage<ButtonBlockView>(*m_device, page.localID, m_blockID);
}

FNBlock TestButtonColumns::addColumns(const QString &pageLocalID, const QString &contentJSON)
{
    FNBlock block = m_device->addBlock(pageLocalID, QString(), 0);
    block.type = QStringLiteral("columns");
    block.contentJSON = contentJSON;
    m_device->store().upsertBlock(block);
    return block;
}

FNBlock TestButtonColumns::addChild(const FNBlock &columns, const QString &text, qint64 position)
{
    FNBlock child = m_device->addBlock(columns.pageLocalID, text, position);
    child.parentBlockLocalID = columns.localID;
    m_device->store().upsertBlock(child);
    return child;
}

QList<QStringList> TestButtonColumns::columnTexts(ColumnsBlockView &view) const
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

void TestButtonColumns::showsLabelAndNeedsATarget_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("enabled");

    // clang-format off
    QTest::newRow("new block") << "{\"text\":\"\"}" << "Click me" << false;
    QTest::newRow("ask AI without a prompt") << R"({"label":"Ask","action":"ai_prompt"})" << "Ask" << false;
    QTest::newRow("ask AI with a prompt of one space")
        << R"({"label":"Ask","action":"ai_prompt","target":" "})" << "Ask" << true;
    QTest::newRow("nothing needs nothing") << R"({"label":"Idle","action":"nothing"})" << "Idle" << true;
    QTest::newRow("another app's action") << R"({"action":"shout"})" << "Click me" << true;
    QTest::newRow("label of another JSON type") << R"({"label":7,"action":"nothing"})" << "Click me" << true;
    // clang-format on
}

void TestButtonColumns::showsLabelAndNeedsATarget()
{
    QFETCH(QString, content);
    QFETCH(QString, shown);
    QFETCH(bool, enabled);

    ButtonBlockView *button = openButton(content);
    QVERIFY(button);
    QCOMPARE(button->actionButton()->text(), shown);
    QCOMPARE(button->actionButton()->isEnabled(), enabled);
    QTest::mouseClick(button->actionButton(), Qt::LeftButton);
    // Showing it writes nothing back.
    QCOMPARE(m_device->block(m_blockID)->contentJSON, content);
}

void TestButtonColumns::pressOpensOnlyWebAndMailAddresses_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("opens"); // else the toast shows

    // clang-format off
    QTest::newRow("web address") << "https://example.com/x?a=1" << true;
    QTest::newRow("mail address") << "mailto:ann@example.com" << true;
    QTest::newRow("host without a scheme") << "example.com/x" << false;
    QTest::newRow("local file") << "file:///etc/passwd" << false;
    QTest::newRow("script") << "javascript:alert(1)" << false;
    QTest::newRow("an app's own scheme") << "steam://run/10" << false;
    // clang-format on
}

void TestButtonColumns::pressOpensOnlyWebAndMailAddresses()
{
    QFETCH(QString, target);
    QFETCH(bool, opens);

    JSONObject content{{QStringLiteral("label"), QStringLiteral("Go")},
                       {QStringLiteral("action"), QStringLiteral("open_url")},
                       {QStringLiteral("target"), target}};
    ButtonBlockView *button = openButton(*BlockContent::encode(content));
    QVERIFY(button);
    QTest::mouseClick(button->actionButton(), Qt::LeftButton);

    if (!opens) {
        QVERIFY(m_opener->opened().isEmpty());
        QVERIFY(m_toasts.current());
        QCOMPARE(m_toasts.current()->message, QStringLiteral("This button's URL is invalid."));
        QVERIFY(!m_toasts.current()->actionLabel);
    } else {
        QCOMPARE(m_opener->opened(), QList<QUrl>{QUrl(target)});
        QVERIFY(!m_toasts.current());
    }
}

void TestButtonColumns::editorOpensOnTheStoredValues()
{
    ButtonBlockView *button =
        openButton("{\"label\":\"Docs\",\"action\":\"shout\",\"target\":\"https://a.org\"}");
    QVERIFY(button);
    QVERIFY(!button->isEditing());
    QTest::mouseClick(button->editButton(), Qt::LeftButton);
    QVERIFY(button->isEditing());
    QCOMPARE(button->labelField()->text(), QStringLiteral("Docs"));
    QCOMPARE(button->targetField()->text(), QStringLiteral("https://a.org"));
    // Another app's action is selected in no entry.
    QCOMPARE(button->actionPicker()->currentIndex(), -1);

    // The label field has the keyboard: typing replaces the label.
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(button->labelField()));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Guide"));
    button->actionPicker()->setCurrentIndex(1);
    Q_EMIT button->actionPicker()->activated(1);
    QCOMPARE(button->targetField()->placeholderText(), QStringLiteral("Prompt text"));
    button->targetField()->setText(QStringLiteral("draft"));
    QTest::mouseClick(button->cancelButton(), Qt::LeftButton);
    QVERIFY(!button->isEditing());
    QCOMPARE(m_device->block(m_blockID)->contentJSON,
             QStringLiteral("{\"label\":\"Docs\",\"action\":\"shout\",\"target\":\"https://a.org\"}"));

    QTest::mouseClick(button->editButton(), Qt::LeftButton);
    QCOMPARE(button->labelField()->text(), QStringLiteral("Docs"));
    QCOMPARE(button->targetField()->text(), QStringLiteral("https://a.org"));
    QCOMPARE(button->actionPicker()->currentIndex(), -1);
    QCOMPARE(button->targetField()->placeholderText(), QStringLiteral("URL"));

    // "Save" stores the three values exactly as typed.
    button->labelField()->setText(QStringLiteral(" Ask "));
    button->actionPicker()->setCurrentIndex(1);
    Q_EMIT button->actionPicker()->activated(1);
    button->targetField()->setText(QStringLiteral(" Why?\t"));
    QTest::mouseClick(button->saveButton(), Qt::LeftButton);
    QVERIFY(!button->isEditing());
    QCOMPARE(m_device->block(m_blockID)->contentJSON,
             QStringLiteral("{\"action\":\"ai_prompt\",\"label\":\" Ask \",\"target\":\" Why?\\t\"}"));
    QCOMPARE(button->actionButton()->text(), QStringLiteral(" Ask "));
}

void TestButtonColumns::childrenAreDealtOutByPlace()
{
    const FNPage page = m_device->addPage(m_account.workspaceId, QStringLiteral("Deal"));
    const FNBlock columns = addColumns(page.localID, R"({"count":2})");
    // Stored out of order: their positions decide.
    for (const int p : {3, 0, 4, 1, 2})
        addChild(columns, QStringLiteral("c%1").arg(p), p);
    auto *view = openPage<ColumnsBlockView>(*m_device, page.localID, columns.localID);
    QVERIFY(view);
    QTRY_COMPARE(columnTexts(*view), (QList<QStringList>{{"c0", "c2", "c4"}, {"c1", "c3"}}));
    QCOMPARE(view->headerLabel()->text(), QStringLiteral("2 columns"));

    // The user picks three: the children stay as they are and are dealt out again.
    const std::vector<FNBlock> before = m_device->liveBlocks(page.localID);
    QComboBox *picker = view->countPicker();
    picker->setFocus();
    QTest::keyClick(picker, Qt::Key_Down);
    QCOMPARE(BlockContent::decode(m_device->block(columns.localID)->contentJSON).at(QStringLiteral("count")),
             JSONValue(3));
    QTRY_COMPARE(columnTexts(*view), (QList<QStringList>{{"c0", "c3"}, {"c1", "c4"}, {"c2"}}));
    QCOMPARE(view->headerLabel()->text(), QStringLiteral("3 columns"));
    // The cells share the row evenly; only the first has the add button.
    for (QWidget *cell : view->cells()) {
        QVERIFY(qAbs(cell->width() - view->cells().first()->width()) <= 1);
        QVERIFY(cell->height() >= ColumnsBlockView::kMinCellHeight);
        QCOMPARE(cell->findChildren<QPushButton *>().size(), cell == view->cells().first() ? 1 : 0);
    }
    const std::vector<FNBlock> after = m_device->liveBlocks(page.localID);
    QCOMPARE(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        QCOMPARE(after[i].localID, before[i].localID);
        QCOMPARE(after[i].position, before[i].position);
        QCOMPARE(after[i].parentBlockLocalID, before[i].parentBlockLocalID);
    }
}

void TestButtonColumns::addButtonAddsANestedBlockThatSyncs()
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

    auto *view = openPage<ColumnsBlockView>(*m_device, page.localID, columns.localID);
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
    QVERIFY(added.position >= 4 + 1024 && added.position < 4 + 1024 + 512); // a gap past the last child

    // The page's flush queues it; a cycle takes it to the service under the columns block.
    const qint64 pageServerID = m_device->page(page.localID)->serverID;
    const auto onService = [&] {
        for (const auto &b : m_fake.storedBlocks(pageServerID)) {
            if (b.clientId == added.localID)
                return b.parentBlockId == columnsServerID && b.position == added.position &&
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
    auto *there = openPage<ColumnsBlockView>(other, pulled->localID, columnsThere->localID);
    QVERIFY(there);
    QTRY_COMPARE(columnTexts(*there), (QList<QStringList>{{"left"}, {"middle"}, {"right"}}));
    m_view.reset();
    other.engine().stopLoop();
    QTRY_VERIFY(!other.engine().isSyncing());
}

QTEST_MAIN(TestButtonColumns)
#include "tst_button_columns.moc"
