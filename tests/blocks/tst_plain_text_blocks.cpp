#include "blocks/audio_block.h"
#include "blocks/block_content.h"
#include "blocks/button_block.h"
#include "blocks/database_block.h"
#include "blocks/database_table_model.h"
#include "blocks/database_table_view.h"
#include "blocks/file_block.h"
#include "blocks/mention_block.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "support/drawn_text.h"
#include "support/editor_steps.h"
#include "support/media_test_main.h"
#include "support/test_device.h"
#include "ui/toast_center.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <memory>

// Titles, names and labels people give, shown by the blocks inside the page exactly as written:
// never read as markup, never losing an "&" to a keyboard shortcut.
class TestPlainTextBlocks : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void buttonLabel_data() { DrawnText::addRows("text"); }
    void buttonLabel();
    void fileName_data() { DrawnText::addRows("text"); }
    void fileName();
    void voiceNoteName_data() { DrawnText::addRows("text"); }
    void voiceNoteName();
    void mentionResultAndChip_data() { DrawnText::addRows("text"); }
    void mentionResultAndChip();
    void databaseSelectOptions_data() { DrawnText::addRows("text"); }
    void databaseSelectOptions();

private:
    // A page holding one block of the kind, open in a page editor; the block's view.
    template <class View>
    View *openBlock(const QString &kind, const JSONObject &content);
    template <class View>
    View *openBlockOf(const FNPage &page, const QString &kind, const JSONObject &content);

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    ToastCenter m_toasts;
    std::unique_ptr<PageView> m_view;
};

void TestPlainTextBlocks::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount(QStringLiteral("plain@example.com"), "secret12", QStringLiteral("Pat"));
}

void TestPlainTextBlocks::init()
{
    m_device = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
}

void TestPlainTextBlocks::cleanup()
{
    m_view.reset();
    m_device->engine().stopLoop();
    QTRY_VERIFY(!m_device->engine().isSyncing());
    m_device.reset();
}

template <class View>
View *TestPlainTextBlocks::openBlock(const QString &kind, const JSONObject &content)
{
    return openBlockOf<View>(m_device->addPage(m_account.workspaceId, QStringLiteral("Blocks")), kind,
                             content);
}

template <class View>
View *TestPlainTextBlocks::openBlockOf(const FNPage &page, const QString &kind, const JSONObject &content)
{
    FNBlock block = m_device->addBlock(page.localID, QString(), 0);
    block.type = kind;
    block.contentJSON = BlockContent::encode(content).value_or(QStringLiteral("{}"));
    m_device->store().upsertBlock(block);
    AppContext context = m_device->context();
    context.toasts = &m_toasts;
    m_view = std::make_unique<PageView>(context, page.localID, nullptr, EditorSteps::fastTiming());
    m_view->resize(900, 600);
    m_view->show();
    QApplication::setActiveWindow(m_view.get());
    if (!QTest::qWaitForWindowActive(m_view.get()) ||
        !QTest::qWaitFor([&] { return m_view->row(block.localID) && m_view->isLaidOut(); }))
        return nullptr;
    return qobject_cast<View *>(m_view->row(block.localID)->kindView());
}

void TestPlainTextBlocks::buttonLabel()
{
    QFETCH(QString, text);
    auto *view = openBlock<ButtonBlockView>(
        QStringLiteral("button"),
        {{QStringLiteral("label"), text}, {QStringLiteral("target"), QStringLiteral("https://example.com")}});
    QVERIFY(view);
    const QString shown = view->actionButton()->text();
    QCOMPARE(DrawnText::ofMnemonicText(shown), text);
    QVERIFY(QKeySequence::mnemonic(shown).isEmpty());
}

void TestPlainTextBlocks::fileName()
{
    QFETCH(QString, text);
    auto *view = openBlock<FileBlockView>(QStringLiteral("file"),
                                          {{QStringLiteral("url"), QStringLiteral("https://files.example/a")},
                                           {QStringLiteral("filename"), text},
                                           {QStringLiteral("size"), 2048}});
    QVERIFY(view);
    QCOMPARE(DrawnText::ofLabel(view->nameLabel()), text);
}

