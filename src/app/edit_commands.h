#pragma once

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

class QAction;
class QMenu;
class QWidget;

// The Edit menu: Undo, Redo, Cut, Copy, Paste and Select All, acting on the text field or text
// editor that has the keyboard focus and enabled as it allows. A focused editor takes these keys
// itself, so a block's Ctrl+Z still undoes within that block; the menu items do the same.
class EditCommands : public QObject
{
    Q_OBJECT
public:
    enum class Command { undo, redo, cut, copy, paste, selectAll };

    // Fills `menu` with the six commands, in that order.
    explicit EditCommands(QMenu &menu, QObject *parent = nullptr);

private:
    void onFocusChanged(QWidget *now);
    void refresh();
    void run(Command command);

    QList<QAction *> m_actions;
    // The focused text editor, kept while a menu borrows the focus.
    QPointer<QWidget> m_target;
    QList<QMetaObject::Connection> m_targetConnections;
};
