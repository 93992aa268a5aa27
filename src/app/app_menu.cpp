#include "app/app_menu.h"

#include "app/app_style.h"

#include <QStyleOptionMenuItem>

AppMenu::AppMenu(QWidget *parent)
    : QMenu(parent)
{
}

void AppMenu::initStyleOption(QStyleOptionMenuItem *option, const QAction *action) const
{
    QMenu::initStyleOption(option, action);
    // A highlighted or disabled item keeps the style's colours, so it stays readable.
    const bool highlighted = option->state & QStyle::State_Selected;
    if (!AppStyle::isDestructive(action) || !action->isEnabled() || highlighted)
        return;
    for (const auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        option->palette.setColor(role, AppStyle::destructive());
}
