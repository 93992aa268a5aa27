#include "ui/layout_now.h"

#include <QLayout>
#include <QWidget>

void layOutNow(QWidget *widget)
{
    for (QWidget *at = widget; at; at = at->isWindow() ? nullptr : at->parentWidget()) {
        if (QLayout *layout = at->layout())
            layout->activate();
    }
}
