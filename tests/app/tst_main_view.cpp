#include "api/api_client.h"
#include "api/wire/pages.h"
#include "app/app_window.h"
#include "app/auth_view.h"
#include "app/home_view.h"
#include "app/local_data_owner.h"
#include "app/logout_flow.h"
#include "app/main_view.h"
#include "app/quick_switcher.h"
#include "app/shortcuts_sheet.h"
#include "app/sync_button.h"
#include "app/sync_status.h"
#include "editor/auto_height_text_view.h"
#include "editor/page_view.h"
#include "editor/page_view_model.h"
#include "fake-service/fake_service.h"
#include "library/library_dock.h"
#include "library/library_view.h"
#include "library/trash_view.h"
#include "platform/app_events.h"
#include "platform/preset_confirmer.h"
#include "store/page_template.h"
#include "support/app_harness.h"
#include "support/task_outcome.h"
#include "support/test_device.h"
#include "ui/app_menu.h"
#include "ui/app_style.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <memory>

using namespace std::chrono_literals;

namespace {

const QString SyncPath = QStringLiteral("/api/sync.php");
const QString LastOpenKey = QStringLiteral("pn.lastOpenPageLocalID");

// Stands in for the page editor: records its page and, when it goes, does what leaving runs.
class StubEditor : public QWidget
{
public:
    StubEditor(QString pageLocalID, std::function<void()> onLeave)
        : m_pageLocalID(std::move(pageLocalID))
        , m_onLeave(std::move(onLeave))
    {
    }
    ~StubEditor() override
    {
        if (m_onLeave)
            m_onLeave();
    }
    const QString &pageLocalID() const { return m_pageLocalID; }

private:
    QString m_pageLocalID;
    std::function<void()> m_onLeave;
};

FNPage livePage(const QString &title, bool deleted = false)
{
    FNPage p;
    p.title = title;
    if (deleted)
        p.deletedAt = QDateTime::currentDateTimeUtc();
    return p;
}

} // namespace

class TestMainView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void syncStatus_data();
    void syncStatus();
    void syncButtonFollowsTheEngine();
    void firstShowSyncsThenRestoresTheLastPage_data();
    void firstShowSyncsThenRestoresTheLastPage();
    void syncsWhenTheWindowBecomesActive();
    void selectionIsRememberedAndBuildsANewEditor();
    void menuNotificationsOpenTheSheets();
    void trashButtonOpensTheTrashOnce();
    void sidebarToggle();
    void accountMenu_data();
    void accountMenu();
    void logoutFromTheMenu_data();
    void logoutFromTheMenu();
    void hostsThePagesPanelsAndSheets();
    void logoutFlushesThePageEditor();
    void logoutInTheWindowEndsOnTheSignInScreen();
    void newPageOpensReadyForItsTitle_data();
    void newPageOpensReadyForItsTitle();

private:
    void signIn();
    void queueOps(int count);
    // Stub editors unless told otherwise.
    MainView *makeView(MainView::Parts parts = {}, bool realEditor = false);
    MainView::Parts stubParts();

    FakeService m_fake;
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<MainView> m_view;
    FakeService::Account m_account;
    int m_accounts = 0;
    QStringList m_editorsMade;
    QStringList m_editorsGone;
    std::function<void()> m_onLeave;
};

void TestMainView::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestMainView::init()
{
    m_fake.clearFaults();
    m_device = std::make_unique<AppDevice>(m_fake.origin());
    m_app = std::make_unique<AppHarness>(*m_device);
    m_editorsMade.clear();
    m_editorsGone.clear();
    m_onLeave = nullptr;
}

void TestMainView::cleanup()
{
    m_view.reset();
    m_fake.clearFaults();
    // Whatever the last test left running ends before the objects it uses go.
    QTRY_VERIFY(!m_app->engine.isSyncing());
    m_app.reset();
    m_device.reset();
}

void TestMainView::signIn()
{
    const QString email = QStringLiteral("main%1@example.com").arg(++m_accounts);
    m_account = m_fake.createAccount(email, QStringLiteral("secret12"), QStringLiteral("Mae In"));
    m_app->session.signIn(m_account.token, AuthUser{m_account.userId, QStringLiteral("Mae In"), email});
    m_fake.clearRequests();
}