void TestPlainTextBlocks::voiceNoteName()
{
    QFETCH(QString, text);
    // The name is the address's last part: it holds no "/".
    const QString name = QString(text).remove(u'/') + QStringLiteral(".m4a");
    const QString url =
        QStringLiteral("https://files.example/a/") + QString::fromLatin1(QUrl::toPercentEncoding(name));
    auto *view = openBlock<AudioBlockView>(QStringLiteral("audio"), {{QStringLiteral("url"), url}});
    QVERIFY(view);
    QVERIFY(view->fileNameLabel());
    QCOMPARE(DrawnText::ofLabel(view->fileNameLabel()), name);
}

void TestPlainTextBlocks::mentionResultAndChip()
{
    QFETCH(QString, text);
    FNPage target = m_device->addPage(m_account.workspaceId, text);
    target.serverID = 4711;
    target.icon = QStringLiteral("⭐");
    m_device->store().upsertPage(target);
    auto *view = openBlock<MentionBlockView>(QStringLiteral("mention"), {});
    QVERIFY(view);
    QLineEdit *field = view->searchField();
    QVERIFY(field);
    QTest::mouseClick(field, Qt::LeftButton);
    QTRY_VERIFY(field->hasFocus());
    QTest::keyClicks(field, text.left(3));
    QTRY_COMPARE(view->resultButtons().size(), 1);
    QAbstractButton *result = view->resultButtons().front();
    const QString expected = QStringLiteral("⭐ ") + text;
    QCOMPARE(DrawnText::ofMnemonicText(result->text()), expected);
    QVERIFY(QKeySequence::mnemonic(result->text()).isEmpty());

    QTest::mouseClick(result, Qt::LeftButton);
    QTRY_COMPARE(view->state(), MentionBlockView::State::Linked);
    QTRY_VERIFY(view->findChild<QLabel *>(QStringLiteral("mentionChip")));
    QCOMPARE(DrawnText::ofLabel(view->findChild<QLabel *>(QStringLiteral("mentionChip"))), expected);
}

void TestPlainTextBlocks::databaseSelectOptions()
{
    QFETCH(QString, text);
    const FNPage added = m_device->addPage(m_account.workspaceId, QStringLiteral("Plans"));
    QVERIFY(m_device->sync());
    const FNPage page = *m_device->page(added.localID);
    QVERIFY(page.serverID);
    FakeServiceState &s = m_fake.state();
    JSONObject column{{"id", "c1"}, {"name", text}, {"type", "select"}};
    column[QStringLiteral("options")] = JSONArray{JSONValue(text), JSONValue(QStringLiteral("Plain"))};
    FakeServiceState::Database database{s.nextDatabaseId++, page.serverID, QStringLiteral("Plans"),
                                        JSONArray{JSONValue(column)}, FakeService::now()};
    s.databases[database.id] = database;
    FakeServiceState::DatabaseRow row;
    row.id = s.nextDatabaseRowId++;
    row.databaseId = database.id;
    row.createdAt = row.updatedAt = FakeService::now();
    s.databaseRows[row.id] = row;

    auto *view =
        openBlockOf<DatabaseBlockView>(page, QStringLiteral("database"), {{"database_id", database.id}});
    QVERIFY(view);
    QTRY_VERIFY_WITH_TIMEOUT(
        view->table() && view->table()->isVisible() && view->tableModel().rowCount() == 1, 10000);
    const QRect cell = view->table()->visualRect(view->tableModel().index(0, 0));
    QTest::mouseClick(view->table()->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QTRY_VERIFY(view->selectMenu() && view->selectMenu()->isVisible());
    const QList<QAction *> actions = view->selectMenu()->actions();
    QCOMPARE(actions.size(), 2);
    QCOMPARE(DrawnText::ofMnemonicText(actions.front()->text()), text);
    QVERIFY(QKeySequence::mnemonic(actions.front()->text()).isEmpty());

    // Picked, the cell holds the option as written.
    QTest::mouseClick(view->selectMenu(), Qt::LeftButton, Qt::NoModifier,
                      view->selectMenu()->actionGeometry(actions.front()).center());
    QTRY_COMPARE(view->tableModel().index(0, 0).data(Qt::EditRole).toString(), text);
}

PENROOST_MEDIA_TEST_MAIN(TestPlainTextBlocks)
#include "tst_plain_text_blocks.moc"
