#include "ui/listing_watch.h"

#include "store/local_store.h"

#include <algorithm>

namespace {

bool sameWorkspaces(const std::vector<FNWorkspace> &a, const std::vector<FNWorkspace> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const FNWorkspace &x, const FNWorkspace &y) {
        return x.localID == y.localID && x.serverID == y.serverID && x.name == y.name && x.role == y.role &&
               x.ownerUserID == y.ownerUserID;
    });
}

} // namespace

ListingWatch::ListingWatch(LocalStore &store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
    takeFieldsBeside();
    connect(&store, &LocalStore::folderChanged, this, &ListingWatch::folderChanged);
    connect(&store, &LocalStore::pageChanged, this, &ListingWatch::pageChanged);
    connect(&store, &LocalStore::recordsChanged, this, &ListingWatch::changed);
    connect(&store, &LocalStore::batchApplied, this, &ListingWatch::batchApplied);
    connect(&store, &LocalStore::stateChanged, this, &ListingWatch::checkFieldsBeside);
}

void ListingWatch::batchApplied(const BatchChange &change)
{
    if (change.allRecords || !change.folders.isEmpty() || !change.pages.isEmpty())
        Q_EMIT changed();
}

void ListingWatch::checkFieldsBeside()
{
    const StoreState &state = m_store.state();
    // QMap compares by its shared data first: an untouched map costs nothing.
    if (state.currentWorkspaceID == m_currentWorkspace && state.pageStatuses == m_statuses &&
        state.expandedRowIDs == m_expanded && sameWorkspaces(state.workspaces, m_workspaces))
        return;
    takeFieldsBeside();
    Q_EMIT changed();
}

void ListingWatch::takeFieldsBeside()
{
    const StoreState &state = m_store.state();
    m_workspaces = state.workspaces;
    m_currentWorkspace = state.currentWorkspaceID;
    m_statuses = state.pageStatuses;
    m_expanded = state.expandedRowIDs;
}
