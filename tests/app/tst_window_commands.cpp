#include "api/api_client.h"
#include "api/wire/pages.h"
#include "app/app_window.h"
#include "app/auth_view.h"
#include "app/local_data_owner.h"
#include "app/main_view.h"
#include "blocks/block_content.h"
#include "collab/inline_comment_form.h"
#include "editor/block_row.h"
#include "editor/comment_button.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "library/library_list_view.h"
#include "library/library_view.h"
#include "support/app_harness.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

constexpr int kWait = 10000;
const QString kPassword = QStringLiteral("secret12");
const QString kClipboardAtStart = QStringLiteral("from before");

// The text of a block as the store holds it.
QString storedText(const LocalStore &store, const QString &localID)
{
    const FNBlock *block = store.block(localID);
    if (!block)
        return QStringLiteral("<no block>");
    return BlockContent::readString(BlockContent::decode(block->contentJSON), QStringLiteral("text"));
}

// Pixels of the destructive red (rather than the black, grey or blue of the other items).
int reddishPixels(const QImage &image, const QRect &area)
{
    int count = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 170 && c.red() - c.green() > 90 && c.red() - c.blue() > 90)
                ++count;
        }
    }
    return count;
}

// Keys as the window system delivers them: to an open popup, else to the focused widget.
void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(static_cast<QWidget *>(nullptr), key, modifiers);
}

void typeText(const QString &text)
{
    QTest::keyClicks(static_cast<QWidget *>(nullptr), text);
}

// Saved for a person to look at when PENROOST_SCREENSHOTS names a folder.
void keepShot(const QImage &image, const QString &name)
{
    const QString folder = qEnvironmentVariable("PENROOST_SCREENSHOTS");
    if (!folder.isEmpty())
        image.save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

QStringList enabledItems(QMenu *menu)
{
    QStringList out;
    for (QAction *action : menu->actions()) {
        if (!action->isSeparator() && action->isEnabled())
            out << action->text();
    }
    return out;
}

} // namespace

class TestWindowCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void editMenuActsOnTheFocusedBlock_data();
    void editMenuActsOnTheFocusedBlock();
    void editItemsFollowTheFocusedEditor();
    void editMenuInTheSignInFields_data();
    void editMenuInTheSignInFields();
    void quitWritesThePendingEdits_data();
    void quitWritesThePendingEdits();
    void destructiveMenuItemsAreRed_data();
    void destructiveMenuItemsAreRed();
    void destructiveDialogsDefaultToCancel_data();
    void destructiveDialogsDefaultToCancel();
    void returnSubmitsTheSignInForm_data();
    void returnSubmitsTheSignInForm();
    void commentButtonOpensTheCommentForm_data();
    void commentButtonOpensTheCommentForm();
    void aPageOpensAtItsTop();

private:
    void signIn();
    void showWindow();
    // Opens a page of the account holding one text block per entry and waits for its rows.
    PageView *openPage(const QStringList &texts);
    BlockRow *row(int index) const;
    void focusEditor(QWidget *editor);
    // Opens the menu from the window's menu bar and clicks the item, as a user does.
    void choose(const QString &menuTitle, const QString &item);
    QMenu *menuTitled(const QString &title) const;
    MainView *mainView() const;

    FakeService m_fake;
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<AppWindow> m_window;
    FakeService::Account m_account;
    QStringList m_blockIDs;
    int m_accounts = 0;
};

void TestWindowCommands::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestWindowCommands::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
    m_device = std::make_unique<AppDevice>(m_fake.origin());
    m_app = std::make_unique<AppHarness>(*m_device);
    m_app->settings.setBool(QString::fromLatin1(RootView::didSeeWelcomeKey), true);
    m_blockIDs.clear();
    QApplication::clipboard()->setText(kClipboardAtStart);
}

void TestWindowCommands::cleanup()
{
    m_window.reset();
    m_app->engine.stopLoop();
    QTRY_VERIFY_WITH_TIMEOUT(!m_app->engine.isSyncing(), kWait);
    m_app.reset();
    m_device.reset();
}

