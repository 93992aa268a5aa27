#include "support/journey.h"

#include "blocks/block_view.h"
#include "editor/block_row.h"
#include "editor/rich_text_editor.h"
#include "editor/slash_menu.h"
#include "fake-service/fake_service.h"
#include "library/library_list_view.h"
#include "library/library_row_model.h"
#include "platform/icon_theme.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

#include "app/page_panels.h"
#include "app/page_sheets.h"
#include "app/sync_button.h"

#include <QMessageBox>

using namespace std::chrono_literals;

namespace journey {

std::unique_ptr<Launch> launch(AppDevice &device)
{
    return launch(device, {});
}

MainView::Parts pageParts()
{
    MainView::Parts parts;
    parts.panel = makePagePanel;
    parts.sheet = makePageSheet;
    return parts;
}

std::unique_ptr<Launch> launch(AppDevice &device, MainView::Parts parts)
{
    auto launched = std::make_unique<Launch>();
    launched->app = std::make_unique<AppHarness>(device);
    launched->app->engine.setTickInterval(100ms);
    // As main() builds it.
    launched->window = std::make_unique<AppWindow>(
        launched->app->context(), [parts](const AppContext &c) { return new MainView(c, parts); });
    launched->window->resize(1200, 800);
    launched->window->show();
    if (!QTest::qWaitForWindowExposed(launched->window.get()))
        return nullptr;
    activate(launched->window.get());
    return launched;
}

void quit(std::unique_ptr<Launch> &launched)
{
    if (!launched)
        return;
    launched->window->close();
    launched->window.reset();
    launched->app->engine.stopLoop();
    QTRY_VERIFY_WITH_TIMEOUT(!launched->app->engine.isSyncing(), kWait);
    launched->app.reset();
    launched.reset();
}

void activate(QWidget *window)
{
    // Offscreen, Qt's own word makes a window active; on a display, the display's focus has to move.
    window->activateWindow();
    QApplication::setActiveWindow(window);
    QVERIFY(QTest::qWaitForWindowActive(window));
}

QStringList sidebarRows(LibraryView *sidebar)
{
    QStringList out;
    if (!sidebar)
        return out;
    const LibraryRowModel &model = sidebar->rowModel();
    for (int i = 0; i < model.rowCount(); ++i) {
        const QModelIndex index = model.index(i);
        const QString indent(2 * index.data(LibraryRowModel::DepthRole).toInt(), QLatin1Char(' '));
        const QString icon = index.data(LibraryRowModel::IconRole).toString();
        out << indent + (icon.isEmpty() ? QString() : icon + QLatin1Char(' ')) + index.data().toString();
    }
    return out;
}

QModelIndex sidebarRow(LibraryView *sidebar, const QString &name)
{
    const LibraryRowModel &model = sidebar->rowModel();
    for (int i = 0; i < model.rowCount(); ++i) {
        if (model.index(i).data().toString() == name)
            return model.index(i);
    }
    return {};
}

void clickRow(LibraryView *sidebar, const QString &name)
{
    const QModelIndex index = sidebarRow(sidebar, name);
    QVERIFY2(index.isValid(), qPrintable(name));
    LibraryListView *list = sidebar->listView();
    list->scrollTo(index);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
}

void expandFolder(LibraryView *sidebar, const QString &name)
{
    const QModelIndex index = sidebarRow(sidebar, name);
    QVERIFY2(index.isValid(), qPrintable(name));
    if (!index.data(LibraryRowModel::ExpandedRole).toBool())
        clickRow(sidebar, name);
}

bool chooseFromRowMenu(LibraryView *sidebar, const QString &name, const QString &item)
{
    const QModelIndex index = sidebarRow(sidebar, name);
    if (!index.isValid())
        return false;
    LibraryListView *list = sidebar->listView();
    const QPoint at = list->visualRect(index).center();
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(list->viewport(), &rightClick);
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    if (!menu || !QTest::qWaitForWindowExposed(menu))
        return false;
    for (QAction *action : menu->actions()) {
        if (action->text() == item) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
            return QTest::qWaitFor([menu = QPointer<QMenu>(menu)] { return !menu || !menu->isVisible(); });
        }
    }
    menu->close();
    return false;
}

QString badge(const Launch &launched)
{
    QLabel *label = launched.mainView() ? launched.mainView()->syncButton()->badge() : nullptr;
    return label && label->isVisible() ? label->text() : QString();
}

bool upToDate(const Launch &launched)
{
    return launched.mainView() &&
           launched.mainView()->syncButton()->toolTip() == QLatin1String("Up to date") &&
           badge(launched).isEmpty();
}

void clickSync(Launch &launched)
{
    SyncEngine &engine = launched.app->engine;
    QTRY_VERIFY_WITH_TIMEOUT(!engine.isSyncing(), kWait);
    QSignalSpy cycles(&engine, &SyncEngine::cycleFinished);
    QTest::mouseClick(launched.mainView()->syncButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!cycles.isEmpty() && !engine.isSyncing(), kWait);
}

