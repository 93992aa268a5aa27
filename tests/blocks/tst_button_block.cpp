#include "blocks/block_content.h"
#include "blocks/button_block.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "platform/app_events.h"
#include "platform/recording_url_opener.h"
#include "support/editor_steps.h"
#include "support/test_device.h"
#include "ui/toast_center.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <memory>

// The button block inside the page editor: what it shows, what a press does, and its editor.
class TestButtonBlock : public QObject
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
    void askAIPostsThePromptAsTyped();
    void cancelledEditIsNotShownOnReopening();
    void saveStoresTheThreeValuesAsTyped();

private:
    // A page holding one button block with this content, open in a page editor.
    ButtonBlockView *openButton(const QString &contentJSON);

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    ToastCenter m_toasts;
    std::unique_ptr<RecordingUrlOpener> m_opener;
    std::unique_ptr<PageView> m_view;
    QString m_blockID;
};

void TestButtonBlock::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount(QStringLiteral("button@example.com"), "secret12", QStringLiteral("Bo"));
}

void TestButtonBlock::init()
{
    m_device = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
    m_toasts.dismiss();
    m_opener = std::make_unique<RecordingUrlOpener>();
}

void TestButtonBlock::cleanup()
{
    m_view.reset();
    m_device.reset();
}

ButtonBlockView *TestButtonBlock::openButton(const QString &contentJSON)
{
    const FNPage page = m_device->addPage(m_account.workspaceId, QStringLiteral("Buttons"));
    FNBlock block;
    block.pageLocalID = page.localID;
    block.type = QStringLiteral("button");
    block.contentJSON = contentJSON;
    m_device->store().upsertBlock(block);
    m_blockID = block.localID;

    AppContext context = m_device->context();
    context.toasts = &m_toasts;
    context.urlOpener = m_opener.get();
    m_view = std::make_unique<PageView>(context, page.localID, nullptr, EditorSteps::fastTiming());
    m_view->resize(700, 500);
    m_view->show();
    QApplication::setActiveWindow(m_view.get());
    if (!QTest::qWaitForWindowActive(m_view.get()))
        return nullptr;
    if (!QTest::qWaitFor([&] { return m_view->row(m_blockID) != nullptr; }))
        return nullptr;
    return qobject_cast<ButtonBlockView *>(m_view->row(m_blockID)->kindView());
}

void TestButtonBlock::showsLabelAndNeedsATarget_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("new block") << "{\"text\":\"\"}"
                               << "Click me" << false;
    QTest::newRow("open URL without an address") << R"({"label":"Docs","action":"open_url","target":""})"
                                                 << "Docs" << false;
    QTest::newRow("ask AI without a prompt") << R"({"label":"Ask","action":"ai_prompt"})"
                                             << "Ask" << false;
    QTest::newRow("ask AI with a prompt of one space")
        << R"({"label":"Ask","action":"ai_prompt","target":" "})"
        << "Ask" << true;
    QTest::newRow("nothing needs nothing") << R"({"label":"Idle","action":"nothing"})"
                                           << "Idle" << true;
    QTest::newRow("another app's action") << R"({"action":"shout"})"
                                          << "Click me" << true;
    QTest::newRow("empty label") << "{\"label\":\"\",\"target\":\"https://a.org\"}"
                                 << "Click me" << true;
    QTest::newRow("label of another JSON type") << "{\"label\":7,\"target\":\"https://a.org\"}"
                                                << "Click me" << true;
}

void TestButtonBlock::showsLabelAndNeedsATarget()
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