void TestMainView::queueOps(int count)
{
    m_app->store.changeOutsideRecords([&](StoreState &s) {
        for (int i = 0; i < count; ++i) {
            FNSyncOp op;
            op.entity = QStringLiteral("page");
            op.op = QStringLiteral("update");
            op.payloadJSON = QStringLiteral("{}");
            s.outbox.push_back(op);
        }
    });
}

MainView::Parts TestMainView::stubParts()
{
    MainView::Parts parts;
    parts.page = [this](const AppContext &, const QString &id) {
        m_editorsMade << id;
        return MainView::PageDetail{new StubEditor(id,
                                                   [this, id] {
                                                       m_editorsGone << id;
                                                       if (m_onLeave)
                                                           m_onLeave();
                                                   }),
                                    nullptr};
    };
    return parts;
}

MainView *TestMainView::makeView(MainView::Parts parts, bool realEditor)
{
    if (!parts.page && !realEditor)
        parts = stubParts();
    m_view = std::make_unique<MainView>(m_app->context(), std::move(parts));
    m_view->resize(1000, 700);
    return m_view.get();
}

void TestMainView::syncStatus_data()
{
    QTest::addColumn<int>("queued");
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<QString>("help");
    QTest::addColumn<QString>("badge");
    QTest::newRow("0") << 0 << "arrow.clockwise"
                       << "Up to date"
                       << "";
    QTest::newRow("1") << 1 << "arrow.triangle.2.circlepath.icloud"
                       << "1 unsynced change — tap to sync"
                       << "1";
    QTest::newRow("3") << 3 << "arrow.triangle.2.circlepath.icloud"
                       << "3 unsynced changes — tap to sync"
                       << "3";
    QTest::newRow("99") << 99 << "arrow.triangle.2.circlepath.icloud"
                        << "99 unsynced changes — tap to sync"
                        << "99";
    QTest::newRow("120") << 120 << "arrow.triangle.2.circlepath.icloud"
                         << "120 unsynced changes — tap to sync"
                         << "99";
}

void TestMainView::syncStatus()
{
    QFETCH(int, queued);
    QFETCH(QString, symbol);
    QFETCH(QString, help);
    QFETCH(QString, badge);
    const SyncStatus status = SyncStatus::of(false, queued);
    QCOMPARE(status.symbol(), symbol);
    QCOMPARE(status.help(), help);
    QCOMPARE(status.badgeText(), badge);

    SyncButton button(m_app->store, &m_app->engine);
    button.show();
    queueOps(queued);
    QCOMPARE(button.toolTip(), help);
    QCOMPARE(button.badge()->isVisible(), !badge.isEmpty());
    QCOMPARE(button.badge()->text(), badge);
}

void TestMainView::syncButtonFollowsTheEngine()
{
    signIn();
    queueOps(2);
    SyncButton button(m_app->store, &m_app->engine);
    button.show();
    m_fake.setFault(SyncPath, FakeService::Fault::delay(150));
    QSignalSpy finished(&m_app->engine, &SyncEngine::cycleFinished);

    button.click();
    QVERIFY(m_app->engine.isSyncing());
    QCOMPARE(button.status().kind, SyncStatus::Kind::syncing);
    QCOMPARE(button.toolTip(), QStringLiteral("Syncing…"));
    QVERIFY(!button.badge()->isVisible());
    button.click(); // enabled while syncing; the engine ignores the second request
    QVERIFY(finished.wait(5000));
    QCOMPARE(m_fake.requestsTo(SyncPath).size(), 1);
    // The two updates name no page on the service and stay queued.
    QCOMPARE(button.toolTip(), QStringLiteral("2 unsynced changes — tap to sync"));
    QCOMPARE(button.badge()->text(), QStringLiteral("2"));
}

void TestMainView::firstShowSyncsThenRestoresTheLastPage_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<bool>("restored");
    QTest::newRow("live page") << true << false << true;
    QTest::newRow("deleted page") << true << true << false;
    QTest::newRow("nothing stored") << false << false << false;
}

