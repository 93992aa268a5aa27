#include "new_user_journey_steps.h"

using namespace std::chrono_literals;
using namespace newUserJourney;

using namespace journey;

// One new user, one device (and later a second one), the whole way through the real window against
// the fake service: only what a user can click and type, checked against what the window shows and
// what the service received. The steps run in order and build on each other.
class TestNewUserJourney : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void signUp();
    void createFolderAndPage();
    void titleAndIcon();
    void writeBlocks();
    void relaunchKeepsEverything();
    void offlineEditsReachTheService();
    void secondClientSeesThePage();
    void deleteAndUndo();
    void deleteAndRestoreFromTrash();
    void exportAsMarkdown();
    void logOutAndSignInAgain();
    void tickedToDoSurvivesItsOwnPush();
    void writeWithTheToolbarAndKeys();
    void findThePageFromHomeAndTheSwitcher();

private:
    void shoot(const QString &name, QWidget *sheet = nullptr);

    void signInThroughTheForm(Launch &launch, bool signUp);
    // The service holds the page's blocks as listed and nothing waits to be sent.
    void waitUntilOnTheService(const QStringList &blocks, const QString &title = kPageTitle);
    qint64 pageServerID(const QString &title = kPageTitle);
    const FakeServiceState::Page *servicePage();
    // "Add block", then the kind picked from the slash menu opened by typing "/" and the query.
    void addBlockOfKind(const QString &query, const QString &kind, bool screenshot, BlockRow **made);

    FakeService m_fake;
    AppDevice m_device;
    std::unique_ptr<Launch> m_app;
    QString m_screenshots;
    bool m_failed = false;
};

void TestNewUserJourney::initTestCase()
{
    IconTheme::installFallback(); // as main() does
    applyScreenshotTheme();
    QVERIFY(m_fake.start());
    m_screenshots = qEnvironmentVariable("PENROOST_SCREENSHOTS");
    if (!m_screenshots.isEmpty())
        QVERIFY(QDir().mkpath(m_screenshots));
    m_device.origin = m_fake.origin();
    m_app = launch(m_device);
    QVERIFY(m_app);
}

void TestNewUserJourney::init()
{
    // Each step starts where the one before left the app: after a failure there is nothing to build on.
    if (m_failed)
        QSKIP("an earlier step failed");
}

void TestNewUserJourney::cleanup()
{
    m_failed = m_failed || QTest::currentTestFailed();
}

void TestNewUserJourney::cleanupTestCase()
{
    quit(m_app);
}

void TestNewUserJourney::shoot(const QString &name, QWidget *sheet)
{
    if (!m_screenshots.isEmpty())
        QVERIFY(picture(m_app->window.get(), sheet).save(QDir(m_screenshots).filePath(name)));
}

qint64 TestNewUserJourney::pageServerID(const QString &title)
{
    return journey::pageServerID(m_fake, title);
}

const FakeServiceState::Page *TestNewUserJourney::servicePage()
{
    const qint64 id = pageServerID();
    const auto &pages = m_fake.state().pages;
    return id && pages.count(id) ? &pages.at(id) : nullptr;
}

