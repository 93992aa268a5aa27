#pragma once

#include <QStringList>

class QAbstractButton;
class QMenu;

// Menus as a user works them with the mouse.
namespace MenuClicks {

// Clicks the button that opens `menu`, then each item of `path` in turn: a submenu's item opens it,
// and the next item is clicked in it once it shows. The menu may run its own loop until it closes,
// so the items are clicked from a timer. False when an item is missing or the menus never close.
bool clickThrough(QAbstractButton *button, QMenu *menu, const QStringList &path);

} // namespace MenuClicks