void TestButtonBlock::pressOpensOnlyWebAndMailAddresses_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("opened"); // empty: the toast shows instead

    QTest::newRow("web address") << "https://example.com/x?a=1"
                                 << "https://example.com/x?a=1";
    QTest::newRow("mail address") << "mailto:ann@example.com"
                                  << "mailto:ann@example.com";
    QTest::newRow("host without a scheme") << "example.com/x"
                                           << "";
    QTest::newRow("words") << "open the docs"
                           << "";
    QTest::newRow("local file") << "file:///etc/passwd"
                                << "";
    QTest::newRow("script") << "javascript:alert(1)"
                            << "";
    QTest::newRow("an app's own scheme") << "steam://run/10"
                                         << "";
    QTest::newRow("web address without a host") << "https:///etc/passwd"
                                                << "";
}

void TestButtonBlock::pressOpensOnlyWebAndMailAddresses()
{
    QFETCH(QString, target);
    QFETCH(QString, opened);

    JSONObject content{{QStringLiteral("label"), QStringLiteral("Go")},
                       {QStringLiteral("action"), QStringLiteral("open_url")},
                       {QStringLiteral("target"), target}};
    ButtonBlockView *button = openButton(*BlockContent::encode(content));
    QVERIFY(button);
    QTest::mouseClick(button->actionButton(), Qt::LeftButton);

    if (opened.isEmpty()) {
        QVERIFY(m_opener->opened().isEmpty());
        QVERIFY(m_toasts.current());
        QCOMPARE(m_toasts.current()->message, QStringLiteral("This button's URL is invalid."));
        QVERIFY(!m_toasts.current()->actionLabel);
    } else {
        QCOMPARE(m_opener->opened(), QList<QUrl>{QUrl(opened)});
        QVERIFY(!m_toasts.current());
    }
}

void TestButtonBlock::askAIPostsThePromptAsTyped()
{
    ButtonBlockView *button = openButton(R"({"label":"Ask","action":"ai_prompt","target":" Why?\n"})");
    QVERIFY(button);
    QSignalSpy posted(&m_device->events(), &AppEvents::runAIPrompt);
    QTest::mouseClick(button->actionButton(), Qt::LeftButton);
    QCOMPARE(posted.size(), 1);
    QCOMPARE(posted.first().first().toString(), QStringLiteral(" Why?\n"));
    QVERIFY(m_opener->opened().isEmpty());
    // The page opens its AI panel with that question.
    QVERIFY(m_view->model().showAI());
    QCOMPARE(m_view->model().aiSeedPrompt(), std::optional<QString>(QStringLiteral(" Why?\n")));
}

void TestButtonBlock::cancelledEditIsNotShownOnReopening()
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
}

void TestButtonBlock::saveStoresTheThreeValuesAsTyped()
{
    ButtonBlockView *button = openButton(QStringLiteral("{\"text\":\"\",\"keep\":1}"));
    QVERIFY(button);
    QTest::mouseClick(button->editButton(), Qt::LeftButton);
    QCOMPARE(button->actionPicker()->currentText(), QStringLiteral("Open URL"));
    button->labelField()->setText(QStringLiteral(" Ask "));
    button->actionPicker()->setCurrentIndex(1);
    Q_EMIT button->actionPicker()->activated(1);
    button->targetField()->setText(QStringLiteral(" Summarise\t"));
    QTest::mouseClick(button->saveButton(), Qt::LeftButton);

    QVERIFY(!button->isEditing());
    const JSONObject stored = BlockContent::decode(m_device->block(m_blockID)->contentJSON);
    QCOMPARE(stored.at(QStringLiteral("label")).toString(), QStringLiteral(" Ask "));
    QCOMPARE(stored.at(QStringLiteral("action")).toString(), QStringLiteral("ai_prompt"));
    QCOMPARE(stored.at(QStringLiteral("target")).toString(), QStringLiteral(" Summarise\t"));
    QCOMPARE(stored.at(QStringLiteral("keep")).toInt(), 1);
    QCOMPARE(button->actionButton()->text(), QStringLiteral(" Ask "));
    QVERIFY(button->actionButton()->isEnabled());
}

QTEST_MAIN(TestButtonBlock)
#include "tst_button_block.moc"
