#include "ui/app_menu.h"

#include "ui/app_style.h"

#include <QStyleOptionMenuItem>

AppMenu::AppMenu(QWidget *parent)
    : QMenu(parent)
{
}

void AppMenu::initStyleOption(QStyleOptionMenuItem *option, const QAction *action) const
{
    QMenu::initStyleOption(option, action);
    // A disabled item keeps the style's grey; a highlighted one draws in the highlight's own colour.
    if (!AppStyle::isDestructive(action) || !action->isEnabled())
        return;
    for (const auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        option->palette.setColor(role, AppStyle::destructive());
}
