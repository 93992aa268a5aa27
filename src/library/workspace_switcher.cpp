#include "library/workspace_switcher.h"

#include "library/library_refresher.h"
#include "store/local_store.h"

WorkspaceSwitcher::WorkspaceSwitcher(LocalStore &store, LibraryRefresher &refresher, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_refresher(refresher)
{
}

bool WorkspaceSwitcher::isShown() const
{
    return m_store.state().workspaces.size() > 1;
}

QString WorkspaceSwitcher::currentName() const
{
    const qint64 current = m_store.currentWorkspaceServerID();
    for (const FNWorkspace &w : m_store.state().workspaces) {
        if (current != 0 && w.serverID == current)
            return w.name;
    }
    return QString::fromLatin1(kFallbackName);
}

std::vector<WorkspaceSwitcher::Item> WorkspaceSwitcher::items() const
{
    const qint64 current = m_store.currentWorkspaceServerID();
    std::vector<Item> out;
    for (const FNWorkspace &w : m_store.state().workspaces)
        out.push_back(Item{w.serverID, w.name, w.serverID == current});
    return out;
}

void WorkspaceSwitcher::choose(qint64 serverID)
{
    if (serverID == m_store.currentWorkspaceServerID())
        return;
    switchWorkspace(serverID);
}

void WorkspaceSwitcher::switchWorkspace(qint64 serverID)
{
    m_store.setCurrentWorkspaceID(serverID);
    Q_EMIT switched(serverID);
    m_refresher.refreshCurrentWorkspace();
}
