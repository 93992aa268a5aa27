#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

class AppEvents;
class QAction;
class QMainWindow;

// The application's three menu commands. They do no work: each posts its in-app notification, which
// the main screen or the library observes while it is shown.
class MenuCommands
{
public:
    enum class Command { newPage, quickSwitch, showShortcuts };

    static QString title(Command command);
    static QKeySequence shortcut(Command command);
    // Posts "fn.newPage", "fn.quickSwitch" or "fn.showShortcuts".
    static void postMenuNotification(AppEvents &events, Command command);

    // Adds File > "New Page", View > "Quick Switch…" and Help > "Penroost Derud Help" to the
    // window's menu bar; returns the actions in that order. Their notifications go to `events`.
    static QList<QAction *> install(QMainWindow &window, AppEvents &events);
};
