#include "app/menu_commands.h"

#include "platform/app_events.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

QString MenuCommands::title(Command command)
{
    switch (command) {
    case Command::newPage:
        return QStringLiteral("New Page");
    case Command::quickSwitch:
        return QStringLiteral("Quick Switch…");
    case Command::showShortcuts:
        return QStringLiteral("Penroost Derud Help");
    }
    return {};
}

QKeySequence MenuCommands::shortcut(Command command)
{
    switch (command) {
    case Command::newPage:
        return QKeySequence(Qt::CTRL | Qt::Key_N);
    case Command::quickSwitch:
        return QKeySequence(Qt::CTRL | Qt::Key_J);
    case Command::showShortcuts:
        return QKeySequence(Qt::CTRL | Qt::Key_Question);
    }
    return {};
}

void MenuCommands::postMenuNotification(AppEvents &events, Command command)
{
    switch (command) {
    case Command::newPage:
        events.postNewPage();
        break;
    case Command::quickSwitch:
        events.postQuickSwitch();
        break;
    case Command::showShortcuts:
        events.postShowShortcuts();
        break;
    }
}

QList<QAction *> MenuCommands::install(QMainWindow &window, AppEvents &events)
{
    QMenuBar *bar = window.menuBar();
    const QList<std::pair<QString, Command>> placement = {
        {QStringLiteral("&File"), Command::newPage},
        {QStringLiteral("&View"), Command::quickSwitch},
        {QStringLiteral("&Help"), Command::showShortcuts},
    };
    QList<QAction *> actions;
    for (const auto &[menuTitle, command] : placement) {
        QMenu *menu = bar->addMenu(menuTitle);
        QAction *action = menu->addAction(title(command));
        action->setShortcut(shortcut(command));
        action->setShortcutContext(Qt::ApplicationShortcut);
        // Named before capture: clang 14 cannot capture a structured binding.
        QObject::connect(action, &QAction::triggered, action,
                         [&events, command = command] { postMenuNotification(events, command); });
        actions.append(action);
    }
    return actions;
}
