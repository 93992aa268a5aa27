#include "app/app_window.h"

#include "app/menu_commands.h"
#include "app/toast_overlay.h"

AppWindow::AppWindow(const AppContext &context, RootView::MainViewFactory mainView, QWidget *parent)
    : QMainWindow(parent)
    , m_root(new RootView(context, std::move(mainView), this))
    , m_overlay(new ToastOverlay(*context.toasts, this))
{
    setWindowTitle(QString::fromUtf8(kTitle));
    setUnifiedTitleAndToolBarOnMac(true);
    setCentralWidget(m_root);
    m_actions = MenuCommands::install(*this);
    resize(1100, 720);
}
