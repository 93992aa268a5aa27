#include "app/app_window.h"
#include "app/main_view.h"
#include "app/page_sheets.h"
#include "blocks/block_content.h"
#include "blocks/image_block.h"
#include "blocks/math_block.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "platform/quit_signals.h"
#include "store/block_fields.h"
#include "store/outbox.h"
#include "support/app_harness.h"
#include "support/test_device.h"

#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>

using namespace std::chrono_literals;

namespace {

constexpr int kWait = 20000;
const QString kPassword = QStringLiteral("secret12");

// The block kinds the page holds, in this order, with what they hold at first.
const QString kText = QStringLiteral("Budget is 100");
const QString kLatex = QStringLiteral("x^2");
const QString kCaption = QStringLiteral("Our office");

QString contentString(const FNBlock *block, const QString &key)
{
    return block ? BlockContent::readString(BlockContent::decode(block->contentJSON), key)
                 : QStringLiteral("<no block>");
}

// The kind's key for each row of the page.
QString keyOf(int index)
{
    return index == 0   ? QStringLiteral("text")
           : index == 1 ? QStringLiteral("latex")
                        : QStringLiteral("caption");
}

} // namespace

// One account on two devices: the second edits the page on the service (as another computer would),
// while the first has it open in its window, the keyboard in one of its blocks. And the first's
// typing of the last moment when it quits.
class TestOpenPageEdits : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void anotherDevicesEditShowsWhereTheKeyboardIs_data();
    void anotherDevicesEditShowsWhereTheKeyboardIs();
    void typingJustBeforeQuittingIsKept_data();
    void typingJustBeforeQuittingIsKept();

private:
    // The page with a text, a math and an image block, made on the second device and pulled by the
    // first, whose window then shows it.
    bool openSharedPage();
    // The field of the row at `index` that the user types in.
    QWidget *fieldOf(int index) const;
    QString fieldText(int index) const;
    int fieldCaret(int index) const;
    // The second device stores `value` under the block's key and sends it to the service.
    bool editOnTheOtherDevice(int index, const QString &value);
    MainView *mainView() const;

    FakeService m_fake;
    FakeService::Account m_account;
    int m_accounts = 0;
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<AppWindow> m_window;
    std::unique_ptr<TestDevice> m_other;
    QString m_otherPage;
    QStringList m_otherBlocks;
    QStringList m_blocks; // the same blocks on the first device
};

void TestOpenPageEdits::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestOpenPageEdits::init()
{
    const QString email = QStringLiteral("edits%1@example.com").arg(++m_accounts);
    m_account = m_fake.createAccount(email, kPassword, QStringLiteral("Ed Its"));
    QVERIFY(m_account.userId != 0);
    m_device = std::make_unique<AppDevice>(m_fake.origin());
    m_app = std::make_unique<AppHarness>(*m_device);
    m_app->signInReturning(m_account.token, AuthUser{m_account.userId, QStringLiteral("Ed Its"), email});
    m_app->engine.setTickInterval(100ms);
    m_other = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
    m_blocks.clear();
    m_otherBlocks.clear();
}

void TestOpenPageEdits::cleanup()
{
    m_window.reset();
    m_app->engine.stopLoop();
    QTRY_VERIFY_WITH_TIMEOUT(!m_app->engine.isSyncing(), kWait);
    m_app.reset();
    m_device.reset();
    m_other.reset();
}

MainView *TestOpenPageEdits::mainView() const
{
    return m_window ? qobject_cast<MainView *>(m_window->rootView()->currentScreen()) : nullptr;
}

bool TestOpenPageEdits::openSharedPage()
{
    TestDevice &other = *m_other;
    const FNPage page = other.addPage(m_account.workspaceId, QStringLiteral("Budget"));
    m_otherPage = page.localID;
    if (!other.sync())
        return false;
    m_otherBlocks << other.addBlock(page.localID, kText, 0).localID;
    for (const auto &[type, content] :
         {std::pair{QStringLiteral("math"), JSONObject{{"latex", kLatex}}},
          std::pair{QStringLiteral("image"),
                    JSONObject{{"url", m_fake.origin() + QStringLiteral("/uploads/none.png")},
                               {"caption", kCaption}}}}) {
        FNBlock block = other.addBlock(page.localID, QString(), qint64(m_otherBlocks.size()));
        other.store().editBlock(block.localID, [&, type = type, content = content](FNBlock &b) {
            b.type = type;
            b.contentJSON = *BlockContent::encode(content);
        });
        m_otherBlocks << block.localID;
    }
    if (!other.queueBlockUpsert(page.localID) || !other.sync())
        return false;
    qint64 pageServerID = other.page(page.localID)->serverID;

    MainView::Parts parts; // as main() plugs them in
    parts.sheet = makePageSheet;
    m_window = std::make_unique<AppWindow>(m_app->context(),
                                           [parts](const AppContext &c) { return new MainView(c, parts); });
    m_window->resize(1100, 800);
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get()))
        return false;
    m_window->activateWindow();
    QApplication::setActiveWindow(m_window.get());
    // The first device's sync brings the page and its blocks.
    const FNPage *pulled = nullptr;
    const bool arrived = QTest::qWaitFor(
        [&] {
            pulled = m_app->store.pageWithServerID(pageServerID);
            if (!pulled)
                return false;
            m_blocks.clear();
            for (const QString &id : m_otherBlocks) {
                const FNBlock *theirs = other.block(id);
                for (const FNBlock *mine : m_app->store.blocksOfPage(pulled->localID)) {
                    if (mine->serverID == theirs->serverID && !mine->deletedAt)
                        m_blocks << mine->localID;
                }
            }
            return m_blocks.size() == m_otherBlocks.size();
        },
        kWait);
    if (!arrived || !mainView())
        return false;
    mainView()->setSelectedPage(pulled->localID);
    auto *view = qobject_cast<PageView *>(mainView()->detail());
    return view && QTest::qWaitFor([&] { return view->isLaidOut() && fieldOf(2); }, kWait);
}