void TestWindowCommands::signIn()
{
    const QString email = QStringLiteral("window%1@example.com").arg(++m_accounts);
    m_account = m_fake.createAccount(email, kPassword, QStringLiteral("Win Dow"));
    QVERIFY(m_account.userId != 0);
    m_app->settings.setInteger(QString::fromLatin1(LocalDataOwner::settingsKey), m_account.userId);
    m_app->session.signIn(m_account.token, AuthUser{m_account.userId, QStringLiteral("Win Dow"), email});
}

void TestWindowCommands::showWindow()
{
    // As main() builds it.
    m_window =
        std::make_unique<AppWindow>(m_app->context(), [](const AppContext &c) { return new MainView(c); });
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    // Offscreen, Qt's own word makes a window active; on a display, the display's focus has to move.
    m_window->activateWindow();
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

MainView *TestWindowCommands::mainView() const
{
    return m_window ? qobject_cast<MainView *>(m_window->rootView()->currentScreen()) : nullptr;
}

PageView *TestWindowCommands::openPage(const QStringList &texts)
{
    signIn();
    PageCreateReq req;
    req.workspace_id = m_account.workspaceId;
    req.title = QStringLiteral("Notes");
    const auto created = runTask(TestDevice(m_fake.origin(), m_account.token).client().createPage(req));
    if (!created.ok())
        return nullptr;
    FNPage page;
    page.title = req.title;
    page.serverID = created.value->page.id;
    page.workspaceServerID = m_account.workspaceId;
    m_app->store.upsertPage(page);
    for (int i = 0; i < texts.size(); ++i) {
        FNBlock block;
        block.pageLocalID = page.localID;
        block.pageServerID = page.serverID;
        block.type = QStringLiteral("text");
        block.position = i;
        block.contentJSON = BlockContent::encode({{"text", texts[i]}}).value_or(QString());
        m_app->store.upsertBlock(block);
        m_blockIDs << block.localID;
    }
    showWindow();
    MainView *main = mainView();
    if (!main)
        return nullptr;
    main->setSelectedPage(page.localID);
    auto *view = qobject_cast<PageView *>(main->detail());
    if (!view || !QTest::qWaitFor([&] { return view->isLaidOut() && row(texts.size() - 1); }, kWait))
        return nullptr;
    return view;
}

BlockRow *TestWindowCommands::row(int index) const
{
    auto *view = mainView() ? qobject_cast<PageView *>(mainView()->detail()) : nullptr;
    return view && index < m_blockIDs.size() ? view->row(m_blockIDs[index]) : nullptr;
}

void TestWindowCommands::focusEditor(QWidget *editor)
{
    QVERIFY(editor);
    QTest::mouseClick(editor, Qt::LeftButton, {}, QPoint(editor->width() - 4, editor->height() / 2));
    QTRY_VERIFY(editor->hasFocus());
    QTest::keyClick(editor, Qt::Key_End, Qt::ControlModifier);
}

QMenu *TestWindowCommands::menuTitled(const QString &title) const
{
    for (QAction *action : m_window->menuBar()->actions()) {
        if (action->text() == title)
            return action->menu();
    }
    return nullptr;
}

void TestWindowCommands::choose(const QString &menuTitle, const QString &item)
{
    QMenuBar *bar = m_window->menuBar();
    QMenu *menu = menuTitled(menuTitle);
    QVERIFY2(menu, qPrintable(menuTitle));
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    QAction *target = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->text() == item)
            target = action;
    }
    QVERIFY2(target, qPrintable(item));
    QVERIFY2(target->isEnabled(), qPrintable(item + QStringLiteral(" is disabled")));
    keepShot(menu->grab().toImage(), QStringLiteral("menu-open-") + item);
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(target).center());
    QTRY_VERIFY(!menu->isVisible());
}

