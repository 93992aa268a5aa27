#pragma once

#include <QMenu>

// A menu that draws the text of its destructive actions (AppStyle::markDestructive) in the
// destructive red, so "Delete block" or "Log out" stands apart from the harmless items.
// Once closed it never keeps the keyboard: a window system that makes the menu active only after
// it closed (the activation arrives late) has it handed back to the window the menu came from.
class AppMenu : public QMenu
{
    Q_OBJECT
public:
    explicit AppMenu(QWidget *parent = nullptr);

protected:
    void initStyleOption(QStyleOptionMenuItem *option, const QAction *action) const override;
    bool event(QEvent *event) override;

private:
    void returnActivation();
};
