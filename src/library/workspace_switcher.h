#pragma once

#include <QObject>
#include <QString>

#include <vector>

class LibraryRefresher;
class LocalStore;

// The workspace menu at the top of the sidebar: which workspace the tree shows and the move to
// another. Switching is local and immediate; a refresh of the new workspace follows.
class WorkspaceSwitcher : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kFallbackName = "Workspace";

    struct Item {
        qint64 serverID = 0;
        QString name;
        bool current = false;

        friend bool operator==(const Item &, const Item &) = default;
    };

    WorkspaceSwitcher(LocalStore &store, LibraryRefresher &refresher, QObject *parent = nullptr);

    // Shown only with more than one workspace.
    bool isShown() const;
    // The current workspace's name, or "Workspace" when none is known.
    QString currentName() const;
    // One per stored workspace, in stored order.
    std::vector<Item> items() const;

    // A menu choice: the current workspace changes nothing, any other is switched to.
    void choose(qint64 serverID);
    void switchWorkspace(qint64 serverID);

Q_SIGNALS:
    // The workspace changed: the open page (of the previous workspace) is to be closed.
    void switched(qint64 serverID);

private:
    LocalStore &m_store;
    LibraryRefresher &m_refresher;
};