void TestWindowCommands::editMenuActsOnTheFocusedBlock_data()
{
    // Steps, "|" between them: type:TEXT, select:N (the N characters left of the caret), home, end,
    // edit:ITEM (from the Edit menu), key:SEQUENCE (pressed in the editor).
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("clipboard");

    QTest::newRow("cut and paste move text") << "type:hello world|select:5|edit:Cut|home|edit:Paste"
                                             << "worldfirsthello "
                                             << ""
                                             << "world";
    QTest::newRow("copy and paste") << "type:abc|select:2|edit:Copy|end|edit:Paste"
                                    << "firstabcbc"
                                    << ""
                                    << "bc";
    QTest::newRow("select all takes the block's text") << "type: and more|home|edit:Select All"
                                                       << "first and more"
                                                       << "first and more" << kClipboardAtStart;
    QTest::newRow("undo reverts the last typing") << "type:hello|select:3|edit:Cut|type:p|edit:Undo"
                                                  << "firsthe"
                                                  << ""
                                                  << "llo";
    QTest::newRow("undo twice, then redo")
        << "type:hello|select:3|edit:Cut|type:p|edit:Undo|edit:Undo|edit:Redo"
        << "firsthe"
        << ""
        << "llo";
    // The editor takes its own key: the menu's item must not undo a second step.
    QTest::newRow("Ctrl+Z undoes one step") << "type:hello|select:3|edit:Cut|key:Ctrl+Z"
                                            << "firsthello"
                                            << ""
                                            << "llo";
}

void TestWindowCommands::editMenuActsOnTheFocusedBlock()
{
    QFETCH(QString, steps);
    QFETCH(QString, text);
    QFETCH(QString, selected);
    QFETCH(QString, clipboard);

    QVERIFY(openPage({QStringLiteral("first"), QStringLiteral("second")}));
    RichTextEditor *editor = row(0)->richEditor();
    focusEditor(editor);
    for (const QString &step : steps.split(QLatin1Char('|'))) {
        const QString arg = step.section(QLatin1Char(':'), 1);
        if (step.startsWith(QLatin1String("type:"))) {
            QTest::keyClicks(editor, arg);
        } else if (step.startsWith(QLatin1String("select:"))) {
            for (int i = 0; i < arg.toInt(); ++i)
                QTest::keyClick(editor, Qt::Key_Left, Qt::ShiftModifier);
        } else if (step == QLatin1String("home")) {
            QTest::keyClick(editor, Qt::Key_Home, Qt::ControlModifier);
        } else if (step == QLatin1String("end")) {
            QTest::keyClick(editor, Qt::Key_End, Qt::ControlModifier);
        } else if (step.startsWith(QLatin1String("edit:"))) {
            choose(QStringLiteral("&Edit"), arg);
        } else if (step.startsWith(QLatin1String("key:"))) {
            QTest::keySequence(editor, QKeySequence(arg));
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
        if (QTest::currentTestFailed())
            return;
    }

    QVERIFY(editor->hasFocus());
    QCOMPARE(editor->toRawText(), text);
    QCOMPARE(editor->textCursor().selectedText(), selected);
    QCOMPARE(QApplication::clipboard()->text(), clipboard);
    // Edits from the menu are the block's edits like typed ones: they reach the store.
    QTRY_COMPARE_WITH_TIMEOUT(storedText(m_app->store, m_blockIDs[0]), text, kWait);
    QCOMPARE(storedText(m_app->store, m_blockIDs[1]), QStringLiteral("second"));
}

void TestWindowCommands::editItemsFollowTheFocusedEditor()
{
    QVERIFY(openPage({QString()}));
    QMenu *edit = menuTitled(QStringLiteral("&Edit"));
    QVERIFY(edit);
    RichTextEditor *editor = row(0)->richEditor();
    focusEditor(editor);
    QCOMPARE(enabledItems(edit).filter(QRegularExpression("Cut|Copy|Paste|Select All")),
             QStringList{QStringLiteral("Paste")});

    QTest::keyClicks(editor, QStringLiteral("abc"));
    QCOMPARE(enabledItems(edit), (QStringList{"Undo", "Paste", "Select All"}));
    QTest::keyClick(editor, Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(enabledItems(edit), (QStringList{"Undo", "Cut", "Copy", "Paste", "Select All"}));

    // Away from text, every item steps aside, and its key with it: the sidebar keeps its own Ctrl+A.
    LibraryListView *list = mainView()->sidebar()->listView();
    list->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(list->hasFocus());
    QCOMPARE(enabledItems(edit), QStringList());
    QTest::keySequence(list, QKeySequence::SelectAll);
    QCOMPARE(editor->textCursor().selectedText(), QStringLiteral("c"));

    // The page's title is text as well; an emptied clipboard leaves nothing to paste.
    focusEditor(qobject_cast<PageView *>(mainView()->detail())->titleField());
    QCOMPARE(enabledItems(edit), (QStringList{"Paste", "Select All"}));
    QApplication::clipboard()->clear();
    QCOMPARE(enabledItems(edit), QStringList{QStringLiteral("Select All")});
}

void TestWindowCommands::editMenuInTheSignInFields_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("enabled");

    QTest::newRow("e-mail, all selected")
        << "email"
        << "al@example.com" << QStringList{"Undo", "Cut", "Copy", "Paste", "Select All"};
    // A password never leaves its field.
    QTest::newRow("password, all selected") << "password"
                                            << "hunter22" << QStringList{"Undo", "Paste", "Select All"};
    QTest::newRow("e-mail, nothing typed") << "email"
                                           << "" << QStringList{"Paste"};
}

void TestWindowCommands::editMenuInTheSignInFields()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QStringList, enabled);

    showWindow();
    auto *auth = qobject_cast<AuthView *>(m_window->rootView()->currentScreen());
    QVERIFY(auth);
    QLineEdit *edited = field == QLatin1String("email") ? auth->emailField() : auth->passwordField();
    focusEditor(edited);
    QTest::keyClicks(edited, typed);
    QTest::keySequence(edited, QKeySequence::SelectAll);
    QMenu *edit = menuTitled(QStringLiteral("&Edit"));
    QCOMPARE(enabledItems(edit), enabled);
    if (!enabled.contains(QStringLiteral("Cut")))
        return;

    // Cut from the menu empties the field, and the form follows it.
    choose(QStringLiteral("&Edit"), QStringLiteral("Cut"));
    QCOMPARE(edited->text(), QString());
    QCOMPARE(QApplication::clipboard()->text(), typed);
    QCOMPARE(auth->form().email(), QString());
}

