#pragma once

class QWidget;

// A view about to be destroyed gives up the keyboard first, the focused widget saying nothing of it
// (the application still tells its own listeners). Left to QWidget's destructor, the focus leaves a
// child (or a button whose focus proxy is one) while the views around it are half destroyed, and
// their handlers run on what is already gone. The view flushes what it holds before this, and cuts
// off what outlives it.
void releaseKeyboardQuietly(QWidget &view);
