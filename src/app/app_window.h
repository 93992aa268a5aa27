#pragma once

#include "app/app_context.h"
#include "app/root_view.h"

#include <QList>
#include <QMainWindow>

class QAction;
class ToastOverlay;

// The one main window: the root view as its content, the menu commands, and the toast overlay laid
// over every screen, the sign-in screen included.
class AppWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr const char *kTitle = "Penroost Derud";

    AppWindow(const AppContext &context, RootView::MainViewFactory mainView, QWidget *parent = nullptr);

    RootView *rootView() const { return m_root; }
    ToastOverlay *toastOverlay() const { return m_overlay; }
    // "New Page", "Quick Switch…", "Penroost Derud Help".
    const QList<QAction *> &menuActions() const { return m_actions; }

private:
    RootView *m_root;
    ToastOverlay *m_overlay;
    QList<QAction *> m_actions;
};
