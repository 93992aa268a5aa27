#pragma once

class QWidget;

// The keyboard's way back to a window after something of ours held it for a while (a dialog, a
// menu): a window manager may hand it back late, or to the wrong widget, or not at all.
namespace WindowKeyboard {

// Makes `window` the active window again, at once for the widgets and through the window system for
// the keys that follow, with the keyboard on `had` while it is still shown in that window (else on
// the widget the window last gave it to). Nothing while a popup is open: the popup holds the keys.
void giveBack(QWidget *window, QWidget *had);

} // namespace WindowKeyboard
