#pragma once

#include "app/home_view.h"
#include "store/fn_page.h"
#include "ui/app_context.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class Confirmer;
class LibraryView;
class LocalStore;
class LogoutFlow;
class PageViewModel;
class QDialog;
class QMenu;
class QSplitter;
class QToolButton;
class QuickSwitcher;
class Settings;
class ShortcutsSheet;
class TrashView;
class SyncButton;
struct StoreState;

// The signed-in user's screen: the library sidebar beside the detail (the open page's editor, or
// the home dashboard while no page is open), the toolbar (sidebar toggle, sync status, account
// menu), the shortcuts sheet, the quick switcher and the logout. It syncs when first shown and each
// time the window becomes active, and reopens the page that was open last.
class MainView : public QWidget
{
    Q_OBJECT
public:
    enum class ColumnVisibility { all, detailOnly };
    // The open page's side panels, shown beside its editor, and its sheets.
    enum class PagePanel { ai, comments, suggestions };
    enum class PageSheet { share, publish, history };

    // An editor for a page. The model, when given, announces the page's panels and sheets. Deleting
    // the editor must queue its pending edits: the logout relies on it.
    struct PageDetail {
        QWidget *editor = nullptr;
        PageViewModel *model = nullptr;
    };
    // What plugs into the screen. An absent page factory makes the page editor; absent panel and
    // sheet factories show none (a factory may also return null for a kind it does not build).
    struct Parts {
        std::function<PageDetail(const AppContext &, const QString &pageLocalID)> page;
        std::function<QWidget *(const AppContext &, PageViewModel &, PagePanel)> panel;
        std::function<QDialog *(const AppContext &, PageViewModel &, PageSheet)> sheet;
    };

    static constexpr const char *lastOpenPageKey = "pn.lastOpenPageLocalID";
    // Its server id once known: a sign-in pulls the pages again under new local ids.
    static constexpr const char *lastOpenPageServerIDKey = "pn.lastOpenPageServerID";
    static constexpr const char *kSidebarTitle = "Library";
    static constexpr const char *kToggleHelp = "Toggle sidebar";
    static constexpr const char *kDeleteAccount = "Delete account";
    static constexpr const char *kLogOut = "Log out";
    static constexpr const char *kDeleteAccountPath = "/delete-account.php";
    // The page editor keeps this width beside its side panels: squeezed further, its title breaks
    // into a letter a line and its toolbar folds away.
    static constexpr int kEditorMinWidth = 320;
    // Likewise the sidebar keeps room for its search field and a page's name.
    static constexpr int kSidebarMinWidth = 200;

    explicit MainView(const AppContext &context, Parts parts = {}, QWidget *parent = nullptr);
    ~MainView() override;

    // From all columns to the detail alone and back; any other state to the detail alone.
    static ColumnVisibility toggled(ColumnVisibility visibility);
    // "Version <short> (<build>)", "?" for a part that is missing.
    static QString versionLine(const std::optional<QString> &shortVersion,
                               const std::optional<QString> &build);
    // The line for this build.
    static QString versionLine();
    QUrl deleteAccountURL() const;
    // The page to reopen: the first live page with the stored local id, else with the stored server id.
    static std::optional<FNPage> lastOpenPage(const StoreState &state, const std::optional<QString> &stored,
                                              const std::optional<QString> &storedServerID = std::nullopt);
    // Stores the last open page's server id when it has one by now.
    static void rememberLastOpenServerID(Settings &settings, const LocalStore &store);

    // Asks the logout question; without one set, a window-modal dialog asks.
    void setConfirmer(Confirmer *confirmer);
    void setLogoutWait(std::chrono::milliseconds wait) { m_logoutWait = wait; }
    // The home dashboard's time source (tests); the system clock by default.
    void setHomeClock(HomeView::Clock clock);

    const std::optional<QString> &selectedPageLocalID() const { return m_selected; }
    // The selection shared with the sidebar, the dashboard and the switcher; remembered as the
    // last open page.
    void setSelectedPage(const std::optional<QString> &localID);
    // Opens a page picked in the sidebar, the dashboard or the switcher, with the keyboard in it.
    void openPage(const QString &localID);
    // Opens a page just made, with the keyboard in its title.
    void openNewPage(const QString &localID);
    ColumnVisibility columnVisibility() const { return m_columnVisibility; }
    void setColumnVisibility(ColumnVisibility visibility);
    void toggleSidebar();

    // Selects the remembered page unless a page is selected already.
    void restoreLastOpenPage();
    // "Log out" in the account menu: asks first.
    void confirmLogout();
    // The confirmed logout: closes the editor (queuing its edits), then runs the flow.
    void logout();
    void showShortcuts();
    void showQuickSwitcher();
    // The trash sheet, one at a time.
    void openTrash();

    LibraryView *sidebar() const { return m_sidebar; }
    QWidget *sidebarColumn() const { return m_sidebarColumn; }
    // The editor or the dashboard, whichever is shown.
    QWidget *detail() const { return m_detail; }
    HomeView *homeView() const;
    PageViewModel *pageModel() const;
    QWidget *panel(PagePanel kind) const;
    QToolButton *sidebarToggle() const { return m_toggle; }
    SyncButton *syncButton() const { return m_syncButton; }
    QToolButton *accountButton() const { return m_accountButton; }
    QMenu *accountMenu() const { return m_accountMenu; }
    ShortcutsSheet *shortcutsSheet() const;
    TrashView *trashView() const;
    QuickSwitcher *quickSwitcher() const;
    LogoutFlow *logoutFlow() const;
    bool isLoggingOut() const { return m_loggingOut; }

Q_SIGNALS:
    // The sidebar asks for the trash.
    void trashRequested();
    // The first sync after the first display has ended and the last page was looked for.
    void firstAppearanceDone();

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QWidget *buildToolbar();
    QWidget *buildSidebar();
    void showDetail();
    HomeView *newHomeView();
    void setDetail(QWidget *widget, PageViewModel *model);
    void closeEditor();
    void syncPanels();
    bool hasPanels() const;
    void deletePanels();
    // The window gets back the width it had before side panels widened it.
    void givePanelWidthBack();
    void presentSheet(PageSheet kind);
    QCoro::Task<> firstAppearance();

    AppContext m_context;
    Parts m_parts;
    std::unique_ptr<Confirmer> m_ownConfirmer;
    Confirmer *m_confirmer;
    std::chrono::milliseconds m_logoutWait;
    HomeView::Clock m_homeClock;

    QSplitter *m_split = nullptr;
    QWidget *m_sidebarColumn = nullptr;
    LibraryView *m_sidebar = nullptr;
    QSplitter *m_detailSplit = nullptr;
    QWidget *m_detail = nullptr;
    QPointer<PageViewModel> m_pageModel;
    std::map<PagePanel, QPointer<QWidget>> m_panels;
    std::optional<int> m_widthBeforePanels;
    QToolButton *m_toggle = nullptr;
    SyncButton *m_syncButton = nullptr;
    QToolButton *m_accountButton = nullptr;
    QMenu *m_accountMenu = nullptr;
    QPointer<ShortcutsSheet> m_shortcuts;
    QPointer<TrashView> m_trash;
    QPointer<QuickSwitcher> m_switcher;
    QPointer<LogoutFlow> m_logoutFlow;

    std::optional<QString> m_selected;
    ColumnVisibility m_columnVisibility = ColumnVisibility::all;
    bool m_editorShown = false;
    bool m_appeared = false;
    bool m_confirmingLogout = false;
    bool m_loggingOut = false;
};
