#pragma once

#include "app/root_view.h"
#include "ui/app_context.h"

#include <QList>
#include <QMainWindow>

#include <chrono>

class QAction;
class ToastOverlay;

// The one main window: the root view as its content, the menu commands, and the toast overlay laid
// over every screen, the sign-in screen included.
class AppWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr const char *kTitle = "Penroost Derud";
    static constexpr const char *kSaveBlocked =
        "Some notes could not be read and no copy of them could be kept, so changes are not being saved. "
        "Make sure the notes folder can be written to, then reopen the app.";
    static constexpr std::chrono::milliseconds kSaveBlockedDuration{30000};

    AppWindow(const AppContext &context, RootView::MainViewFactory mainView, QWidget *parent = nullptr);

    RootView *rootView() const { return m_root; }
    ToastOverlay *toastOverlay() const { return m_overlay; }
    // "New Page", "Quick Switch…", "Penroost Derud Help".
    const QList<QAction *> &menuActions() const { return m_actions; }

    // File > "Quit": closes the window, which lets an open page queue its pending edits, and ends the
    // application's event loop; the state is written as the loop ends. Nothing happens when the
    // window stays open.
    void quit();

    // Another launch on the same data folder asked for this window: shown, unminimized, raised and
    // made active.
    void bringToFront();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // File > "Close Window" and "Quit", and the Edit menu.
    void installWindowCommands();

    AppContext m_context;
    RootView *m_root;
    ToastOverlay *m_overlay;
    QList<QAction *> m_actions;
};