void TestWindowCommands::quitWritesThePendingEdits_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Quit (Ctrl+Q)") << int(Qt::Key_Q);
    QTest::newRow("Close Window (Ctrl+W)") << int(Qt::Key_W);
}

void TestWindowCommands::quitWritesThePendingEdits()
{
    QFETCH(int, key);
    QVERIFY(openPage({QStringLiteral("draft")}));
    RichTextEditor *editor = row(0)->richEditor();
    focusEditor(editor);
    // Typed just before quitting: the row has not committed it yet.
    QTest::keyClicks(editor, QStringLiteral(" final"));
    QCOMPARE(storedText(m_app->store, m_blockIDs[0]), QStringLiteral("draft"));

    // The application's own loop, ended by the command alone (else by the guard, with 99).
    QTimer::singleShot(0, this, [key] { press(Qt::Key(key), Qt::ControlModifier); });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [] { QCoreApplication::exit(99); });
    guard.start(kWait);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!m_window->isVisible());

    // What the next launch reads from disk, while this launch's objects still live.
    LocalStore relaunched(m_device->storeFolder());
    QCOMPARE(storedText(relaunched, m_blockIDs[0]), QStringLiteral("draft final"));
}

void TestWindowCommands::destructiveMenuItemsAreRed_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("red");
    QTest::newRow("Delete block") << "block"
                                  << "Delete block" << true;
    QTest::newRow("a kind in the block menu") << "block"
                                              << "Heading 1" << false;
    QTest::newRow("Log out") << "account"
                             << "Log out" << true;
    // Leaving the service for good is as destructive as logging out.
    QTest::newRow("Delete account") << "account"
                                    << "Delete account" << true;
    QTest::newRow("Delete page") << "sidebar"
                                 << "Delete page" << true;
    QTest::newRow("Rename in the sidebar") << "sidebar"
                                           << "Rename" << false;
}