void TestMainView::firstShowSyncsThenRestoresTheLastPage()
{
    QFETCH(bool, stored);
    QFETCH(bool, deleted);
    QFETCH(bool, restored);
    signIn();
    // Two pages with the id: only a live one may be reopened.
    FNPage last = livePage(QStringLiteral("Last"), deleted);
    m_app->store.upsertPage(livePage(QStringLiteral("Other")));
    m_app->store.change([&](StoreState &s) { s.pages.push_back(last); });
    if (stored)
        m_app->settings.setString(LastOpenKey, last.localID);
    m_fake.setFault(SyncPath, FakeService::Fault::delay(100));

    MainView *view = makeView();
    QSignalSpy done(view, &MainView::firstAppearanceDone);
    view->show();
    QVERIFY(m_app->engine.isSyncing());
    QVERIFY(!view->selectedPageLocalID()); // the restore waits for the first sync
    QVERIFY(done.wait(5000));
    QCOMPARE(m_fake.requestsTo(SyncPath).size(), 1);

    QCOMPARE(view->selectedPageLocalID(), restored ? std::optional(last.localID) : std::nullopt);
    QCOMPARE(m_editorsMade, restored ? QStringList{last.localID} : QStringList{});
    QCOMPARE(view->homeView() != nullptr, !restored);
    // A page that does not qualify leaves the stored key alone.
    QCOMPARE(m_app->settings.string(LastOpenKey), stored ? std::optional(last.localID) : std::nullopt);
}

void TestMainView::syncsWhenTheWindowBecomesActive()
{
    signIn();
    MainView *view = makeView();
    QSignalSpy done(view, &MainView::firstAppearanceDone);
    view->show();
    QApplication::setActiveWindow(view);
    QVERIFY(QTest::qWaitForWindowActive(view));
    QVERIFY(done.size() == 1 || done.wait(5000));
    QTRY_VERIFY(!m_app->engine.isSyncing());

    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    QVERIFY(QTest::qWaitForWindowActive(&other));
    m_fake.clearRequests();
    QCOMPARE(m_fake.requestsTo(SyncPath).size(), 0); // losing the focus syncs nothing

    QApplication::setActiveWindow(view);
    QVERIFY(QTest::qWaitForWindowActive(view));
    QTRY_COMPARE(m_fake.requestsTo(SyncPath).size(), 1);
}

void TestMainView::selectionIsRememberedAndBuildsANewEditor()
{
    FNPage a = livePage(QStringLiteral("Alpha"));
    a.updatedAt = a.updatedAt.addSecs(60);
    FNPage b = livePage(QStringLiteral("Beta"));
    m_app->store.upsertPage(a);
    m_app->store.upsertPage(b);
    MainView *view = makeView();
    view->show();
    QVERIFY(view->homeView());

    // Picked in the quick switcher: the newest page is highlighted first.
    m_app->events.postQuickSwitch();
    QuickSwitcher *switcher = view->quickSwitcher();
    QVERIFY(switcher);
    QTest::keyClick(switcher->searchField(), Qt::Key_Return);
    QCOMPARE(view->selectedPageLocalID(), std::optional(a.localID));
    QCOMPARE(m_app->settings.string(LastOpenKey), std::optional(a.localID));
    QCOMPARE(view->sidebar()->selectedPageLocalID(), std::optional(a.localID));
    QCOMPARE(static_cast<StubEditor *>(view->detail())->pageLocalID(), a.localID);
    QTRY_VERIFY(!view->quickSwitcher());

    // Another page gets an editor of its own; the old one goes.
    Q_EMIT view->sidebar()->pageSelected(b.localID);
    QCOMPARE(m_editorsMade, (QStringList{a.localID, b.localID}));
    QTRY_COMPARE(m_editorsGone, QStringList{a.localID});
    QCOMPARE(m_app->settings.string(LastOpenKey), std::optional(b.localID));

    // Home clears the selection and forgets the page.
    Q_EMIT view->sidebar()->homeRequested();
    QVERIFY(!view->selectedPageLocalID());
    QVERIFY(!m_app->settings.contains(LastOpenKey));
    QVERIFY(view->homeView());

    // A home card selects too.
    view->homeView()->recentCards().first()->click();
    QTRY_COMPARE(view->selectedPageLocalID(), std::optional(a.localID));
}

