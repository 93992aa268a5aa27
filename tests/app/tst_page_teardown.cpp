#include "app/app_window.h"
#include "app/main_view.h"
#include "editor/block_row.h"
#include "editor/comment_button.h"
#include "editor/format_toolbar.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "library/library_view.h"
#include "platform/preset_confirmer.h"
#include "support/app_harness.h"
#include "support/test_device.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

namespace {

constexpr int kWait = 20000;
const QString kPassword = QStringLiteral("secret12");
const QString kText = QStringLiteral("p q");

} // namespace

// A page goes while the user is in a line with an empty format pair held, the format toolbar over
// the line and the row's comment button beside it: nothing of the page, its rows or the window runs
// on what is being destroyed (the sanitized build stops at the first such call), and what the page
// held is kept.
class TestPageTeardown : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void pageGoesWithAPairHeld_data();
    void pageGoesWithAPairHeld();

private:
    // The window showing a page whose text block another device made on the service, and a second page.
    bool openPage();
    MainView *mainView() const;
    PageView *pageView() const;
    QString storedText() const;

    FakeService m_fake;
    FakeService::Account m_account;
    FakeService::Account m_otherAccount; // owns the second workspace the user may switch to
    int m_accounts = 0;
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<AppWindow> m_window;
    std::unique_ptr<PresetConfirmer> m_confirmer;
    QString m_page;
    QString m_otherPage;
    QString m_block;
};

void TestPageTeardown::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestPageTeardown::init()
{
    ++m_accounts;
    const QString email = QStringLiteral("leaving%1@example.com").arg(m_accounts);
    m_account = m_fake.createAccount(email, kPassword, QStringLiteral("Lea Ving"));
    m_otherAccount = m_fake.createAccount(QStringLiteral("host%1@example.com").arg(m_accounts), kPassword,
                                          QStringLiteral("Host"));
    QVERIFY(m_account.userId != 0 && m_otherAccount.userId != 0);
    m_fake.state().workspaces[m_otherAccount.workspaceId].name = QStringLiteral("Shared");
    m_fake.state().memberships.push_back(
        {m_otherAccount.workspaceId, m_account.userId, QStringLiteral("editor"), FakeService::now()});
    m_device = std::make_unique<AppDevice>(m_fake.origin());
    m_app = std::make_unique<AppHarness>(*m_device);
    m_app->signInReturning(m_account.token, AuthUser{m_account.userId, QStringLiteral("Lea Ving"), email});
    m_app->engine.setTickInterval(100ms);
    m_confirmer = std::make_unique<PresetConfirmer>(true);
}

void TestPageTeardown::cleanup()
{
    m_window.reset();
    m_app->engine.stopLoop();
    QTRY_VERIFY_WITH_TIMEOUT(!m_app->engine.isSyncing(), kWait);
    m_app.reset();
    m_device.reset();
}

MainView *TestPageTeardown::mainView() const
{
    return m_window ? qobject_cast<MainView *>(m_window->rootView()->currentScreen()) : nullptr;
}

PageView *TestPageTeardown::pageView() const
{
    return mainView() ? qobject_cast<PageView *>(mainView()->detail()) : nullptr;
}

QString TestPageTeardown::storedText() const
{
    const FNBlock *block = m_app->store.block(m_block);
    return block ? TestDevice::textOf(*block) : QStringLiteral("<no block>");
}

bool TestPageTeardown::openPage()
{
    TestDevice other(m_fake.origin(), m_account.token);
    const FNPage page = other.addPage(m_account.workspaceId, QStringLiteral("Notes"));
    const FNPage second = other.addPage(m_account.workspaceId, QStringLiteral("Other notes"));
    if (!other.sync())
        return false;
    const FNBlock block = other.addBlock(page.localID, kText, 0);
    if (!other.queueBlockUpsert(page.localID) || !other.sync())
        return false;
    const qint64 pageServerID = other.page(page.localID)->serverID;
    const qint64 secondServerID = other.page(second.localID)->serverID;
    const qint64 blockServerID = other.block(block.localID)->serverID;

    m_window = std::make_unique<AppWindow>(m_app->context(), [this](const AppContext &context) {
        auto *view = new MainView(context);
        view->setConfirmer(m_confirmer.get());
        view->setLogoutWait(2s);
        return view;
    });
    m_window->resize(1100, 800);
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get()))
        return false;
    m_window->activateWindow();
    QApplication::setActiveWindow(m_window.get());
    const bool pulled = QTest::qWaitFor(
        [&] {
            const FNPage *mine = m_app->store.pageWithServerID(pageServerID);
            const FNPage *mySecond = m_app->store.pageWithServerID(secondServerID);
            if (!mine || !mySecond)
                return false;
            m_page = mine->localID;
            m_otherPage = mySecond->localID;
            for (const FNBlock *b : m_app->store.blocksOfPage(m_page)) {
                if (b->serverID == blockServerID)
                    m_block = b->localID;
            }
            return !m_block.isEmpty();
        },
        kWait);
    if (!pulled || !mainView())
        return false;
    Q_EMIT mainView()->sidebar()->pageSelected(m_page);
    return pageView() &&
           QTest::qWaitFor([&] { return pageView()->isLaidOut() && pageView()->row(m_block); }, kWait);
}

