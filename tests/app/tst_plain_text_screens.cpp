#include "app/app_window.h"
#include "app/home_view.h"
#include "app/main_view.h"
#include "app/page_panels.h"
#include "app/page_sheets.h"
#include "app/quick_switcher.h"
#include "collab/publish_sheet.h"
#include "collab/share_sheet.h"
#include "collab/share_sheet_model.h"
#include "collab/version_history_sheet.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "library/library_view.h"
#include "platform/icon_theme.h"
#include "platform/preset_confirmer.h"
#include "support/collab_steps.h"
#include "support/app_harness.h"
#include "support/drawn_text.h"
#include "ui/toast_overlay.h"

#include <QApplication>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <functional>
#include <memory>

using namespace std::chrono_literals;

namespace {

constexpr int kWait = 10000;

// What the labels under `root` draw, shown or not.
QStringList drawnLabels(const QWidget *root)
{
    QStringList out;
    for (const QLabel *label : root->findChildren<QLabel *>())
        out << DrawnText::ofLabel(label);
    return out;
}

bool anyHolds(const QStringList &drawn, const QString &text)
{
    for (const QString &d : drawn) {
        if (d.contains(text))
            return true;
    }
    return false;
}

QByteArray errorBody(const QString &message)
{
    return serializeJSONObject({{"error", message}});
}

} // namespace

// Titles, names, options and the service's words fed with markup and "&" through the window's
// screens where users meet them: each is drawn exactly as it was given.
class TestPlainTextScreens : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void shareSheetTitleAndPeople_data() { DrawnText::addRows("text"); }
    void shareSheetTitleAndPeople();
    void historyAuthorErrorAndToast_data() { DrawnText::addRows("text"); }
    void historyAuthorErrorAndToast();
    void publishError_data() { DrawnText::addRows("text"); }
    void publishError();
    void toastMessageAndAction_data() { DrawnText::addRows("text"); }
    void toastMessageAndAction();
    void suggestionAndComment_data() { DrawnText::addRows("text"); }
    void suggestionAndComment();
    void switcherHomeAndSidebar_data() { DrawnText::addRows("text"); }
    void switcherHomeAndSidebar();
    void historyDateAndPageIcon_data() { DrawnText::addRows("text"); }
    void historyDateAndPageIcon();

private:
    // The window of a new user with the name, signed in, on its main screen; `before` runs once the
    // account is there, before the app starts.
    bool openWindow(const QString &userName, const std::function<void()> &before = {});
    MainView *mainView() const { return qobject_cast<MainView *>(m_window->rootView()->currentScreen()); }
    PageView *pageView() const
    {
        return mainView() ? qobject_cast<PageView *>(mainView()->detail()) : nullptr;
    }
    // A page with the title, open once the service holds it.
    bool openPage(const QString &title);
    template <class Sheet>
    Sheet *openSheet(QToolButton *button);

    FakeService m_fake;
    FakeService::Account m_account;
    int m_accounts = 0;
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<AppWindow> m_window;
    qint64 m_pageID = 0;
};

void TestPlainTextScreens::initTestCase()
{
    IconTheme::installFallback();
    QVERIFY(m_fake.start());
}

void TestPlainTextScreens::init()
{
    m_fake.clearFaults();
    m_pageID = 0;
}

void TestPlainTextScreens::cleanup()
{
    m_window.reset();
    if (m_app) {
        QTRY_VERIFY(!m_app->engine.isSyncing());
        m_app->engine.stopLoop();
    }
    m_app.reset();
    m_device.reset();
}

bool TestPlainTextScreens::openWindow(const QString &userName, const std::function<void()> &before)
{
    const QString email = QStringLiteral("plain%1@example.com").arg(++m_accounts);
    m_account = m_fake.createAccount(email, QStringLiteral("secret12"), userName);
    if (before)
        before();
    m_device = std::make_unique<AppDevice>(m_fake.origin());
    m_app = std::make_unique<AppHarness>(*m_device);
    m_app->engine.setTickInterval(100ms);
    m_app->session.signIn(m_account.token, AuthUser{m_account.userId, userName, email});
    MainView::Parts parts;
    parts.panel = makePagePanel;
    parts.sheet = makePageSheet;
    m_window = std::make_unique<AppWindow>(m_app->context(),
                                           [parts](const AppContext &c) { return new MainView(c, parts); });
    m_window->resize(1400, 900);
    m_window->show();
    QApplication::setActiveWindow(m_window.get());
    return QTest::qWaitForWindowActive(m_window.get()) && QTest::qWaitFor([&] { return mainView(); }, kWait);
}