void TestMainView::menuNotificationsOpenTheSheets()
{
    MainView *view = makeView();
    view->show();
    m_app->events.postShowShortcuts();
    QPointer<ShortcutsSheet> sheet = view->shortcutsSheet();
    QVERIFY(sheet && sheet->isVisible());
    m_app->events.postShowShortcuts(); // already shown: no second sheet
    QCOMPARE(view->findChildren<ShortcutsSheet *>().size(), 1);
    sheet->closeButton()->click();
    QTRY_VERIFY(sheet.isNull());
    QVERIFY(!view->shortcutsSheet());

    m_app->events.postQuickSwitch();
    QPointer<QuickSwitcher> switcher = view->quickSwitcher();
    QVERIFY(switcher && switcher->isVisible());
    QTest::keyClicks(switcher->searchField(), QStringLiteral("zz"));
    QTest::keyClick(switcher->searchField(), Qt::Key_Escape);
    QTRY_VERIFY(switcher.isNull());
    // The next opening starts from an empty query.
    m_app->events.postQuickSwitch();
    QVERIFY(view->quickSwitcher()->searchField()->text().isEmpty());
}

void TestMainView::trashButtonOpensTheTrashOnce()
{
    MainView *view = makeView();
    view->show();
    QToolButton *trash = view->sidebar()->dock()->button(QString::fromLatin1(LibraryDock::kTrash));
    QVERIFY(trash);
    trash->click();
    QPointer<TrashView> sheet = view->trashView();
    QVERIFY(sheet && sheet->isVisible());
    trash->click();
    QCOMPARE(view->findChildren<TrashView *>().size(), 1);
    sheet->close();
    QTRY_VERIFY(sheet.isNull());
}

void TestMainView::sidebarToggle()
{
    using V = MainView::ColumnVisibility;
    QCOMPARE(MainView::toggled(V::all), V::detailOnly);
    QCOMPARE(MainView::toggled(V::detailOnly), V::all);

    MainView *view = makeView();
    view->show();
    QCOMPARE(view->sidebarToggle()->toolTip(), QStringLiteral("Toggle sidebar"));
    QVERIFY(view->sidebarColumn()->isVisible());
    view->sidebarToggle()->click();
    QCOMPARE(view->columnVisibility(), V::detailOnly);
    QVERIFY(!view->sidebarColumn()->isVisible());
    view->sidebarToggle()->click();
    QCOMPARE(view->columnVisibility(), V::all);
    QVERIFY(view->sidebarColumn()->isVisible());
}

void TestMainView::accountMenu_data()
{
    QTest::addColumn<std::optional<QString>>("shortVersion");
    QTest::addColumn<std::optional<QString>>("build");
    QTest::addColumn<QString>("line");
    QTest::newRow("both") << std::optional<QString>("1.4.2") << std::optional<QString>("87")
                          << "Version 1.4.2 (87)";
    QTest::newRow("neither") << std::optional<QString>() << std::optional<QString>() << "Version ? (?)";
    QTest::newRow("empty short version")
        << std::optional<QString>("") << std::optional<QString>("3") << "Version ? (3)";
}

void TestMainView::accountMenu()
{
    QFETCH(std::optional<QString>, shortVersion);
    QFETCH(std::optional<QString>, build);
    QFETCH(QString, line);
    QCOMPARE(MainView::versionLine(shortVersion, build), line);

    MainView *view = makeView();
    QStringList items;
    for (QAction *action : view->accountMenu()->actions())
        items << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(items, (QStringList{"Delete account", "-", "Log out", "-", MainView::versionLine()}));
    // Both ends of the account are drawn in the one destructive style.
    QVERIFY(qobject_cast<AppMenu *>(view->accountMenu()));
    for (QAction *action : view->accountMenu()->actions())
        QCOMPARE(AppStyle::isDestructive(action), action->text() == QLatin1String("Delete account") ||
                                                      action->text() == QLatin1String("Log out"));
    QCOMPARE(view->accountButton()->focusPolicy(), Qt::NoFocus);

    view->accountMenu()->actions().first()->trigger();
    QCOMPARE(m_app->opener.opened(),
             QList<QUrl>{QUrl(m_fake.origin() + QStringLiteral("/delete-account.php"))});
}