bool syncOnlyWhenTold(Launch &launched, QDateTime &now)
{
    SyncEngine &engine = launched.app->engine;
    engine.stopLoop();
    engine.setQueueDelay(24h);
    if (!QTest::qWaitFor([&] { return !engine.isSyncing(); }, kWait))
        return false;
    now = QDateTime::currentDateTimeUtc();
    engine.setClock([&now] { return now; });
    return true;
}

qint64 pageServerID(FakeService &fake, const QString &title)
{
    for (const auto &[id, page] : fake.state().pages) {
        if (page.title == title)
            return id;
    }
    return 0;
}

void focus(QWidget *editor)
{
    QVERIFY(editor);
    // A click in a window makes it the active one (offscreen, nothing does that when a sheet closes).
    if (!editor->isActiveWindow())
        activate(editor->window());
    QTest::mouseClick(editor, Qt::LeftButton, {}, QPoint(editor->width() - 4, editor->height() / 2));
    QTRY_VERIFY(editor->hasFocus());
    QTest::keyClick(editor, Qt::Key_End, Qt::ControlModifier);
}

void settleLayout()
{
    // A layout pass can make another one.
    for (int pass = 0; pass < 4; ++pass)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

QWidget *keyboard()
{
    return QApplication::focusWidget();
}

std::vector<BlockRow *> rowsAsDrawn(PageView *view)
{
    if (!view || !view->topLevelList())
        return {};
    std::vector<BlockRow *> rows = view->topLevelList()->rows();
    std::erase_if(rows, [](BlockRow *row) { return !row->isVisible(); });
    std::sort(rows.begin(), rows.end(), [view](BlockRow *a, BlockRow *b) {
        return a->mapTo(view, QPoint()).y() < b->mapTo(view, QPoint()).y();
    });
    return rows;
}

QPushButton *buttonLabelled(QWidget *root, const QString &text)
{
    for (QPushButton *button : root->findChildren<QPushButton *>()) {
        if (button->text() == text && button->isVisible())
            return button;
    }
    return nullptr;
}

QPixmap picture(QWidget *window, QWidget *sheet)
{
    QPixmap shot = window->grab();
    if (sheet) {
        QPainter painter(&shot);
        painter.fillRect(shot.rect(), QColor(0, 0, 0, 60));
        const QRect frame(QPoint((shot.width() - sheet->width()) / 2, 60), sheet->size());
        painter.fillRect(frame, sheet->palette().color(QPalette::Window));
        painter.drawPixmap(frame.topLeft(), sheet->grab());
        painter.setPen(sheet->palette().color(QPalette::Mid));
        painter.drawRect(frame.adjusted(-1, -1, 0, 0));
    }
    return shot;
}

void typeBlocks(PageView *page, const QStringList &texts)
{
    for (int i = 0; i < texts.size(); ++i) {
        QTest::keyClick(keyboard(), Qt::Key_Return);
        QTRY_COMPARE(page->topLevelList()->rows().size(), size_t(i + 1));
        BlockRow *row = page->topLevelList()->rows().at(size_t(i));
        QTRY_VERIFY(row->richEditor() && row->richEditor()->hasFocus());
        QTest::keyClicks(keyboard(), texts.at(i));
    }
}

void addBlockOfKind(PageView *page, const QString &query, const QString &kind, BlockRow **made,
                    const std::function<void()> &beforeChoosing)
{
    addBlockOfKind(page, query, kind, Landing::text, made, beforeChoosing);
}

void chooseKind(BlockRow *row, const QString &query, const QString &kind, Landing landing,
                const std::function<void()> &beforeChoosing)
{
    QVERIFY(row && row->richEditor());
    focus(row->richEditor());
    QTest::keyClicks(row->richEditor(), QLatin1Char('/') + query);
    SlashMenu *menu = row->slashMenu();
    QVERIFY(menu && menu->isVisible());
    QPushButton *item = nullptr;
    for (QPushButton *button : menu->findChildren<QPushButton *>()) {
        if (button->property("kind").toString() == kind)
            item = button;
    }
    QVERIFY2(item, qPrintable(kind));
    if (beforeChoosing)
        beforeChoosing();
    QTest::mouseClick(item, Qt::LeftButton);
    QTRY_VERIFY(!menu->isVisible());
    switch (landing) {
    case Landing::text:
        QTRY_VERIFY(row->richEditor() && row->richEditor()->hasFocus());
        break;
    case Landing::entry:
        QTRY_VERIFY(row->kindView() && row->kindView()->entryWidget() &&
                    row->kindView()->entryWidget()->hasFocus());
        break;
    case Landing::elsewhere:
        break;
    }
    QCOMPARE(row->model().currentBlock().type, kind);
}

void addBlockOfKind(PageView *page, const QString &query, const QString &kind, Landing landing,
                    BlockRow **made, const std::function<void()> &beforeChoosing)
{
    *made = nullptr;
    QVERIFY(page);
    const int before = int(page->topLevelList()->rows().size());
    QTest::mouseClick(page->addBlockButton(), Qt::LeftButton);
    QTRY_COMPARE(int(page->topLevelList()->rows().size()), before + 1);
    BlockRow *row = page->topLevelList()->rows().back();
    chooseKind(row, query, kind, landing, beforeChoosing);
    if (!QTest::currentTestFailed())
        *made = row;
}

void chooseFromList(QComboBox *box, const QString &item)
{
    QTest::mouseClick(box, Qt::LeftButton);
    QAbstractItemView *list = box->view();
    QTRY_VERIFY(list->isVisible());
    for (int i = 0; i < box->count() && list->currentIndex().data().toString() != item; ++i)
        QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(list->currentIndex().data().toString(), item);
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(!list->isVisible());
    QCOMPARE(box->currentText(), item);
}

void scrollToRow(PageView *page, QWidget *row)
{
    settleLayout();
    QScrollArea *scroll = page->scrollArea();
    scroll->verticalScrollBar()->setValue(row->mapTo(scroll->widget(), QPoint()).y() - 8);
    settleLayout();
}

} // namespace journey

