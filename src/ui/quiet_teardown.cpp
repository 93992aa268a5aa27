#include "ui/quiet_teardown.h"

#include <QApplication>
#include <QSignalBlocker>
#include <QWidget>

void releaseKeyboardQuietly(QWidget &view)
{
    QWidget *focused = QApplication::focusWidget();
    // Up through windows too: a popup or a sheet the view owns goes with it.
    QWidget *at = focused;
    while (at && at != &view)
        at = at->parentWidget();
    if (!at)
        return;
    const QSignalBlocker quiet(focused);
    focused->clearFocus();
}