void TestMainView::logoutFromTheMenu_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("confirmed") << true;
    QTest::newRow("cancelled") << false;
}

void TestMainView::logoutFromTheMenu()
{
    QFETCH(bool, confirm);
    signIn();
    const FNPage open = livePage(QStringLiteral("Open"));
    m_app->store.upsertPage(open);
    queueOps(2);
    // What the editor queues when it is left: a page of its own, to be pushed with the rest.
    const QString pendingTitle =
        QStringLiteral("Pending edit ") + QString::fromLatin1(QTest::currentDataTag());
    m_onLeave = [this, pendingTitle] {
        FNPage page = livePage(pendingTitle);
        page.workspaceServerID = m_account.workspaceId;
        m_app->queuePageCreate(page);
    };
    PresetConfirmer confirmer(confirm);
    MainView *view = makeView();
    view->setConfirmer(&confirmer);
    view->setLogoutWait(3s);
    view->show();
    QSignalSpy done(view, &MainView::firstAppearanceDone);
    QVERIFY(done.wait(5000));
    view->setSelectedPage(open.localID);
    QTRY_VERIFY(!m_app->engine.isSyncing());

    QAction *logOut = view->accountMenu()->actions().at(2);
    logOut->trigger();
    QCOMPARE(confirmer.questions().size(), 1);
    QCOMPARE(confirmer.questions()[0].title, QStringLiteral("Log out of Penroost Derud?"));
    QVERIFY(confirmer.questions()[0].message.startsWith(QStringLiteral("You have 2 unsynced changes.")));
    if (!confirm) {
        QVERIFY(m_app->session.token());
        QVERIFY(!view->isLoggingOut());
        QCOMPARE(view->selectedPageLocalID(), std::optional(open.localID));
        QVERIFY(m_editorsGone.isEmpty());
        return;
    }

    // The editor was closed first, so its edit was queued in time for the last sync.
    QCOMPARE(m_editorsGone, QStringList{open.localID});
    QPointer<LogoutFlow> flow = view->logoutFlow();
    QVERIFY(flow);
    QSignalSpy finished(flow.data(), &LogoutFlow::finished);
    view->setSelectedPage(open.localID); // ignored while the session ends
    QCOMPARE(m_editorsMade.size(), 1);
    QVERIFY(finished.wait(5000));

    bool pushed = false;
    for (const auto &[id, page] : m_fake.state().pages)
        pushed = pushed || page.title == pendingTitle;
    QVERIFY(pushed);
    QVERIFY(!m_app->session.token());
    QCOMPARE(m_app->store.state(), StoreState{});
    // The screen going writes nothing of the old session into the emptied store.
    m_view.reset();
    QCOMPARE(m_editorsGone.size(), 1);
    QCOMPARE(m_app->store.state(), StoreState{});
    QCOMPARE(m_app->settings.string(LastOpenKey), std::optional(open.localID));
}