bool TestPlainTextScreens::openPage(const QString &title)
{
    FNWorkspace workspace;
    workspace.serverID = m_account.workspaceId;
    m_app->store.setWorkspaces({workspace});
    FNPage page;
    page.title = title;
    page.workspaceServerID = m_account.workspaceId;
    m_app->queuePageCreate(page);
    mainView()->openPage(page.localID);
    if (!QTest::qWaitFor([&] { return m_app->storedPage(page.localID).serverID != 0 && pageView(); }, kWait))
        return false;
    m_pageID = m_app->storedPage(page.localID).serverID;
    return true;
}

template <class Sheet>
Sheet *TestPlainTextScreens::openSheet(QToolButton *button)
{
    return journey::openSheetBy<Sheet>(button, mainView(), kWait);
}

void TestPlainTextScreens::shareSheetTitleAndPeople()
{
    QFETCH(QString, text);
    QVERIFY(openWindow(QStringLiteral("Sheila")));
    const QString bobEmail = QStringLiteral("bob%1@example.com").arg(m_accounts);
    m_fake.createAccount(bobEmail, QStringLiteral("secret12"), text);
    QVERIFY(openPage(text));
    auto *sheet = openSheet<ShareSheet>(pageView()->shareButton());
    QVERIFY(sheet);
    // The one-line header holds the whole title.
    QVERIFY(drawnLabels(sheet).contains(ShareSheetModel::title(text)));

    QTest::keyClicks(sheet->emailField(), bobEmail);
    QTest::mouseClick(sheet->sendButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(drawnLabels(sheet->peopleList()).contains(bobEmail), kWait);
    QVERIFY(drawnLabels(sheet->peopleList()).contains(text));

    // The service's refusal, in its own words.
    const QString refusal = QStringLiteral("Refused: ") + text;
    m_fake.setFault(QStringLiteral("/api/share.php"), once(FakeService::Fault::http(400, errorBody(refusal))));
    QTest::keyClicks(sheet->emailField(), QStringLiteral("carol%1@example.com").arg(m_accounts));
    QTest::mouseClick(sheet->sendButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(drawnLabels(sheet).contains(refusal), kWait);
}

void TestPlainTextScreens::historyAuthorErrorAndToast()
{
    QFETCH(QString, text);
    QVERIFY(openWindow(text));
    QVERIFY(openPage(QStringLiteral("Diary")));
    FakeServiceState::Version version;
    version.id = 100000 + m_accounts;
    version.pageId = m_pageID;
    version.userId = m_account.userId;
    version.createdAt = FakeService::now();
    version.snapshot = {{"title", "Diary"}, {"icon", ""}, {"blocks", JSONArray{}}};
    m_fake.state().versions[version.id] = version;

    // A list the service would not give: its words.
    m_fake.setFault(QStringLiteral("/api/versions.php"),
                    once(FakeService::Fault::http(500, errorBody(text))));
    auto *sheet = openSheet<VersionHistorySheet>(pageView()->historyButton());
    QVERIFY(sheet);
    QTRY_VERIFY_WITH_TIMEOUT(anyHolds(drawnLabels(sheet), text), kWait);
    QPointer<VersionHistorySheet> open(sheet);
    QTest::keyClick(sheet, Qt::Key_Escape);
    QTRY_VERIFY(open.isNull());

    // The author of a version, then a restore the service refuses, in a toast.
    sheet = openSheet<VersionHistorySheet>(pageView()->historyButton());
    QVERIFY(sheet);
    PresetConfirmer confirmer(true);
    sheet->setConfirmer(&confirmer);
    QPushButton *restore = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        (restore = sheet->findChild<QPushButton *>(QStringLiteral("restore-%1").arg(version.id))), kWait);
    QTRY_VERIFY(anyHolds(drawnLabels(sheet), text));
    m_fake.setFault(QStringLiteral("/api/versions.php"),
                    once(FakeService::Fault::http(404, errorBody(text))));
    QTest::mouseClick(restore, Qt::LeftButton);
    QLabel *toast = m_window->toastOverlay()->messageLabel();
    QTRY_VERIFY_WITH_TIMEOUT(DrawnText::ofLabel(toast).contains(text), kWait);
}

void TestPlainTextScreens::publishError()
{
    QFETCH(QString, text);
    QVERIFY(openWindow(QStringLiteral("Sheila")));
    QVERIFY(openPage(QStringLiteral("Recipes")));
    auto *sheet = openSheet<PublishSheet>(pageView()->publishButton());
    QVERIFY(sheet);
    QTRY_VERIFY_WITH_TIMEOUT(!sheet->model().loading(), kWait);
    m_fake.setFault(QStringLiteral("/api/publish.php"), once(FakeService::Fault::http(400, errorBody(text))));
    QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(anyHolds(drawnLabels(sheet), text), kWait);

    // Published, the address is drawn as it is, and its tooltip too.
    QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(sheet->model().published() && sheet->model().url(), kWait);
    const QString url = *sheet->model().url();
    bool shown = false;
    for (const QLabel *label : sheet->findChildren<QLabel *>()) {
        if (DrawnText::ofToolTip(label->toolTip()) == url)
            shown = DrawnText::ofLabel(label) == label->text();
    }
    QVERIFY(shown);
}

void TestPlainTextScreens::toastMessageAndAction()
{
    QFETCH(QString, text);
    QVERIFY(openWindow(QStringLiteral("Sheila")));
    int pressed = 0;
    m_app->toasts.show(text, text, [&pressed] { ++pressed; });
    ToastOverlay *overlay = m_window->toastOverlay();
    QTRY_VERIFY(overlay->isVisible());
    // A message too long for the capsule ends in "…" where it is cut.
    const QString message = DrawnText::ofLabel(overlay->messageLabel());
    QVERIFY2(message == text || (message.endsWith(u'…') && text.startsWith(message.chopped(1))),
             qPrintable(message));
    const QString action = overlay->actionButton()->text();
    QCOMPARE(DrawnText::ofMnemonicText(action), text);
    QVERIFY(QKeySequence::mnemonic(action).isEmpty());
    QTest::mouseClick(overlay->actionButton(), Qt::LeftButton);
    QCOMPARE(pressed, 1);
}

void TestPlainTextScreens::suggestionAndComment()
{
    QFETCH(QString, text);
    QVERIFY(openWindow(text));
    QVERIFY(openPage(QStringLiteral("Plans")));
    FakeServiceState &state = m_fake.state();
    FakeServiceState::Suggestion suggestion;
    suggestion.id = 100000 + m_accounts;
    suggestion.pageId = m_pageID;
    suggestion.userId = m_account.userId;
    suggestion.kind = QStringLiteral("title_change");
    suggestion.payload = JSONObject{{"title", text}};
    suggestion.createdAt = FakeService::now();
    state.suggestions[suggestion.id] = suggestion;
    FakeServiceState::Comment comment;
    comment.id = 100000 + m_accounts;
    comment.pageId = m_pageID;
    comment.userId = m_account.userId;
    comment.body = text;
    comment.createdAt = FakeService::now();
    state.comments[comment.id] = comment;

    // The suggester's name, and the preview's tooltip holding the whole proposed title.
    QTest::mouseClick(pageView()->suggestionsButton(), Qt::LeftButton);
    QWidget *suggestions = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((suggestions = mainView()->panel(MainView::PagePanel::suggestions)) &&
                                 suggestions->findChild<QLabel *>(QStringLiteral("preview")),
                             kWait);
    const QLabel *preview = suggestions->findChild<QLabel *>(QStringLiteral("preview"));
    QCOMPARE(DrawnText::ofToolTip(preview->toolTip()), text);
    QVERIFY(drawnLabels(suggestions).contains(text));

    // The commenter's name and words.
    QTest::mouseClick(pageView()->commentsButton(), Qt::LeftButton);
    QWidget *comments = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((comments = mainView()->panel(MainView::PagePanel::comments)) &&
                                 drawnLabels(comments).contains(text),
                             kWait);
}

void TestPlainTextScreens::switcherHomeAndSidebar()
{
    QFETCH(QString, text);
    // Two workspaces, so the sidebar names the current one; the other belongs to someone else.
    const auto other = m_fake.createAccount(QStringLiteral("owner%1@example.com").arg(m_accounts),
                                            QStringLiteral("secret12"), QStringLiteral("Owner"));
    m_fake.state().workspaces[other.workspaceId].name = text + QStringLiteral(" 2");
    QVERIFY(openWindow(text, [&] {
        m_fake.state().workspaces[m_account.workspaceId].name = text;
        m_fake.state().memberships.push_back(
            {other.workspaceId, m_account.userId, QStringLiteral("editor"), FakeService::now()});
    }));

    // The home screen greets the user by name.
    QTRY_VERIFY_WITH_TIMEOUT(mainView()->homeView() && mainView()->homeView()->isVisible(), kWait);
    QLabel *greeting = mainView()->homeView()->greetingLabel();
    QTRY_VERIFY(greeting->text().contains(text.section(u' ', 0, 0)));
    QCOMPARE(DrawnText::ofLabel(greeting), greeting->text());

    // The sidebar's workspace name and its menu.
    LibraryView *sidebar = mainView()->sidebar();
    QTRY_VERIFY_WITH_TIMEOUT(sidebar->workspaceButton()->isVisible(), kWait);
    QTRY_VERIFY(QStringList({text, text + QStringLiteral(" 2")})
                    .contains(DrawnText::ofLabel(sidebar->workspaceLabel())));
    // The menu runs its own loop while open: read it from inside, then close it.
    QStringList names;
    bool shortcut = false;
    QMenu *menu = sidebar->workspaceMenu();
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, menu, [&] {
        if (!menu->isVisible())
            return;
        poll.stop();
        for (QAction *action : menu->actions()) {
            shortcut = shortcut || !QKeySequence::mnemonic(action->text()).isEmpty();
            names << DrawnText::ofMnemonicText(action->text());
        }
        menu->close();
    });
    poll.start();
    QTest::mouseClick(sidebar->workspaceButton(), Qt::LeftButton);
    QTRY_VERIFY(!names.isEmpty());
    QVERIFY(!shortcut);
    names.sort();
    QStringList expected{text, text + QStringLiteral(" 2")};
    expected.sort();
    QCOMPARE(names, expected);

    // The switcher quotes a query that finds nothing.
    mainView()->showQuickSwitcher();
    QuickSwitcher *switcher = nullptr;
    QTRY_VERIFY((switcher = mainView()->quickSwitcher()) && switcher->isVisible());
    QTest::keyClicks(switcher->searchField(), text + QStringLiteral(" nowhere"));
    QTRY_VERIFY(switcher->emptyLabel()->isVisible());
    QCOMPARE(DrawnText::ofLabel(switcher->emptyLabel()),
             QStringLiteral("No pages match “") + text + QStringLiteral(" nowhere”."));
}

QTEST_MAIN(TestPlainTextScreens)
void TestPlainTextScreens::historyDateAndPageIcon()
{
    QFETCH(QString, text);
    QVERIFY(openWindow(QStringLiteral("Sheila")));
    QVERIFY(openPage(QStringLiteral("Diary")));
    pageView()->model().setPageIcon(text);
    QTRY_COMPARE(DrawnText::ofMnemonicText(pageView()->iconButton()->text()), text);

    // A version whose date the app cannot read shows the service's text as it came.
    const JSONObject version{{"id", 7}, {"page_id", m_pageID}, {"user_name", "Sheila"}, {"created_at", text}};
    m_fake.setFault(QStringLiteral("/api/versions.php"),
                    once(FakeService::Fault::http(200, serializeJSONObject({{"versions", JSONArray{version}}}))));
    auto *sheet = openSheet<VersionHistorySheet>(pageView()->historyButton());
    QVERIFY(sheet);
    QLabel *date = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((date = sheet->findChild<QLabel *>(QStringLiteral("versionDate"))), kWait);
    QCOMPARE(DrawnText::ofLabel(date), text);
}

#include "tst_plain_text_screens.moc"