QWidget *TestOpenPageEdits::fieldOf(int index) const
{
    auto *view = mainView() ? qobject_cast<PageView *>(mainView()->detail()) : nullptr;
    BlockRow *row = view && index < m_blocks.size() ? view->row(m_blocks[index]) : nullptr;
    if (!row)
        return nullptr;
    if (index == 0)
        return row->richEditor();
    if (index == 1) {
        auto *math = qobject_cast<MathBlockView *>(row->kindView());
        return math ? math->sourceField() : nullptr;
    }
    auto *image = qobject_cast<ImageBlockView *>(row->kindView());
    return image ? image->captionField() : nullptr;
}

QString TestOpenPageEdits::fieldText(int index) const
{
    QWidget *field = fieldOf(index);
    if (auto *rich = qobject_cast<RichTextEditor *>(field))
        return rich->toRawText();
    if (auto *plain = qobject_cast<QPlainTextEdit *>(field))
        return plain->toPlainText();
    return QStringLiteral("<no field>");
}

int TestOpenPageEdits::fieldCaret(int index) const
{
    QWidget *field = fieldOf(index);
    if (auto *rich = qobject_cast<QTextEdit *>(field))
        return rich->textCursor().position();
    if (auto *plain = qobject_cast<QPlainTextEdit *>(field))
        return plain->textCursor().position();
    return -1;
}

bool TestOpenPageEdits::editOnTheOtherDevice(int index, const QString &value)
{
    TestDevice &other = *m_other;
    const QString id = m_otherBlocks[index];
    other.store().editBlock(id, [&](FNBlock &b) {
        JSONObject content = BlockContent::decode(b.contentJSON);
        content[keyOf(index)] = value;
        b.contentJSON = *BlockContent::encode(content);
    });
    Outbox::of(other.store()).blockEdited(m_otherPage, id, BlockFields::Content);
    return other.queueBlockUpsert(m_otherPage) && other.sync();
}

void TestOpenPageEdits::anotherDevicesEditShowsWhereTheKeyboardIs_data()
{
    QTest::addColumn<int>("block");
    QTest::addColumn<QString>("theirs");
    QTest::addColumn<bool>("typeFirst");
    QTest::addColumn<QString>("expected");
    const QString approved = QStringLiteral("Budget is 250 (approved by finance)");
    // The caret stands after the third character.
    QTest::newRow("text row, nothing typed")
        << 0 << approved << false << "Bud!get is 250 (approved by finance)";
    QTest::newRow("text row, shorter text") << 0 << "Bu" << false << "Bu!";
    QTest::newRow("math, nothing typed") << 1 << "e^{i\\pi}" << false << "e^{!i\\pi}";
    QTest::newRow("caption, nothing typed") << 2 << "The new office" << false << "The! new office";
    // What the user typed and the page has not stored yet is newer: it goes out over theirs.
    QTest::newRow("text row, typed first") << 0 << approved << true << "Bud!get is 100";
    QTest::newRow("math, typed first") << 1 << "e^{i\\pi}" << true << "x^2!";
}

void TestOpenPageEdits::anotherDevicesEditShowsWhereTheKeyboardIs()
{
    QFETCH(int, block);
    QFETCH(QString, theirs);
    QFETCH(bool, typeFirst);
    QFETCH(QString, expected);
    QVERIFY(openSharedPage());
    QWidget *field = fieldOf(block);
    QVERIFY(field);
    QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(field->width() - 4, 8));
    QTRY_VERIFY(field->hasFocus());
    QTest::keyClick(field, Qt::Key_Home, Qt::ControlModifier);
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(field, Qt::Key_Right);
    if (typeFirst)
        QTest::keyClicks(field, QStringLiteral("!"));

    QVERIFY(editOnTheOtherDevice(block, theirs));
    if (!typeFirst) {
        // Shown as soon as this device has pulled it, the keyboard and the caret where they were.
        QTRY_COMPARE_WITH_TIMEOUT(fieldText(block), theirs, kWait);
        QCOMPARE(fieldOf(block), field);
        QVERIFY(field->hasFocus());
        QCOMPARE(fieldCaret(block), std::min(3, int(theirs.size())));
        QTest::keyClicks(field, QStringLiteral("!"));
    }

    // Both devices and the service end with the same text.
    QTRY_COMPARE_WITH_TIMEOUT(fieldText(block), expected, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(
        (m_other->sync(), contentString(m_other->block(m_otherBlocks[block]), keyOf(block))), expected,
        kWait);
    QCOMPARE(contentString(m_app->store.block(m_blocks[block]), keyOf(block)), expected);
}