void TestMainView::hostsThePagesPanelsAndSheets()
{
    const FNPage open = livePage(QStringLiteral("Open"));
    m_app->store.upsertPage(open);
    QPointer<PageViewModel> model;
    QList<MainView::PageSheet> sheetsAsked;
    MainView::Parts parts;
    parts.page = [&](const AppContext &context, const QString &id) {
        auto *editor = new QWidget;
        model = new PageViewModel(context, id, editor);
        return MainView::PageDetail{editor, model.data()};
    };
    parts.panel = [](const AppContext &, PageViewModel &, MainView::PagePanel kind) -> QWidget * {
        return kind == MainView::PagePanel::ai ? new QLabel(QStringLiteral("AI")) : nullptr;
    };
    parts.sheet = [&](const AppContext &, PageViewModel &, MainView::PageSheet kind) -> QDialog * {
        sheetsAsked << kind;
        return kind == MainView::PageSheet::share ? new QDialog : nullptr;
    };
    MainView *view = makeView(std::move(parts));
    view->show();
    view->setSelectedPage(open.localID);
    QVERIFY(model);

    model->setShowAI(true);
    QPointer<QWidget> ai = view->panel(MainView::PagePanel::ai);
    QVERIFY(ai && ai->isVisible());
    model->setShowComments(true); // no panel of that kind is built
    QVERIFY(!view->panel(MainView::PagePanel::comments));
    model->setShowAI(false);
    QVERIFY(ai.isNull());

    model->setShowShare(true);
    auto *share = view->findChild<QDialog *>();
    QVERIFY(share && share->isVisible());
    share->reject();
    QVERIFY(!model->showShare());
    // Without a sheet to show the flag drops at once, so the button works next time.
    model->setShowPublish(true);
    QVERIFY(!model->showPublish());
    QCOMPARE(sheetsAsked,
             (QList<MainView::PageSheet>{MainView::PageSheet::share, MainView::PageSheet::publish}));

    // Leaving the page takes its panels along.
    model->setShowAI(true);
    ai = view->panel(MainView::PagePanel::ai);
    QVERIFY(ai);
    view->setSelectedPage(std::nullopt);
    QVERIFY(ai.isNull());
}

void TestMainView::logoutFlushesThePageEditor()
{
    signIn();
    PageCreateReq req;
    req.workspace_id = m_account.workspaceId;
    req.title = QStringLiteral("On the service");
    const auto created = runTask(TestDevice(m_fake.origin(), m_account.token).client().createPage(req));
    QVERIFY(created.ok());
    FNPage page = livePage(req.title);
    page.serverID = created.value->page.id;
    page.workspaceServerID = m_account.workspaceId;
    m_app->store.upsertPage(page);
    FNBlock block;
    block.pageLocalID = page.localID;
    block.pageServerID = page.serverID;
    block.type = QStringLiteral("text");
    block.contentJSON = QStringLiteral(R"({"text":"draft"})");
    m_app->store.upsertBlock(block);

    PresetConfirmer confirmer(true);
    MainView *view = makeView({}, true);
    view->setConfirmer(&confirmer);
    view->show();
    QSignalSpy done(view, &MainView::firstAppearanceDone);
    QVERIFY(done.wait(5000));
    view->setSelectedPage(page.localID);
    auto *editor = qobject_cast<PageView *>(view->detail());
    QVERIFY(editor);
    QCOMPARE(view->pageModel(), &editor->model());
    QSignalSpy loaded(&editor->model(), &PageViewModel::blocksLoaded);
    QVERIFY(loaded.wait(5000));
    QTRY_VERIFY(!m_app->engine.isSyncing());

    // An edit the editor has not flushed yet (its timer is still running) when the user logs out.
    block.contentJSON = QStringLiteral(R"({"text":"last words"})");
    m_app->store.upsertBlock(block);
    editor->model().scheduleBlockFlush();
    QVERIFY(editor->model().isBlockFlushPending());
    view->accountMenu()->actions().at(2)->trigger();
    QPointer<LogoutFlow> flow = view->logoutFlow();
    QVERIFY(flow);
    QSignalSpy finished(flow.data(), &LogoutFlow::finished);
    QVERIFY(finished.wait(5000));

    const auto stored = m_fake.storedBlocks(page.serverID);
    QCOMPARE(stored.size(), size_t(1));
    QCOMPARE(stored[0].content.at(QStringLiteral("text")).toString(), QStringLiteral("last words"));
    m_view.reset();
    QCOMPARE(m_app->store.state(), StoreState{});
}