void TestNewUserJourney::waitUntilOnTheService(const QStringList &blocks, const QString &title)
{
    QTRY_COMPARE_WITH_TIMEOUT(storedBlocks(m_fake, pageServerID(title)), blocks, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
}

void TestNewUserJourney::signInThroughTheForm(Launch &launched, bool signUp)
{
    AuthView *auth = launched.authView();
    QVERIFY(auth);
    if (signUp) {
        QTest::mouseClick(auth->segment(AuthView::Mode::signup), Qt::LeftButton);
        QCOMPARE(auth->subtitleLabel()->text(), QStringLiteral("Create your account"));
        QTest::keyClicks(auth->nameField(), kName);
    } else {
        QCOMPARE(auth->subtitleLabel()->text(), QStringLiteral("Welcome back"));
    }
    QTest::keyClicks(auth->emailField(), kEmail);
    QTest::keyClicks(auth->passwordField(), kPassword);
    QVERIFY(auth->submitButton()->isEnabled());
    if (signUp) {
        shoot(QStringLiteral("02-sign-in.png"));
        // Return in the last field sends the form, as its button does.
        QTest::keyClick(auth->passwordField(), Qt::Key_Return);
    } else {
        QTest::mouseClick(auth->submitButton(), Qt::LeftButton);
    }
    QTRY_VERIFY_WITH_TIMEOUT(launched.mainView(), kWait);
    QCOMPARE(launched.window->rootView()->currentRoute(), std::optional(RootView::Route::main));
}

void TestNewUserJourney::addBlockOfKind(const QString &query, const QString &kind, bool screenshot,
                                        BlockRow **made)
{
    journey::addBlockOfKind(m_app->pageView(), query, kind, made, [&] {
        if (screenshot)
            shoot(QStringLiteral("04-slash-menu.png"));
    });
}

void TestNewUserJourney::signUp()
{
    WelcomeView *welcome = m_app->welcomeView();
    QVERIFY(welcome);
    QCOMPARE(welcome->continueButton()->text(), QStringLiteral("Get started"));
    shoot(QStringLiteral("01-welcome.png"));
    QTest::mouseClick(welcome->continueButton(), Qt::LeftButton);
    QTRY_VERIFY(m_app->authView());

    signInThroughTheForm(*m_app, true);
    QCOMPARE(m_fake.requestsTo(QStringLiteral("/api/auth/signup.php")).size(), 1);
    QCOMPARE(m_fake.userCount(), 1);
    const FakeServiceState::User &user = m_fake.state().users.begin()->second;
    QCOMPARE(user.email, kEmail);
    QCOMPARE(user.name, kName);
    // Nothing can be made before the new account's workspace has been read.
    QTRY_VERIFY_WITH_TIMEOUT(!m_app->app->store.state().workspaces.empty(), kWait);
    QVERIFY(m_app->mainView()->homeView());
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
}

void TestNewUserJourney::createFolderAndPage()
{
    LibraryView *sidebar = m_app->sidebar();
    // The dock's buttons are pictures only; with no desktop theme here, the fallback theme draws them.
    for (const char *name :
         {LibraryDock::kHome, LibraryDock::kTrash, LibraryDock::kNewFolder, LibraryDock::kNewPage}) {
        QToolButton *button = sidebar->dock()->button(QString::fromLatin1(name));
        QVERIFY2(button && !button->icon().isNull(), name);
    }
    QTest::mouseClick(sidebar->dock()->button(QString::fromLatin1(LibraryDock::kNewFolder)), Qt::LeftButton);
    QTRY_COMPARE(sidebarRows(sidebar), QStringList{QStringLiteral("📁 New folder")});
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.state().folders.size(), size_t(1), kWait);

    // Renamed in place: the field opens over the row, Return commits.
    QVERIFY(chooseFromRowMenu(sidebar, QStringLiteral("New folder"), QStringLiteral("Rename")));
    QLineEdit *field = nullptr;
    QTRY_VERIFY((field = sidebar->listView()->viewport()->findChild<QLineEdit *>()) && field->isVisible());
    QCOMPARE(field->text(), QStringLiteral("New folder"));
    field->selectAll();
    QTest::keyClicks(field, kFolderName);
    QTest::keyClick(field, Qt::Key_Return);
    QTRY_COMPARE(sidebarRows(sidebar), QStringList{QStringLiteral("📁 ") + kFolderName});
    const qint64 folderId = m_fake.state().folders.begin()->first;
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.state().folders.at(folderId).name, kFolderName, kWait);

    QVERIFY(chooseFromRowMenu(sidebar, kFolderName, QStringLiteral("New page in folder")));
    QTRY_VERIFY(m_app->pageView());
    QCOMPARE(m_app->pageView()->titleField()->toRawText(), QStringLiteral("Untitled"));
    // A new page waits for its title: the field has the keyboard, its text selected.
    QTRY_VERIFY(m_app->pageView()->titleField()->hasFocus());
    QCOMPARE(m_app->pageView()->titleField()->textCursor().selectedText(), QStringLiteral("Untitled"));
    // The folder opens on its new page.
    QTRY_COMPARE(sidebarRows(sidebar), (QStringList{QStringLiteral("📁 ") + kFolderName, "  Untitled"}));
    // The service has the page, in the folder.
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.state().pages.size(), size_t(1), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.state().pages.begin()->second.folderId, folderId, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
}