namespace journey {

void applyScreenshotTheme()
{
    if (qEnvironmentVariable("PENROOST_SCREENSHOT_THEME") != QLatin1String("dark"))
        return;
    QPalette dark;
    const QColor window(0x1f, 0x1f, 0x22), base(0x28, 0x28, 0x2c), text(0xe8, 0xe8, 0xea);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, base);
    dark.setColor(QPalette::AlternateBase, window.lighter(115));
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, QColor(0x33, 0x33, 0x38));
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::BrightText, Qt::white);
    dark.setColor(QPalette::ToolTipBase, base);
    dark.setColor(QPalette::ToolTipText, text);
    dark.setColor(QPalette::PlaceholderText, QColor(0x8e, 0x8e, 0x93));
    dark.setColor(QPalette::Highlight, QColor(0x0a, 0x84, 0xff));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Link, QColor(0x40, 0x9c, 0xff));
    dark.setColor(QPalette::Light, QColor(0x48, 0x48, 0x4e));
    dark.setColor(QPalette::Midlight, QColor(0x3a, 0x3a, 0x40));
    dark.setColor(QPalette::Mid, QColor(0x2e, 0x2e, 0x33));
    dark.setColor(QPalette::Dark, QColor(0x15, 0x15, 0x17));
    dark.setColor(QPalette::Shadow, Qt::black);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(0x6e, 0x6e, 0x73));
    QApplication::setPalette(dark);
}

} // namespace journey

namespace journey {

std::unique_ptr<Launch> launchOnFakeService(FakeService &fake, AppDevice &device)
{
    IconTheme::installFallback(); // as main() does
    applyScreenshotTheme();
    if (!fake.start())
        return nullptr;
    device.origin = fake.origin();
    return launch(device, pageParts());
}

QString screenshotFolder()
{
    const QString folder = qEnvironmentVariable("PENROOST_SCREENSHOTS");
    if (!folder.isEmpty())
        QDir().mkpath(folder);
    return folder;
}

bool saveShot(const QString &folder, const QString &name, QWidget *window, QWidget *sheet)
{
    if (folder.isEmpty())
        return true;
    settleLayout();
    return picture(window, sheet).save(QDir(folder).filePath(name));
}

void signInThroughTheForm(Launch &launched, const QString &email, const QString &password,
                          const QString &name)
{
    if (WelcomeView *welcome = launched.welcomeView()) {
        QTest::mouseClick(welcome->continueButton(), Qt::LeftButton);
        QTRY_VERIFY(launched.authView());
    }
    AuthView *auth = launched.authView();
    QVERIFY(auth);
    if (!name.isEmpty()) {
        QTest::mouseClick(auth->segment(AuthView::Mode::signup), Qt::LeftButton);
        QTest::keyClicks(auth->nameField(), name);
    }
    QTest::keyClicks(auth->emailField(), email);
    QTest::keyClicks(auth->passwordField(), password);
    QVERIFY(auth->submitButton()->isEnabled());
    QTest::mouseClick(auth->submitButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(launched.mainView(), kWait);
    // Nothing can be made before the account's workspace has been read.
    QTRY_VERIFY_WITH_TIMEOUT(!launched.app->store.state().workspaces.empty(), kWait);
}

bool answerQuestion(QWidget *owner, const QString &button)
{
    QMessageBox *box = nullptr;
    const bool shown = QTest::qWaitFor(
        [&] {
            for (QMessageBox *candidate : owner->findChildren<QMessageBox *>()) {
                if (candidate->isVisible())
                    box = candidate;
            }
            return box != nullptr;
        },
        kWait);
    if (!shown)
        return false;
    QPushButton *clicked = buttonLabelled(box, button);
    if (!clicked)
        return false;
    QTest::mouseClick(clicked, Qt::LeftButton);
    return true;
}

} // namespace journey
