#pragma once

#include "ui/app_context.h"

#include <QStackedWidget>

#include <functional>
#include <optional>

// The window's content: the welcome screen, the sign-in screen or the main screen, chosen from the
// session's token and the "pn.didSeeWelcome" flag. It restores the saved session before the first
// choice, starts the sync engine whenever the main screen shows, and ends the session when the
// service refuses the token.
class RootView : public QStackedWidget
{
    Q_OBJECT
public:
    enum class Route { welcome, signIn, main };
    // Builds the signed-in user's screen; RootView owns what it returns.
    using MainViewFactory = std::function<QWidget *(const AppContext &)>;

    static constexpr const char *didSeeWelcomeKey = "pn.didSeeWelcome";
    static constexpr const char *kSessionExpiredMessage = "Session expired — please sign in again.";
    // %1 the page or folder, %2 the service's reason.
    static constexpr const char *kChangeRefusedMessage =
        "The server refused your change to “%1”, so it was not saved; this device shows what the server holds. %2";
    // %1 the page, in the trash here; %2 the service's reason.
    static constexpr const char *kTrashedChangeRefusedMessage =
        "The server refused your change to “%1”, so it was not saved; the page is in the trash, and if it "
        "is restored this device shows what the server holds. %2";
    // %1 the page, %2 the service's reason; the second form when its subpages were moved up.
    static constexpr const char *kPageRefusedMessage =
        "The server refused the new page “%1”, so it was not saved; it stays on this device and is sent "
        "again at the next launch. %2";
    static constexpr const char *kPageRefusedMovedMessage =
        "The server refused the new page “%1”, so it was not saved; it stays on this device and is sent "
        "again at the next launch. Its subpages were saved one level up. %2";

    // %1 the folder, %2 the service's reason; the second form when what it held was moved up.
    static constexpr const char *kFolderRefusedMessage =
        "The server refused the new folder “%1”, so it was not saved; it stays on this device and is sent "
        "again at the next launch. %2";
    static constexpr const char *kFolderRefusedMovedMessage =
        "The server refused the new folder “%1”, so it was not saved; it stays on this device and is sent "
        "again at the next launch. What it held was saved one level up. %2";

    RootView(const AppContext &context, MainViewFactory mainView, QWidget *parent = nullptr);

    static Route route(bool hasToken, bool didSeeWelcome);
    // Nothing until the session was restored.
    std::optional<Route> currentRoute() const { return m_route; }
    QWidget *currentScreen() const { return currentWidget(); }

    bool didSeeWelcome() const;
    // The welcome screen's continue action: set once, never cleared.
    void setDidSeeWelcome();

    // "fnAuthExpired": stops the sync loop, ends the session (the local data stays) and says so.
    // Ignored while signed out, so a second report does nothing, and when it names a token other
    // than the session's (a request of an earlier session).
    void handleAuthExpired(const QString &refusedToken = QString());
    void startSync();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void restore();
    void updateRoute();
    QWidget *makeScreen(Route route);

    AppContext m_context;
    MainViewFactory m_mainView;
    bool m_restored = false;
    std::optional<Route> m_route;
};