void TestMainView::logoutInTheWindowEndsOnTheSignInScreen()
{
    signIn();
    m_app->settings.setBool(QString::fromLatin1(RootView::didSeeWelcomeKey), true);
    m_app->settings.setInteger(QString::fromLatin1(LocalDataOwner::settingsKey), m_account.userId);
    const FNPage open = livePage(QStringLiteral("Open"));
    m_app->store.upsertPage(open);
    m_app->settings.setString(LastOpenKey, open.localID);
    queueOps(1);

    PresetConfirmer confirmer(true);
    QPointer<MainView> view;
    auto window = std::make_unique<AppWindow>(m_app->context(), [&](const AppContext &context) {
        view = new MainView(context, stubParts());
        view->setConfirmer(&confirmer);
        view->setLogoutWait(2s);
        return view.data();
    });
    window->show();
    QVERIFY(view);
    QSignalSpy done(view.data(), &MainView::firstAppearanceDone);
    QVERIFY(done.wait(5000));
    QCOMPARE(view->selectedPageLocalID(), std::optional(open.localID));
    QTRY_VERIFY(m_app->engine.isRunning());

    view->accountMenu()->actions().at(2)->trigger();
    QTRY_COMPARE(window->rootView()->currentRoute(), std::optional(RootView::Route::signIn));
    QVERIFY(qobject_cast<AuthView *>(window->rootView()->currentScreen()));
    QTRY_VERIFY(view.isNull());
    QTRY_COMPARE(m_fake.requestsTo(QStringLiteral("/api/auth/logout.php")).size(), 1);
    QCOMPARE(m_editorsGone, QStringList{open.localID});
    QCOMPARE(m_app->store.state(), StoreState{});
    // The loop keeps running, idle without a token.
    QVERIFY(m_app->engine.isRunning());
    m_app->engine.stopLoop();
    window.reset();
}

void TestMainView::newPageOpensReadyForItsTitle_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("title"); // the selected title; none when the title must not take the keyboard

    QTest::newRow("the sidebar's new page button") << "dock"
                                                   << "Untitled";
    QTest::newRow("the New Page command") << "command"
                                          << "Untitled";
    QTest::newRow("a template") << "template"
                                << "Weekly plan";
    QTest::newRow("an existing page") << "existing"
                                      << "";
}

void TestMainView::newPageOpensReadyForItsTitle()
{
    QFETCH(QString, how);
    QFETCH(QString, title);

    signIn();
    PageTemplate plan;
    plan.id = QStringLiteral("T1");
    plan.name = QStringLiteral("Plan");
    plan.title = QStringLiteral("Weekly plan");
    m_app->templates.add(plan);
    MainView *view = makeView({}, true);
    view->show();
    view->activateWindow();
    QApplication::setActiveWindow(view);
    QVERIFY(QTest::qWaitForWindowActive(view));
    QSignalSpy done(view, &MainView::firstAppearanceDone);
    QVERIFY(done.wait(5000));
    FNPage existing = livePage(QStringLiteral("Existing"));
    existing.workspaceServerID = m_account.workspaceId;
    m_app->store.upsertPage(existing);

    LibraryDock *dock = view->sidebar()->dock();
    if (how == QLatin1String("dock")) {
        dock->button(QString::fromLatin1(LibraryDock::kNewPage))->click();
    } else if (how == QLatin1String("command")) {
        m_app->events.postNewPage();
    } else if (how == QLatin1String("template")) {
        QAction *entry = nullptr;
        for (QAction *action : dock->templateMenu()->actions()) {
            if (action->text() == plan.name)
                entry = action;
        }
        QVERIFY(entry);
        entry->trigger();
    } else {
        Q_EMIT view->sidebar()->pageSelected(existing.localID);
    }
    auto *editor = qobject_cast<PageView *>(view->detail());
    QVERIFY(editor);
    QTRY_VERIFY(editor->isLaidOut() && !editor->model().blocks().pageBlocks().empty());

    if (title.isEmpty()) {
        QVERIFY(!editor->titleField()->hasFocus());
        return;
    }
    QVERIFY(editor->pageLocalID() != existing.localID);
    QTRY_VERIFY(editor->titleField()->hasFocus());
    QCOMPARE(editor->titleField()->textCursor().selectedText(), title);
    // What is typed replaces the title.
    QTest::keyClicks(QApplication::focusWidget(), "Roadmap");
    QCOMPARE(m_app->store.page(editor->pageLocalID())->title, QStringLiteral("Roadmap"));
}

QTEST_MAIN(TestMainView)
#include "tst_main_view.moc"