void TestNewUserJourney::titleAndIcon()
{
    PageView *page = m_app->pageView();
    AutoHeightTextView *title = page->titleField();
    focus(title);
    title->selectAll();
    QTest::keyClicks(title, kPageTitle);
    QCOMPARE(title->toRawText(), kPageTitle);
    QTRY_COMPARE(sidebarRows(m_app->sidebar()),
                 (QStringList{QStringLiteral("📁 ") + kFolderName, QStringLiteral("  ") + kPageTitle}));
    QTRY_VERIFY_WITH_TIMEOUT(servicePage(), kWait);

    // The icon: picked in the emoji popup, found by a keyword.
    QCOMPARE(page->iconButton()->toolTip(), QStringLiteral("Add icon"));
    QTest::mouseClick(page->iconButton(), Qt::LeftButton);
    QPointer<EmojiPicker> picker = page->emojiPicker();
    QVERIFY(picker);
    QTRY_VERIFY(picker->isVisible());
    QTest::keyClicks(picker->filterField(), QStringLiteral("plane"));
    QVERIFY(!picker->shownCategories().isEmpty());
    const QList<QToolButton *> cells = picker->cells(picker->shownCategories().first());
    QCOMPARE(cells.size(), 1);
    QCOMPARE(cells.first()->text(), kIcon);
    QTest::mouseClick(cells.first(), Qt::LeftButton);
    QTRY_VERIFY(!picker || !picker->isVisible());
    QCOMPARE(page->iconButton()->text(), kIcon);
    QCOMPARE(page->iconButton()->toolTip(), QStringLiteral("Change icon"));
    QTRY_COMPARE(sidebarRows(m_app->sidebar()), folderWithPage());
    QTRY_COMPARE_WITH_TIMEOUT(servicePage()->title, kPageTitle, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(servicePage()->icon, kIcon, kWait);
}

void TestNewUserJourney::writeBlocks()
{
    PageView *page = m_app->pageView();
    // An empty page starts with one text block.
    QTRY_COMPARE(shownBlocks(page), QStringList{QStringLiteral("text: ")});
    // Each change is checked on the service before the next, so a failure names its step.
    waitUntilOnTheService({QStringLiteral("text: ")});
    BlockRow *plan = page->topLevelList()->rows().front();
    RichTextEditor *editor = plan->richEditor();
    focus(editor);

    // Bold by Ctrl+B: the pair waits in the editor until the word is typed into it; then a link
    // around a selected word.
    QTest::keyClicks(editor, QStringLiteral("Plan the "));
    QTest::keyClick(editor, Qt::Key_B, Qt::ControlModifier);
    QCOMPARE(editor->toRawText(), QStringLiteral("Plan the "));
    QTest::keyClicks(editor, QStringLiteral("trip"));
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClicks(editor, QStringLiteral(", see docs"));
    waitUntilOnTheService({QStringLiteral("text: Plan the **trip**, see docs")});
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(editor, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(editor, Qt::Key_K, Qt::ControlModifier);
    QTRY_VERIFY(plan->linkSheet() && plan->linkSheet()->isVisible());
    QTest::keyClicks(plan->linkSheet()->urlField(), kLink);
    QTest::keyClick(plan->linkSheet()->urlField(), Qt::Key_Return);
    QTRY_VERIFY(!plan->linkSheet() || !plan->linkSheet()->isVisible());
    QCOMPARE(editor->toRawText(), kPlanText);
    QVERIFY(drawnBold(editor, QStringLiteral("trip")));
    QStringList sent{QStringLiteral("text: ") + kPlanText};
    waitUntilOnTheService(sent);

    BlockRow *todo = nullptr;
    addBlockOfKind(QStringLiteral("to"), QStringLiteral("todo"), true, &todo);
    QVERIFY(todo);
    waitUntilOnTheService(QStringList(sent) << QStringLiteral("todo: [ ] "));
    QVERIFY(todo->todoBox());
    QTest::keyClicks(todo->richEditor(), QStringLiteral("Book the train"));
    QTest::mouseClick(todo->todoBox(), Qt::LeftButton);
    QVERIFY(todo->richEditor()->strikethrough());
    waitUntilOnTheService(sent << QStringLiteral("todo: [x] Book the train"));

    BlockRow *heading = nullptr;
    addBlockOfKind(QStringLiteral("head"), QStringLiteral("h2"), false, &heading);
    QVERIFY(heading);
    waitUntilOnTheService(QStringList(sent) << QStringLiteral("h2: "));
    QTest::keyClicks(heading->richEditor(), QStringLiteral("Packing"));
    waitUntilOnTheService(sent << QStringLiteral("h2: Packing"));

    BlockRow *bullet = nullptr;
    addBlockOfKind(QStringLiteral("bul"), QStringLiteral("bullet"), false, &bullet);
    QVERIFY(bullet);
    waitUntilOnTheService(QStringList(sent) << QStringLiteral("bullet: "));
    QTest::keyClicks(bullet->richEditor(), QStringLiteral("Socks"));
    waitUntilOnTheService(sent << QStringLiteral("bullet: Socks"));
    QTRY_COMPARE(shownBlocks(page), sent);

    // The heading dragged to the top: its handle's payload dropped on the first row.
    auto *handle = page->rowFrame(heading->model().localID())->findChild<DraggableBlockModifier *>();
    QVERIFY(handle && handle->isEnabled());
    std::unique_ptr<QMimeData> payload(handle->makeMimeData());
    QWidget *target = page->rowFrame(plan->model().localID());
    QDragEnterEvent enter(QPoint(4, 4), Qt::MoveAction, payload.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(4, 4), Qt::MoveAction, payload.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    QVERIFY(drop.isAccepted());
    QTRY_COMPARE(shownBlocks(page), expectedBlocks(QStringLiteral("Socks")));

    // Everything reaches the service in that order, and nothing is left to sync.
    QTRY_COMPARE_WITH_TIMEOUT(storedBlocks(m_fake, pageServerID()), expectedBlocks(QStringLiteral("Socks")),
                              kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
    shoot(QStringLiteral("03-main-window.png"));
}

void TestNewUserJourney::relaunchKeepsEverything()
{
    quit(m_app);
    const QString stateFile = QDir(m_device.storeFolder()).filePath(QStringLiteral("state.json"));
    QVERIFY(QFile::exists(stateFile));

    // The service is out of reach: what shows comes from this device alone.
    m_fake.setOffline(true);
    m_fake.clearRequests();
    m_app = launch(m_device);
    QVERIFY(m_app);
    QVERIFY(m_app->mainView()); // still signed in
    QTRY_COMPARE_WITH_TIMEOUT(sidebarRows(m_app->sidebar()), folderWithPage(), kWait);
    // The page open at quit opens again, with its blocks.
    QTRY_VERIFY_WITH_TIMEOUT(m_app->pageView(), kWait);
    QCOMPARE(m_app->pageView()->titleField()->toRawText(), kPageTitle);
    QTRY_COMPARE_WITH_TIMEOUT(shownBlocks(m_app->pageView()), expectedBlocks(QStringLiteral("Socks")), kWait);
}

void TestNewUserJourney::offlineEditsReachTheService()
{
    QVERIFY(m_fake.isOffline());
    BlockRow *bullet = rowShowing(m_app->pageView(), QStringLiteral("Socks"));
    QVERIFY(bullet);
    focus(bullet->richEditor());
    QTest::keyClicks(bullet->richEditor(), QStringLiteral(" and boots"));
    // The edit waits on this device, counted on the sync button, while the pushes fail.
    QTRY_COMPARE_WITH_TIMEOUT(badge(*m_app), QStringLiteral("1"), kWait);
    const auto triedAndFailed = [&] {
        const auto &outbox = m_app->app->store.state().outbox;
        // The pull it waits for failed: noted on it, though it costs the edit no back-off.
        return !outbox.empty() && outbox.front().lastError.has_value();
    };
    QTRY_VERIFY_WITH_TIMEOUT(triedAndFailed(), kWait);
    QCOMPARE(storedBlocks(m_fake, pageServerID()), expectedBlocks(QStringLiteral("Socks")));

    m_fake.setOffline(false);
    QTRY_COMPARE_WITH_TIMEOUT(storedBlocks(m_fake, pageServerID()),
                              expectedBlocks(QStringLiteral("Socks and boots")), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
}

void TestNewUserJourney::secondClientSeesThePage()
{
    AppDevice laptop(m_fake.origin());
    std::unique_ptr<Launch> other = launch(laptop);
    QVERIFY(other);
    QVERIFY(other->welcomeView());
    QTest::mouseClick(other->welcomeView()->continueButton(), Qt::LeftButton);
    QTRY_VERIFY(other->authView());
    signInThroughTheForm(*other, false);
    QCOMPARE(m_fake.userCount(), 1);

    openPageFromSidebar(*other);
    QTRY_COMPARE_WITH_TIMEOUT(shownBlocks(other->pageView()),
                              expectedBlocks(QStringLiteral("Socks and boots")), kWait);
    quit(other);
    activate(m_app->window.get());
}

void TestNewUserJourney::deleteAndUndo()
{
    LibraryView *sidebar = m_app->sidebar();
    const qint64 pageId = pageServerID();
    QVERIFY(pageId);
    QVERIFY(chooseFromRowMenu(sidebar, kPageTitle, QStringLiteral("Delete page")));
    QTRY_COMPARE(sidebarRows(sidebar), QStringList{QStringLiteral("📁 ") + kFolderName});
    QVERIFY(m_app->mainView()->homeView()); // the open page closed with it

    // The deletion reaches the service while "Undo" is still offered.
    QTRY_VERIFY_WITH_TIMEOUT(m_fake.state().pages.at(pageId).inTrash(), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
    ToastOverlay *toast = m_app->window->toastOverlay();
    QVERIFY(toast->isVisible());
    QCOMPARE(toast->messageLabel()->text(), QStringLiteral("Page deleted"));
    QCOMPARE(toast->actionButton()->text(), QStringLiteral("Undo"));
    QTest::mouseClick(toast->actionButton(), Qt::LeftButton);

    QTRY_COMPARE(sidebarRows(sidebar), folderWithPage());
    QTRY_VERIFY(m_app->pageView()); // and opens again
    QTRY_COMPARE_WITH_TIMEOUT(shownBlocks(m_app->pageView()),
                              expectedBlocks(QStringLiteral("Socks and boots")), kWait);
    // The undo restores it there too.
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!m_app->app->engine.isSyncing(), kWait);
    QVERIFY(m_fake.state().pages.count(pageId));
    QTRY_VERIFY_WITH_TIMEOUT(!m_fake.state().pages.at(pageId).inTrash(), kWait);
    // And it stays, after pulls that bring back its deletion and restore.
    QSignalSpy cycles(&m_app->app->engine, &SyncEngine::cycleFinished);
    QTRY_VERIFY_WITH_TIMEOUT(cycles.size() >= 3, kWait);
    QCOMPARE(sidebarRows(sidebar), folderWithPage());
}

void TestNewUserJourney::deleteAndRestoreFromTrash()
{
    LibraryView *sidebar = m_app->sidebar();
    const qint64 pageId = pageServerID();
    QVERIFY(chooseFromRowMenu(sidebar, kPageTitle, QStringLiteral("Delete page")));
    QTRY_COMPARE(sidebarRows(sidebar), QStringList{QStringLiteral("📁 ") + kFolderName});
    QTRY_VERIFY_WITH_TIMEOUT(m_fake.state().pages.at(pageId).inTrash(), kWait);

    QTest::mouseClick(sidebar->dock()->button(QString::fromLatin1(LibraryDock::kTrash)), Qt::LeftButton);
    QPointer<TrashView> trash = m_app->mainView()->trashView();
    QVERIFY(trash);
    QTRY_VERIFY(trash->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(trash->rowFor(pageId) && trash->currentBody() == trash->listPage(), kWait);
    QWidget *row = trash->rowFor(pageId);
    QStringList labels;
    for (QLabel *label : row->findChildren<QLabel *>())
        labels << label->text();
    QVERIFY2(labels.contains(kPageTitle), qPrintable(labels.join(QLatin1Char('|'))));
    shoot(QStringLiteral("05-trash.png"), trash);

    QPushButton *restore = buttonLabelled(row, QStringLiteral("Restore"));
    QVERIFY(restore);
    QTest::mouseClick(restore, Qt::LeftButton);
    // The last page left the trash: it says so.
    QTRY_COMPARE_WITH_TIMEOUT(trash->currentBody(), trash->emptyState(), kWait);
    QCOMPARE(trash->emptyState()->titleLabel()->text(), QStringLiteral("Nothing in trash"));
    QVERIFY(!trash->rowFor(pageId)); // no row of it is kept behind the empty state
    QTRY_VERIFY_WITH_TIMEOUT(!m_fake.state().pages.at(pageId).inTrash(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(sidebarRows(sidebar), folderWithPage(), kWait);
    QTest::keyClick(trash, Qt::Key_Escape);
    QTRY_VERIFY(trash.isNull());

    // The restored page opens with everything it had.
    clickRow(sidebar, kPageTitle);
    QTRY_VERIFY(m_app->pageView());
    QTRY_COMPARE_WITH_TIMEOUT(shownBlocks(m_app->pageView()),
                              expectedBlocks(QStringLiteral("Socks and boots")), kWait);
    QCOMPARE(storedBlocks(m_fake, pageId), expectedBlocks(QStringLiteral("Socks and boots")));
}

void TestNewUserJourney::exportAsMarkdown()
{
    PageView *page = m_app->pageView();
    QVERIFY(page);
    // The save dialog answers with a path of the device's folder.
    const QString path = m_device.dir.filePath(QStringLiteral("exported.md"));
    auto saveDialog = std::make_shared<PresetFilePicker>();
    saveDialog->setSaveAnswer(path);
    page->setFilePicker(saveDialog);

    QAction *exportAction = nullptr;
    for (QAction *action : page->exportButton()->menu()->actions()) {
        if (action->text() == QLatin1String("Export as Markdown"))
            exportAction = action;
    }
    QVERIFY(exportAction);
    exportAction->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), kWait);
    QCOMPARE(saveDialog->proposedNames(), QStringList{QStringLiteral("Trip plan.md")});
    // The title line is followed by two empty lines, the blocks by one, top to bottom as shown.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()),
             QStringLiteral("# Trip plan\n\n\n"
                            "## Packing\n\n"
                            "Plan the **trip**, see [docs](https://example.com/trip)\n\n"
                            "- [x] Book the train\n\n"
                            "- Socks and boots\n"));
}

void TestNewUserJourney::logOutAndSignInAgain()
{
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
    MainView *main = m_app->mainView();
    QAction *logOut = nullptr;
    for (QAction *action : main->accountMenu()->actions()) {
        if (action->text() == QLatin1String("Log out"))
            logOut = action;
    }
    QVERIFY(logOut);
    logOut->trigger();
    QMessageBox *question = nullptr;
    QTRY_VERIFY((question = main->findChild<QMessageBox *>()) && question->isVisible());
    QCOMPARE(question->text(), QStringLiteral("Log out of Penroost Derud?"));
    QPushButton *confirm = buttonLabelled(question, QStringLiteral("Log out"));
    QVERIFY(confirm);
    QTest::mouseClick(confirm, Qt::LeftButton);

    QTRY_VERIFY_WITH_TIMEOUT(m_app->authView(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.requestsTo(QStringLiteral("/api/auth/logout.php")).size(), 1, kWait);

    signInThroughTheForm(*m_app, false);
    QCOMPARE(m_fake.requestsTo(QStringLiteral("/api/auth/login.php")).size(), 2); // this and the laptop's
    // Signing in again starts from an empty data set, filled from the service.
    LibraryView *sidebar = m_app->sidebar();
    QTRY_VERIFY_WITH_TIMEOUT(sidebarRow(sidebar, kFolderName).isValid(), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
    QVERIFY(!m_fake.state().pages.at(pageServerID()).inTrash());
    // A pull from the start replays the page's deletion, and the restore arrives as a plain update;
    // the library's listing is what brings the page back, and with it the folder's chevron.
    // Waited for by hand: a failing QTRY waits three times as long. The library reloads every 6 s,
    // and the listing that brings the page back may be the second after the pull replayed the
    // deletion; a loaded machine stretches both.
    QVERIFY(QTest::qWaitFor(
        [&] { return sidebarRow(sidebar, kFolderName).data(LibraryRowModel::HasChildrenRole).toBool(); },
        20000));
    expandFolder(sidebar, kFolderName);
    // The page may yet leave once more, between the first listing and the replayed deletion.
    QVERIFY(QTest::qWaitFor([&] { return sidebarRow(sidebar, kPageTitle).isValid(); }, 20000));
    openPageFromSidebar(*m_app);
    QTRY_COMPARE_WITH_TIMEOUT(shownBlocks(m_app->pageView()),
                              expectedBlocks(QStringLiteral("Socks and boots")), kWait);
}

void TestNewUserJourney::tickedToDoSurvivesItsOwnPush()
{
    // A new page with a to-do whose text is on the service.
    const QString untitled = QStringLiteral("Untitled");
    QTest::mouseClick(m_app->sidebar()->dock()->button(QString::fromLatin1(LibraryDock::kNewPage)),
                      Qt::LeftButton);
    QTRY_VERIFY(m_app->pageView() && m_app->pageView()->titleField()->toRawText() == untitled);
    PageView *page = m_app->pageView();
    QTRY_VERIFY_WITH_TIMEOUT(pageServerID(untitled), kWait);
    waitUntilOnTheService({QStringLiteral("text: ")}, untitled);
    BlockRow *row = page->topLevelList()->rows().front();
    focus(row->richEditor());
    QTest::keyClicks(row->richEditor(), QStringLiteral("/todo"));
    QTest::keyClick(row->richEditor(), Qt::Key_Return);
    QTRY_VERIFY(row->todoBox() && row->richEditor()->hasFocus());
    waitUntilOnTheService({QStringLiteral("todo: [ ] ")}, untitled);
    QTest::keyClicks(row->richEditor(), QStringLiteral("Pack"));
    waitUntilOnTheService({QStringLiteral("todo: [ ] Pack")}, untitled);

    // More text; the box is ticked just as that text is being sent.
    auto ticked = std::make_shared<bool>(false);
    const QPointer<QToolButton> box(row->todoBox());
    auto tick = connect(
        &m_fake, &FakeService::requestReceived, this,
        [ticked, box](const HttpRequest &request) {
            if (*ticked || !box || request.method != "POST" || request.path() != "/api/blocks.php")
                return;
            *ticked = true;
            QTest::mouseClick(box, Qt::LeftButton);
        },
        Qt::QueuedConnection);
    QTest::keyClicks(row->richEditor(), QStringLiteral(" bags"));
    QTRY_VERIFY_WITH_TIMEOUT(*ticked, kWait);
    disconnect(tick);

    const auto bothTicked = [&] {
        return storedBlocks(m_fake, pageServerID(untitled)) ==
                   QStringList{QStringLiteral("todo: [x] Pack bags")} &&
               row->richEditor()->strikethrough() && upToDate(*m_app);
    };
    QVERIFY(QTest::qWaitFor(bothTicked, 4000));
}

void TestNewUserJourney::writeWithTheToolbarAndKeys()
{
    // "New Page" from the keyboard: the page opens ready for its title, and Return goes on to
    // its first block.
    activate(m_app->window.get());
    QTest::keyClick(m_app->window.get(), Qt::Key_N, Qt::ControlModifier);
    QTRY_VERIFY(m_app->pageView() && m_app->pageView()->titleField()->hasFocus());
    PageView *page = m_app->pageView();
    QCOMPARE(page->titleField()->textCursor().selectedText(), QStringLiteral("Untitled"));
    QTest::keyClicks(keyboard(), kCampingTitle);
    QTRY_COMPARE(page->topLevelList()->rows().size(), size_t(1));
    BlockRow *first = page->topLevelList()->rows().front();
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTRY_VERIFY(first->richEditor()->hasFocus());
    QCOMPARE(page->titleField()->toRawText(), kCampingTitle);

    // Return in a block starts the next one, with the caret in it.
    QTest::keyClicks(keyboard(), QStringLiteral("Pack the tent"));
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTRY_COMPARE(page->topLevelList()->rows().size(), size_t(2));
    BlockRow *second = page->topLevelList()->rows().back();
    QTRY_VERIFY(second->richEditor()->hasFocus());
    QTest::keyClicks(keyboard(), QStringLiteral("Check the stove"));

    // A divider from the slash menu: the typing right after it starts a block below it.
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTest::keyClicks(keyboard(), QStringLiteral("/divider"));
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTest::keyClicks(keyboard(), QStringLiteral("Done"));
    QTRY_COMPARE(shownBlocks(page),
                 (QStringList{QStringLiteral("text: Pack the tent"), QStringLiteral("text: Check the stove"),
                              QStringLiteral("divider: "), QStringLiteral("text: Done")}));

    // A double-click on a word of the block above selects it and moves no text.
    RichTextEditor *firstEditor = first->richEditor();
    // Where the user sees it: once the rows are laid out, one under the other.
    const auto top = [page](QWidget *widget) { return widget->mapTo(page, QPoint()).y(); };
    settleLayout();
    QVERIFY(first->height() > 0 && top(second) >= top(first) + first->height() &&
            top(page->addBlockButton()) >= top(second) + second->height());
    const int editorTop = top(firstEditor);
    EditorSteps::doubleClick(firstEditor->viewport(),
                             EditorSteps::pointAt(*firstEditor, QStringLiteral("tent")));
    QTRY_VERIFY(firstEditor->hasFocus());
    settleLayout();
    QCOMPARE(firstEditor->textCursor().selectedText(), QStringLiteral("tent"));
    QCOMPARE(top(firstEditor), editorTop);
    QCOMPARE(firstEditor->toRawText(), QStringLiteral("Pack the tent"));
    // The toolbar's Bold wraps exactly that word, and the typing stays in the block.
    FormatToolbar *toolbar = page->formatToolbar();
    QTRY_VERIFY(toolbar && toolbar->isVisible());
    shoot(QStringLiteral("06-format-toolbar.png"));
    QTest::mouseClick(toolbar->buttons().at(0), Qt::LeftButton);
    QCOMPARE(firstEditor->toRawText(), QStringLiteral("Pack the **tent**"));
    QCOMPARE(keyboard(), firstEditor);
    QVERIFY(drawnBold(firstEditor, QStringLiteral("tent")));

    // A list picked from the slash menu by keyboard; Return continues it, Tab and Shift+Tab move
    // its items in and out.
    focus(second->richEditor());
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTRY_COMPARE(page->topLevelList()->rows().size(), size_t(5));
    BlockRow *list = page->topLevelList()->rows().at(2);
    QTRY_VERIFY(list->richEditor()->hasFocus());
    QTest::keyClicks(keyboard(), QStringLiteral("/bul"));
    QTRY_VERIFY(list->slashMenu() && list->slashMenu()->isVisible());
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTRY_COMPARE(list->model().currentBlock().type, QStringLiteral("bullet"));
    QTRY_VERIFY(list->richEditor() && list->richEditor()->hasFocus());
    QTest::keyClicks(keyboard(), QStringLiteral("Tent"));
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTRY_COMPARE(page->topLevelList()->rows().size(), size_t(6));
    BlockRow *item = page->topLevelList()->rows().at(3);
    QTRY_VERIFY(item->richEditor()->hasFocus());
    QTest::keyClicks(keyboard(), QStringLiteral("Stove"));
    QTest::keyClick(keyboard(), Qt::Key_Tab);
    QTest::keyClick(keyboard(), Qt::Key_Tab);
    QTest::keyClick(keyboard(), Qt::Key_Backtab, Qt::ShiftModifier);
    QTRY_COMPARE(item->model().currentBlock().indentLevel, qint64(1));
    QCOMPARE(item->richEditor()->toRawText(), QStringLiteral("Stove"));

    // Return, then Backspace in the empty item: it goes, and the typing goes on where it was.
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTRY_COMPARE(page->topLevelList()->rows().size(), size_t(7));
    QTest::keyClick(keyboard(), Qt::Key_Backspace);
    QTest::keyClicks(keyboard(), QStringLiteral(" pot"));
    QTRY_COMPARE(page->topLevelList()->rows().size(), size_t(6));
    QCOMPARE(item->richEditor()->toRawText(), QStringLiteral("Stove pot"));
    QTRY_COMPARE(shownBlocks(page), kCampingBlocks);
    waitUntilOnTheService(kCampingBlocks, kCampingTitle);
}

void TestNewUserJourney::findThePageFromHomeAndTheSwitcher()
{
    // Home: the folder and the recent pages as cards, four equal columns to a row.
    QTest::mouseClick(m_app->sidebar()->dock()->button(QString::fromLatin1(LibraryDock::kHome)),
                      Qt::LeftButton);
    QTRY_VERIFY(m_app->mainView()->homeView());
    HomeView *home = m_app->mainView()->homeView();
    QTRY_COMPARE(home->recentCards().size(), qsizetype(3));
    QCOMPARE(home->folderCards().size(), qsizetype(1));
    const QList<QPushButton *> &cards = home->recentCards();
    QTRY_VERIFY(cards.at(0)->width() > 100);
    for (int i = 1; i < cards.size(); ++i) {
        // Equal shares of the row, to the pixel the division leaves over.
        QVERIFY(qAbs(cards.at(i)->width() - cards.at(0)->width()) <= 1);
        QCOMPARE(cards.at(i)->y(), cards.at(0)->y());
        QVERIFY(cards.at(i)->x() >= cards.at(i - 1)->x() + cards.at(i - 1)->width());
    }
    // The folder card is as wide as a recent one: a quarter of the row each.
    QVERIFY(qAbs(home->folderCards().at(0)->width() - cards.at(0)->width()) <= 1);
    shoot(QStringLiteral("07-home.png"));

    // The quick switcher finds the page from part of its title; Return opens it.
    QTest::keyClick(m_app->window.get(), Qt::Key_J, Qt::ControlModifier);
    QuickSwitcher *switcher = nullptr;
    QTRY_VERIFY((switcher = m_app->mainView()->quickSwitcher()) && switcher->isVisible());
    QTRY_VERIFY(switcher->searchField()->hasFocus());
    QCOMPARE(switcher->list()->count(), 3);
    QTest::keyClicks(keyboard(), QStringLiteral("camp"));
    QTRY_COMPARE(switcher->list()->count(), 1);
    shoot(QStringLiteral("08-quick-switcher.png"), switcher);
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTRY_VERIFY(m_app->pageView());
    QCOMPARE(m_app->pageView()->titleField()->toRawText(), kCampingTitle);
    QTRY_COMPARE(shownBlocks(m_app->pageView()), kCampingBlocks);
    // The opened page has the keyboard, at the end of its first block.
    activate(m_app->window.get());
    QTest::keyClicks(keyboard(), QStringLiteral(" and pegs"));
    QStringList blocks = kCampingBlocks;
    blocks[0] = QStringLiteral("text: Pack the **tent** and pegs");
    waitUntilOnTheService(blocks, kCampingTitle);
}

QTEST_MAIN(TestNewUserJourney)
#include "tst_new_user_journey.moc"