void TestOpenPageEdits::typingJustBeforeQuittingIsKept_data()
{
    QTest::addColumn<int>("block");
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("sheet"); // in front of the window when the command comes
    for (const QString &how : {QStringLiteral("Quit (Ctrl+Q)"), QStringLiteral("Close Window (Ctrl+W)"),
                               QStringLiteral("quit signal")}) {
        QTest::addRow("text row, %s", qPrintable(how)) << 0 << how << QString();
        QTest::addRow("math, %s", qPrintable(how)) << 1 << how << QString();
        QTest::addRow("caption, %s", qPrintable(how)) << 2 << how << QString();
    }
    for (const QString &sheet : {QStringLiteral("share"), QStringLiteral("quick switcher")}) {
        QTest::addRow("text row, Quit (Ctrl+Q) from the %s", qPrintable(sheet))
            << 0 << "Quit (Ctrl+Q)" << sheet;
        QTest::addRow("caption, Quit (Ctrl+Q) from the %s", qPrintable(sheet))
            << 2 << "Quit (Ctrl+Q)" << sheet;
    }
}

// Typed less than a pause before the app ends: the next launch finds it stored and queued for the
// service.
void TestOpenPageEdits::typingJustBeforeQuittingIsKept()
{
    QFETCH(int, block);
    QFETCH(QString, how);
    QFETCH(QString, sheet);
    QVERIFY(openSharedPage());
    // From here on nothing is sent: the queued operation must be found in the saved outbox.
    m_app->engine.stopLoop();
    m_app->engine.setQueueDelay(24h);
    QTRY_VERIFY_WITH_TIMEOUT(!m_app->engine.isSyncing(), kWait);
    QWidget *field = fieldOf(block);
    QVERIFY(field);
    QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(field->width() - 4, 8));
    QTRY_VERIFY(field->hasFocus());
    QTest::keyClick(field, Qt::Key_End, Qt::ControlModifier);
    const QString before = fieldText(block);
    QTest::keyClicks(field, QStringLiteral(" final"));
    const QString typed = before + QStringLiteral(" final");
    if (!sheet.isEmpty()) {
        if (sheet == QLatin1String("share"))
            QTest::mouseClick(qobject_cast<PageView *>(mainView()->detail())->shareButton(), Qt::LeftButton);
        else
            m_window->menuActions().at(1)->trigger();
        // The keys in the sheet, which blocks the window behind it.
        QTRY_VERIFY_WITH_TIMEOUT(QGuiApplication::modalWindow() && QApplication::focusWidget() &&
                                     QApplication::focusWidget()->window() != m_window.get(),
                                 kWait);
    }

    QuitSignals quitSignals;
    // As the app's entry wires it.
    connect(&quitSignals, &QuitSignals::received, m_window.get(), [this] {
        m_window->quit();
        QCoreApplication::quit();
    });
    quitSignals.start();
    QTimer::singleShot(0, this, [how, sheet] {
        // Into a sheet through its field: the sheet's window goes with the app while the key's
        // release would still be on its way to it.
        QWidget *keys = sheet.isEmpty() ? nullptr : QApplication::focusWidget();
        if (how == QLatin1String("quit signal"))
            std::raise(SIGTERM);
        else
            QTest::keyClick(keys, how.startsWith(QLatin1String("Quit")) ? Qt::Key_Q : Qt::Key_W,
                            Qt::ControlModifier);
    });
    // The application's own loop, ended by the command alone (else by the guard, with 99).
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [] { QCoreApplication::exit(99); });
    guard.start(kWait);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!m_window->isVisible());

    // What the next launch reads from disk, while this launch's objects still live.
    LocalStore relaunched(m_device->storeFolder());
    QCOMPARE(contentString(relaunched.block(m_blocks[block]), keyOf(block)), typed);
    bool queued = false;
    for (const FNSyncOp &op : relaunched.state().outbox) {
        if (op.entity == QLatin1String("block") && op.op == QLatin1String("upsert") &&
            op.payloadJSON.contains(m_blocks[block]) && op.payloadJSON.contains(QStringLiteral(" final")))
            queued = true;
    }
    QVERIFY2(queued, "no block upsert carries the edit");
}

QTEST_MAIN(TestOpenPageEdits)
#include "tst_open_page_edits.moc"
