#include "app/app_window.h"

#include "app/edit_commands.h"
#include "app/menu_commands.h"
#include "store/debouncer.h"
#include "store/local_store.h"
#include "ui/toast_center.h"
#include "ui/toast_overlay.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>

namespace {

constexpr auto kEditMenu = "&Edit";
constexpr auto kCloseWindow = "Close Window";
constexpr auto kQuit = "Quit";
constexpr QKeyCombination kQuitKeys(Qt::ControlModifier, Qt::Key_Q);

} // namespace

AppWindow::AppWindow(const AppContext &context, RootView::MainViewFactory mainView, QWidget *parent)
    : QMainWindow(parent)
    , m_context(context)
    , m_root(new RootView(context, std::move(mainView), this))
    , m_overlay(new ToastOverlay(*context.toasts, this))
{
    setWindowTitle(QString::fromUtf8(kTitle));
    setUnifiedTitleAndToolBarOnMac(true);
    setCentralWidget(m_root);
    m_actions = MenuCommands::install(*this, *context.events);
    installWindowCommands();
    resize(1100, 720);
    // However the application ends (Quit, the last window closed, the desktop session ending), the
    // edits the closing window queued are written before the loop returns, not left to the store's
    // timer or its destructor.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        // An end that did not come through the window (the desktop session ending) closes it now,
        // so the open page queues its edits as it does for Quit.
        if (isVisible())
            close();
        // Waits of views already gone write into the store and queue their page themselves.
        Debouncer::flushAll();
        if (m_context.store && m_context.store->isSavePending())
            m_context.store->save();
    });
    // The store learns this while loading, before any window exists to say it.
    if (m_context.store && m_context.store->isSaveBlocked() && m_context.toasts)
        m_context.toasts->show(QString::fromUtf8(kSaveBlocked), std::nullopt, {}, kSaveBlockedDuration);
}

void AppWindow::bringToFront()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void AppWindow::installWindowCommands()
{
    // The menu bar holds File, View and Help; Edit goes between File and View.
    const QList<QAction *> menus = menuBar()->actions();
    QMenu *file = menus.at(0)->menu();
    file->addSeparator();
    QAction *closeWindow = file->addAction(QString::fromLatin1(kCloseWindow), this, &QWidget::close);
    closeWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    QAction *quit = file->addAction(QString::fromLatin1(kQuit), this, &AppWindow::quit);
    quit->setShortcut(QKeySequence(kQuitKeys));
    quit->setShortcutContext(Qt::ApplicationShortcut);
    // Also from a sheet or dialog in front of the window: Qt gives no shortcut of a window that a
    // modal one blocks its keys, so they are caught on their way to the modal one.
    qApp->installEventFilter(this);

    auto *edit = new QMenu(QString::fromLatin1(kEditMenu), this);
    menuBar()->insertMenu(menus.at(1), edit);
    new EditCommands(*edit, this);
}

void AppWindow::closeEvent(QCloseEvent *event)
{
    // Edits still in their quiet period (a formula, a caption, a row's text) are written while their
    // views live, so the page queues them as it goes; their timers would not fire after the loop.
    Debouncer::flushAll();
    QMainWindow::closeEvent(event);
}

bool AppWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && QGuiApplication::modalWindow() && watched->isWidgetType() &&
        static_cast<QKeyEvent *>(event)->keyCombination() == kQuitKeys) {
        // Once the key's delivery is over: the window closes under the widget that has it.
        QMetaObject::invokeMethod(this, &AppWindow::quit, Qt::QueuedConnection);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void AppWindow::quit()
{
    // Closed first, as a click on the window's close button does: the open page queues its edits.
    if (close())
        QCoreApplication::quit();
}
