#pragma once

#include "app/app_window.h"
#include "app/auth_view.h"
#include "app/main_view.h"
#include "app/welcome_view.h"
#include "editor/page_view.h"
#include "library/library_view.h"
#include "support/app_harness.h"

#include <QDateTime>
#include <QModelIndex>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class BlockRow;
class FakeService;
class QComboBox;
class QPushButton;
class QWidget;

// Steps the end-to-end journeys share: the app launched as main() builds it, driven only through
// its widgets.
namespace journey {

// Long enough for a slow machine under the sanitizers; the waits end as soon as the condition holds.
constexpr int kWait = 20000;

// One launch of the app on a device: the long-lived objects and the window main() makes.
struct Launch {
    std::unique_ptr<AppHarness> app;
    std::unique_ptr<AppWindow> window;

    MainView *mainView() const { return qobject_cast<MainView *>(window->rootView()->currentScreen()); }
    AuthView *authView() const { return qobject_cast<AuthView *>(window->rootView()->currentScreen()); }
    WelcomeView *welcomeView() const
    {
        return qobject_cast<WelcomeView *>(window->rootView()->currentScreen());
    }
    LibraryView *sidebar() const { return mainView() ? mainView()->sidebar() : nullptr; }
    PageView *pageView() const
    {
        return mainView() ? qobject_cast<PageView *>(mainView()->detail()) : nullptr;
    }
};

// Null when the window never showed.
std::unique_ptr<Launch> launch(AppDevice &device);
// As the process ends: the window goes (the open page queues its edits), then the long-lived objects.
void quit(std::unique_ptr<Launch> &launched);
void activate(QWidget *window);

// The sidebar's rows as drawn: indented by depth, icon and name.
QStringList sidebarRows(LibraryView *sidebar);
QModelIndex sidebarRow(LibraryView *sidebar, const QString &name);
void clickRow(LibraryView *sidebar, const QString &name);
// Opens a closed folder with a click; an open one is left as it is.
void expandFolder(LibraryView *sidebar, const QString &name);
// Right-clicks the row and clicks the item in the menu that opens.
bool chooseFromRowMenu(LibraryView *sidebar, const QString &name, const QString &item);
// The count on the sync button; empty while it shows none.
QString badge(const Launch &launched);
// The sync button says "Up to date", with no count.
bool upToDate(const Launch &launched);
// Clicks the sync button and waits for the cycle it starts.
void clickSync(Launch &launched);
// From now on the engine syncs only when told, on the clock `now` (set to the present here); false
// when the cycle under way does not end.
bool syncOnlyWhenTold(Launch &launched, QDateTime &now);

// The id of the first page the service holds with the title; 0 when none.
qint64 pageServerID(FakeService &fake, const QString &title);

// Clicks the editor's right end (its window made active first) and moves to the end of its text.
void focus(QWidget *editor);
// Lays the windows out as the event loop would before the user sees them.
void settleLayout();
// Where the user's typing goes now.
QWidget *keyboard();
// The page's top-level rows on screen, in the order they are drawn.
std::vector<BlockRow *> rowsAsDrawn(PageView *view);
// The visible push button under `root` with the text.
QPushButton *buttonLabelled(QWidget *root, const QString &text);

// What the window shows; a sheet (a window of its own) is drawn over the dimmed window, near its
// top.
QPixmap picture(QWidget *window, QWidget *sheet = nullptr);

// From the title of a new page: Return goes on to the first block, then each Return in a block
// starts the next one, and each text is typed where the keyboard lands.
void typeBlocks(PageView *page, const QStringList &texts);

// "Add block" on the open page, then the kind picked from the slash menu opened by typing "/" and
// the query. `beforeChoosing` runs while the menu shows (a screenshot). `made` gets the new row; it
// stays null when a step fails.
void addBlockOfKind(PageView *page, const QString &query, const QString &kind, BlockRow **made,
                    const std::function<void()> &beforeChoosing = {});

// Where the keyboard is once a kind is picked: in the row's text, in the kind's own field (an
// address, a search), or anywhere else (a kind that takes no typing passes it to the next row).
enum class Landing { text, entry, elsewhere };
// Types "/" and the query into the row's text (the keyboard put there first) and picks the kind
// from the slash menu; `beforeChoosing` runs while the menu shows.
void chooseKind(BlockRow *row, const QString &query, const QString &kind, Landing landing,
                const std::function<void()> &beforeChoosing = {});
// "Add block", then the kind as chooseKind picks it; for the kinds without a rich text view too.
void addBlockOfKind(PageView *page, const QString &query, const QString &kind, Landing landing,
                    BlockRow **made, const std::function<void()> &beforeChoosing = {});
// Scrolls the page so that the row is at the top of what it shows.
void scrollToRow(PageView *page, QWidget *row);
// Opens the drop-down list with a click and picks the item with the keyboard.
void chooseFromList(QComboBox *box, const QString &item);

} // namespace journey

namespace journey {

// Under PENROOST_SCREENSHOT_THEME=dark, gives the application the palette a dark desktop gives it,
// before any window is made; the light default otherwise. Screenshot runs take both.
void applyScreenshotTheme();

} // namespace journey

namespace journey {

// The main screen's page parts as main() passes them: the side panels and the sheets of the page
// toolbar.
MainView::Parts pageParts();
// A launch whose page toolbar opens its panels and sheets, as the app's does.
std::unique_ptr<Launch> launch(AppDevice &device, MainView::Parts parts);
// The fake service started and the app launched on it with its page parts, themed as main() and a
// screenshot run theme it; null when either fails.
std::unique_ptr<Launch> launchOnFakeService(FakeService &fake, AppDevice &device);

// The folder PENROOST_SCREENSHOTS names, made; empty when the run takes no pictures.
QString screenshotFolder();
// Saves what the window, and the sheet over it, shows once laid out, as `name` in `folder`; true
// without a folder.
bool saveShot(const QString &folder, const QString &name, QWidget *window, QWidget *sheet = nullptr);

// "Get started" on the welcome screen, then the form filled and sent: a new account when `name` is
// given, else a sign-in. Returns once the main screen shows.
void signInThroughTheForm(Launch &launched, const QString &email, const QString &password,
                          const QString &name = {});

// The visible window-modal sheet of the type the main screen opened; null while none shows.
template <class Sheet>
Sheet *shownSheet(const Launch &launched)
{
    MainView *main = launched.mainView();
    if (!main)
        return nullptr;
    for (Sheet *sheet : main->findChildren<Sheet *>()) {
        if (sheet->isVisible())
            return sheet;
    }
    return nullptr;
}

// Clicks the button with the text in the message box `owner` opened; false when none shows.
bool answerQuestion(QWidget *owner, const QString &button);

} // namespace journey
