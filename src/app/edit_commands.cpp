#include "app/edit_commands.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QTextEdit>

#include <array>

namespace {

using Command = EditCommands::Command;

struct Item {
    Command command;
    const char *title;
    QKeySequence::StandardKey keys;
};

constexpr std::array kItems{
    Item{Command::undo, "Undo", QKeySequence::Undo},
    Item{Command::redo, "Redo", QKeySequence::Redo},
    Item{Command::cut, "Cut", QKeySequence::Cut},
    Item{Command::copy, "Copy", QKeySequence::Copy},
    Item{Command::paste, "Paste", QKeySequence::Paste},
    Item{Command::selectAll, "Select All", QKeySequence::SelectAll},
};

bool clipboardHasText()
{
    const QMimeData *data = QApplication::clipboard()->mimeData();
    return data && data->hasText();
}

bool canRun(Command command, const QLineEdit &field)
{
    // A password never leaves its field.
    const bool shown = field.echoMode() == QLineEdit::Normal;
    const bool editable = !field.isReadOnly();
    switch (command) {
    case Command::undo:
        return editable && field.isUndoAvailable();
    case Command::redo:
        return editable && field.isRedoAvailable();
    case Command::cut:
        return editable && shown && field.hasSelectedText();
    case Command::copy:
        return shown && field.hasSelectedText();
    case Command::paste:
        return editable && clipboardHasText();
    case Command::selectAll:
        return !field.text().isEmpty();
    }
    return false;
}

bool canRun(Command command, const QTextEdit &editor)
{
    const bool editable = !editor.isReadOnly();
    switch (command) {
    case Command::undo:
        return editable && editor.document()->isUndoAvailable();
    case Command::redo:
        return editable && editor.document()->isRedoAvailable();
    case Command::cut:
        return editable && editor.textCursor().hasSelection();
    case Command::copy:
        return editor.textCursor().hasSelection();
    case Command::paste:
        return editable && editor.canPaste();
    case Command::selectAll:
        return !editor.document()->isEmpty();
    }
    return false;
}

// QLineEdit and QTextEdit name these alike without a common base.
template <typename Editor>
void runOn(Command command, Editor &editor)
{
    switch (command) {
    case Command::undo:
        editor.undo();
        break;
    case Command::redo:
        editor.redo();
        break;
    case Command::cut:
        editor.cut();
        break;
    case Command::copy:
        editor.copy();
        break;
    case Command::paste:
        editor.paste();
        break;
    case Command::selectAll:
        editor.selectAll();
        break;
    }
}

bool canRun(Command command, const QWidget *widget)
{
    if (!widget || !widget->isVisible() || !widget->isEnabled())
        return false;
    if (const auto *field = qobject_cast<const QLineEdit *>(widget))
        return canRun(command, *field);
    if (const auto *text = qobject_cast<const QTextEdit *>(widget))
        return canRun(command, *text);
    return false;
}

bool isTextEditor(const QWidget *widget)
{
    return qobject_cast<const QLineEdit *>(widget) || qobject_cast<const QTextEdit *>(widget);
}

} // namespace

EditCommands::EditCommands(QMenu &menu, QObject *parent)
    : QObject(parent)
{
    for (const Item &item : kItems) {
        if (item.command == Command::cut)
            menu.addSeparator();
        QAction *action = menu.addAction(QString::fromLatin1(item.title));
        action->setShortcuts(item.keys);
        connect(action, &QAction::triggered, this, [this, command = item.command] { run(command); });
        m_actions.append(action);
    }
    connect(&menu, &QMenu::aboutToShow, this, &EditCommands::refresh);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget *, QWidget *now) { onFocusChanged(now); });
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this, &EditCommands::refresh);
    onFocusChanged(QApplication::focusWidget());
}

void EditCommands::onFocusChanged(QWidget *now)
{
    // The menu bar and its menus take the focus only while they are used.
    if (qobject_cast<QMenuBar *>(now) || qobject_cast<QMenu *>(now))
        return;
    QWidget *target = isTextEditor(now) ? now : nullptr;
    if (target != m_target) {
        for (const auto &connection : std::as_const(m_targetConnections))
            disconnect(connection);
        m_targetConnections.clear();
        m_target = target;
        if (auto *field = qobject_cast<QLineEdit *>(target)) {
            m_targetConnections << connect(field, &QLineEdit::textChanged, this, &EditCommands::refresh)
                                << connect(field, &QLineEdit::selectionChanged, this, &EditCommands::refresh);
        } else if (auto *text = qobject_cast<QTextEdit *>(target)) {
            m_targetConnections << connect(text, &QTextEdit::textChanged, this, &EditCommands::refresh)
                                << connect(text, &QTextEdit::selectionChanged, this, &EditCommands::refresh)
                                << connect(text, &QTextEdit::undoAvailable, this, &EditCommands::refresh)
                                << connect(text, &QTextEdit::redoAvailable, this, &EditCommands::refresh);
        }
    }
    refresh();
}

void EditCommands::refresh()
{
    // A disabled item also leaves its key to whatever has the focus (a list's own Ctrl+A).
    for (const Item &item : kItems)
        m_actions.at(int(item.command))->setEnabled(canRun(item.command, m_target));
}

void EditCommands::run(Command command)
{
    QWidget *target = m_target;
    if (!canRun(command, target))
        return;
    if (auto *field = qobject_cast<QLineEdit *>(target))
        runOn(command, *field);
    else if (auto *text = qobject_cast<QTextEdit *>(target))
        runOn(command, *text);
    refresh();
}
