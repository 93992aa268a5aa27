#include "platform/window_keyboard.h"

#include <QApplication>
#include <QWidget>

namespace WindowKeyboard {

void giveBack(QWidget *window, QWidget *had)
{
    if (!window)
        return;
    window = window->window();
    if (!window->isVisible() || QApplication::activePopupWidget())
        return;
    // While the window is inactive this only marks where the keyboard goes once it is active.
    if (had && had != window && had->window() == window && had->isVisible() && had->isEnabled())
        had->setFocus(Qt::OtherFocusReason);
    // An activation the widgets never heard of (it came while something else was closing) would
    // leave no widget with the keyboard while the window system sends the window its keys.
    if (QApplication::activeWindow() != window)
        QApplication::setActiveWindow(window);
    window->activateWindow();
}

} // namespace WindowKeyboard