void TestWindowCommands::destructiveMenuItemsAreRed()
{
    QFETCH(QString, menu);
    QFETCH(QString, item);
    QFETCH(bool, red);

    QVERIFY(openPage({QStringLiteral("one")}));
    std::unique_ptr<QMenu> rowMenu;
    if (menu == QLatin1String("sidebar")) {
        LibraryView *sidebar = mainView()->sidebar();
        QModelIndex at;
        QTRY_VERIFY((at = sidebar->indexOfRow(QStringLiteral("page:") +
                                              mainView()->selectedPageLocalID().value_or(QString())))
                        .isValid());
        rowMenu.reset(sidebar->contextMenu(at));
    }
    QMenu *shown = menu == QLatin1String("block")     ? row(0)->blockMenu()
                   : menu == QLatin1String("sidebar") ? rowMenu.get()
                                                      : mainView()->accountMenu();
    QAction *action = nullptr;
    for (QAction *candidate : shown->actions()) {
        if (candidate->text() == item)
            action = candidate;
    }
    QVERIFY(action);
    shown->popup(m_window->mapToGlobal(QPoint(40, 40)));
    QVERIFY(QTest::qWaitForWindowExposed(shown));
    const QImage image = shown->grab().toImage();
    keepShot(image, QStringLiteral("menu-") + QString::fromLatin1(QTest::currentDataTag()));
    shown->close();
    const int pixels = reddishPixels(image, shown->actionGeometry(action));
    QVERIFY2(red ? pixels > 10 : pixels == 0, qPrintable(QString::number(pixels)));
}

void TestWindowCommands::destructiveDialogsDefaultToCancel_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("confirmLabel");
    QTest::newRow("Log out") << "logout"
                             << "Log out";
    QTest::newRow("Delete 2 blocks") << "delete"
                                     << "Delete 2 blocks";
}

void TestWindowCommands::destructiveDialogsDefaultToCancel()
{
    QFETCH(QString, action);
    QFETCH(QString, confirmLabel);

    PageView *page = openPage({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")});
    QVERIFY(page);
    if (action == QLatin1String("logout")) {
        mainView()->accountMenu()->actions().at(2)->trigger();
    } else {
        QTest::mouseClick(page->selectButton(), Qt::LeftButton);
        QTest::mouseClick(row(0)->selectBox(), Qt::LeftButton);
        QTest::mouseClick(row(2)->selectBox(), Qt::LeftButton);
        QTest::mouseClick(page->deleteSelectedButton(), Qt::LeftButton);
    }
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = m_window->findChild<QMessageBox *>()) && box->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(box));
    QPushButton *confirm = nullptr;
    QPushButton *cancel = nullptr;
    for (QPushButton *button : box->findChildren<QPushButton *>()) {
        if (button->text() == confirmLabel)
            confirm = button;
        else if (button->text() == QLatin1String("Cancel"))
            cancel = button;
    }
    QVERIFY(confirm && cancel);
    keepShot(box->grab().toImage(), QStringLiteral("dialog-") + action);
    QVERIFY(reddishPixels(confirm->grab().toImage(), confirm->rect()) > 10);
    QCOMPARE(reddishPixels(cancel->grab().toImage(), cancel->rect()), 0);
    QVERIFY(!confirm->isDefault());
    QVERIFY(cancel->isDefault());

    // Return answers with the default: nothing is destroyed.
    QPointer<QMessageBox> guard(box);
    QTest::keyClick(box, Qt::Key_Return);
    QTRY_VERIFY(!guard || !guard->isVisible());
    QVERIFY(m_app->session.token());
    QVERIFY(!mainView()->isLoggingOut());
    for (const QString &id : std::as_const(m_blockIDs))
        QVERIFY(!m_app->store.block(id)->deletedAt);
}

void TestWindowCommands::returnSubmitsTheSignInForm_data()
{
    QTest::addColumn<bool>("signUp");
    QTest::addColumn<bool>("withPassword");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("presses");
    QTest::addColumn<int>("requests");

    QTest::newRow("in the password field") << false << true << "password" << 1 << 1;
    QTest::newRow("in the e-mail field") << false << true << "email" << 1 << 1;
    QTest::newRow("twice: one request in flight") << false << true << "password" << 2 << 1;
    QTest::newRow("sign-up, in the name field") << true << true << "name" << 1 << 1;
    QTest::newRow("without a password") << false << false << "email" << 1 << 0;
}