void TestPageTeardown::pageGoesWithAPairHeld_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("pair"); // else the caret alone stands in the line
    QTest::newRow("log out from the account menu") << "log out" << true;
    QTest::newRow("log out from the account menu, no pair") << "log out" << false;
    QTest::newRow("close the window (Ctrl+W)") << "close" << true;
    QTest::newRow("switch workspace in the sidebar") << "workspace" << true;
    QTest::newRow("open another page from the sidebar") << "page" << true;
    QTest::newRow("delete the block from its menu") << "block" << true;
}

void TestPageTeardown::pageGoesWithAPairHeld()
{
    QFETCH(QString, how);
    QFETCH(bool, pair);
    QVERIFY(openPage());
    QPointer<PageView> page = pageView();
    QPointer<BlockRow> row = page->row(m_block);
    RichTextEditor *editor = row->richEditor();
    QVERIFY(editor);
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, {}, QPoint(editor->viewport()->width() - 4, 8));
    QTRY_VERIFY(editor->hasFocus());
    QTest::keyClick(editor, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(editor, Qt::Key_Right);
    QTest::keyClick(editor, Qt::Key_Right);
    if (pair) {
        QTest::keyClick(editor, Qt::Key_B, Qt::ControlModifier);
        QCOMPARE(editor->heldOpening(), QStringLiteral("**")); // waiting for its text
    }
    // The toolbar is over the line, and the comment button hands a click's keyboard to the text.
    QTRY_VERIFY(page->formatToolbar()->isVisible());
    QVERIFY(editor->hasFocus());
    QCOMPARE(row->commentButton()->focusProxy(), editor);
    QCOMPARE(page->formatToolbar()->focusProxy(), editor);

    if (how == QLatin1String("log out")) {
        QPointer<MainView> view = mainView();
        view->accountMenu()->actions().at(2)->trigger();
        QVERIFY(page.isNull()); // closed at once, before the last sync
        QTRY_COMPARE_WITH_TIMEOUT(m_window->rootView()->currentRoute(),
                                  std::optional(RootView::Route::signIn), kWait);
        QTRY_VERIFY(view.isNull());
        QTRY_COMPARE_WITH_TIMEOUT(m_fake.requestsTo(QStringLiteral("/api/auth/logout.php")).size(), 1, kWait);
        QCOMPARE(m_app->store.state(), StoreState{});
        return;
    }
    if (how == QLatin1String("close")) {
        QTest::keyClick(editor, Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!m_window->isVisible());
        // As the app's entry does once its loop ends.
        m_window.reset();
    } else if (how == QLatin1String("workspace")) {
        QMenu *menu = mainView()->sidebar()->workspaceMenu();
        Q_EMIT menu->aboutToShow();
        QAction *shared = nullptr;
        for (QAction *action : menu->actions()) {
            if (action->text() == QLatin1String("Shared"))
                shared = action;
        }
        QVERIFY(shared);
        shared->trigger();
        QVERIFY(mainView()->homeView());
    } else if (how == QLatin1String("page")) {
        Q_EMIT mainView()->sidebar()->pageSelected(m_otherPage);
        QCOMPARE(pageView()->pageLocalID(), m_otherPage);
    } else {
        QAction *remove = row->blockMenu()->actions().last();
        QCOMPARE(remove->text(), QStringLiteral("Delete block"));
        remove->trigger();
        QTRY_VERIFY(row.isNull());
        QVERIFY(page);
        QVERIFY(m_app->store.block(m_block)->deletedAt);
        QTRY_VERIFY(!page->formatToolbar()->isVisible());
        return;
    }
    QTRY_VERIFY(page.isNull());
    // What the page showed is what the next launch finds, with no stray marker.
    QCOMPARE(storedText().remove(QStringLiteral("****")), kText);
}

QTEST_MAIN(TestPageTeardown)
#include "tst_page_teardown.moc"
