#pragma once

#include <QMenu>

// A menu that draws the text of its destructive actions (AppStyle::markDestructive) in the
// destructive red, so "Delete block" or "Log out" stands apart from the harmless items.
class AppMenu : public QMenu
{
    Q_OBJECT
public:
    explicit AppMenu(QWidget *parent = nullptr);

protected:
    void initStyleOption(QStyleOptionMenuItem *option, const QAction *action) const override;
};
