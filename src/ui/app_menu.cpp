#include "ui/app_menu.h"

#include "ui/app_style.h"

#include "platform/window_keyboard.h"

#include <QEvent>
#include <QStyleOptionMenuItem>

AppMenu::AppMenu(QWidget *parent)
    : QMenu(parent)
{
}

bool AppMenu::event(QEvent *event)
{
    const bool handled = QMenu::event(event);
    if (event->type() == QEvent::WindowActivate && !isVisible())
        returnActivation();
    return handled;
}

void AppMenu::returnActivation()
{
    // A submenu came from a menu that is closed too: up to the window under them all.
    QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr;
    while (owner && !owner->isVisible() && owner->parentWidget())
        owner = owner->parentWidget()->window();
    if (owner && owner->isVisible())
        WindowKeyboard::giveBack(owner, nullptr);
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