void TestWindowCommands::returnSubmitsTheSignInForm()
{
    QFETCH(bool, signUp);
    QFETCH(bool, withPassword);
    QFETCH(QString, field);
    QFETCH(int, presses);
    QFETCH(int, requests);

    const QString email = QStringLiteral("return%1@example.com").arg(++m_accounts);
    if (!signUp)
        QVERIFY(m_fake.createAccount(email, kPassword, QStringLiteral("Re Turn")).userId != 0);
    showWindow();
    auto *auth = qobject_cast<AuthView *>(m_window->rootView()->currentScreen());
    QVERIFY(auth);
    if (signUp) {
        QTest::mouseClick(auth->segment(AuthView::Mode::signup), Qt::LeftButton);
        QTest::keyClicks(auth->nameField(), QStringLiteral("Re Turn"));
    }
    QTest::keyClicks(auth->emailField(), email);
    if (withPassword)
        QTest::keyClicks(auth->passwordField(), kPassword);
    QLineEdit *pressedIn = field == QLatin1String("name")    ? auth->nameField()
                           : field == QLatin1String("email") ? auth->emailField()
                                                             : auth->passwordField();
    pressedIn->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(pressedIn->hasFocus());
    for (int i = 0; i < presses; ++i)
        press(Qt::Key_Return);

    const QString path =
        signUp ? QStringLiteral("/api/auth/signup.php") : QStringLiteral("/api/auth/login.php");
    if (requests == 0) {
        QVERIFY(!auth->form().loading());
        QVERIFY(!m_app->session.token());
        QCOMPARE(m_fake.requestsTo(path).size(), 0);
        return;
    }
    QVERIFY(auth->form().loading());
    QTRY_COMPARE_WITH_TIMEOUT(m_window->rootView()->currentRoute(), std::optional(RootView::Route::main),
                              kWait);
    QVERIFY(m_app->session.token());
    QCOMPARE(m_fake.requestsTo(path).size(), requests);
}

void TestWindowCommands::commentButtonOpensTheCommentForm_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::newRow("click on the comment button") << false;
    QTest::newRow("Ctrl+Shift+M") << true;
}

void TestWindowCommands::commentButtonOpensTheCommentForm()
{
    QFETCH(bool, byKey);
    QVERIFY(openPage({QStringLiteral("note")}));
    BlockRow *blockRow = row(0);
    RichTextEditor *editor = blockRow->richEditor();
    focusEditor(editor);
    if (byKey)
        press(Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    else
        QTest::mouseClick(blockRow->commentButton(), Qt::LeftButton);
    QTRY_VERIFY(QApplication::activePopupWidget());
    auto *form = QApplication::activePopupWidget()->findChild<InlineCommentForm *>();
    QVERIFY(form);

    // The keys go where the user's typing goes: into the comment, not the block.
    typeText(QStringLiteral("s!"));
    QCOMPARE(form->field()->toPlainText(), QStringLiteral("s!"));
    QCOMPARE(editor->toRawText(), QStringLiteral("note"));
}

QTEST_MAIN(TestWindowCommands)
#include "tst_window_commands.moc"

// Opening a page puts the keyboard in its first block without scrolling the title away: the page's
// view is sized a turn after it is made.
void TestWindowCommands::aPageOpensAtItsTop()
{
    QStringList texts;
    for (int i = 0; i < 30; ++i)
        texts << QStringLiteral("line %1").arg(i);
    QVERIFY(openPage(texts));
    // Away to home, then back through the sidebar's path, which enters the page.
    MainView *main = mainView();
    const QString pageID = main->selectedPageLocalID().value_or(QString());
    QVERIFY(!pageID.isEmpty());
    main->setSelectedPage(std::nullopt);
    main->openPage(pageID);
    auto *view = qobject_cast<PageView *>(main->detail());
    QVERIFY(view);
    QTRY_VERIFY(row(0) && row(0)->richEditor() && row(0)->richEditor()->hasFocus());
    QTRY_VERIFY(view->isLaidOut());
    QTest::qWait(50);
    QCOMPARE(view->scrollArea()->verticalScrollBar()->value(), 0);
}
