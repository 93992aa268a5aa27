#include "app/home_content.h"

#include "store/batch_change.h"
#include "store/local_store.h"

#include <algorithm>

namespace {

// The folder a page counts in: its folder while it is live and not a subpage, else none.
qint64 countedFolder(const FNPage &page)
{
    return page.deletedAt || page.parentPageServerID != 0 ? 0 : page.folderServerID;
}

// Newest first; ties keep store order, as HomeDashboard::recentPages ranks them.
bool newer(const FNPage *a, const FNPage *b)
{
    return a->updatedAt != b->updatedAt ? a->updatedAt > b->updatedAt : a < b;
}

} // namespace

HomeContent::HomeContent(const LocalStore &store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
    connect(&store, &LocalStore::pageChanged, this,
            [this](const QString &localID) { tell(pageChanged(localID)); });
    connect(&store, &LocalStore::folderChanged, this, [this] { tell({foldersChanged(), false}); });
    connect(&store, &LocalStore::recordsChanged, this, [this] {
        if (m_loaded) {
            reload();
            tell({true, true});
        }
    });
    connect(&store, &LocalStore::batchApplied, this, &HomeContent::batchApplied);
    // The badges live beside the records; an untouched map compares by its shared data alone.
    connect(&store, &LocalStore::stateChanged, this, [this] {
        if (m_loaded && m_store.state().pageStatuses != m_statuses) {
            m_statuses = m_store.state().pageStatuses;
            tell({false, true});
        }
    });
}

void HomeContent::reload()
{
    m_loaded = true;
    const StoreState &state = m_store.state();
    foldersChanged();
    m_pages.clear();
    m_countedIn.clear();
    for (const FNPage &page : state.pages) {
        if (const qint64 folder = countedFolder(page)) {
            ++m_pages[folder];
            m_countedIn.insert(page.localID, folder);
        }
    }
    m_recent = HomeDashboard::recentPages(state);
    m_statuses = state.pageStatuses;
}

void HomeContent::tell(const Changes &changes)
{
    if (m_loaded && (changes.folders || changes.recent))
        Q_EMIT changed(changes);
}

HomeDashboard::FolderCounts HomeContent::counts(const FNFolder &folder) const
{
    // Id 0 is "none": a folder not on the service yet owns no children there.
    if (folder.serverID == 0)
        return {};
    return {m_subfolders.value(folder.serverID), m_pages.value(folder.serverID)};
}

// A few hundred folders at most: worked out again whole.
bool HomeContent::foldersChanged()
{
    if (!m_loaded)
        return false;
    const StoreState &state = m_store.state();
    QHash<qint64, int> subfolders;
    for (const FNFolder &f : state.folders) {
        if (!f.deletedAt && f.parentFolderServerID != 0)
            ++subfolders[f.parentFolderServerID];
    }
    std::vector<FNFolder> folders = HomeDashboard::topLevelFolders(state);
    const bool changed = folders != m_folders || subfolders != m_subfolders;
    m_folders = std::move(folders);
    m_subfolders = std::move(subfolders);
    return changed;
}

void HomeContent::batchApplied(const BatchChange &change)
{
    if (!m_loaded)
        return;
    if (change.allRecords || change.pages.size() > kPagesOneByOne) {
        reload();
        tell({true, true});
        return;
    }
    Changes changes;
    if (!change.folders.isEmpty())
        changes.folders = foldersChanged();
    // Counted one by one; ranked together, since each already sees the others' edits.
    for (const QString &localID : change.pages)
        changes.folders |= countChanged(localID);
    changes.recent = recentPagesChanged(change.pages.values());
    tell(changes);
}

HomeContent::Changes HomeContent::pageChanged(const QString &localID)
{
    if (!m_loaded)
        return {};
    const bool folders = countChanged(localID);
    return {folders, recentPagesChanged({localID})};
}

bool HomeContent::countChanged(const QString &localID)
{
    const FNPage *page = m_store.page(localID);
    const qint64 was = m_countedIn.value(localID);
    const qint64 now = page ? countedFolder(*page) : 0;
    if (was == now)
        return false;
    if (was && --m_pages[was] == 0)
        m_pages.remove(was);
    m_countedIn.remove(localID);
    if (now) {
        ++m_pages[now];
        m_countedIn.insert(localID, now);
    }
    return true;
}

bool HomeContent::recentPagesChanged(const QList<QString> &localIDs)
{
    const bool full = m_recent.size() >= HomeDashboard::kRecentCount;
    // Every live page not listed ranked below the listed ones: while none of those left the list or
    // fell back in it, only they and the changed pages can make it.
    std::vector<const FNPage *> ranked;
    for (const FNPage &listed : m_recent) {
        const FNPage *now = m_store.page(listed.localID);
        const bool stays = now && !now->deletedAt;
        if (full && (!stays || now->updatedAt < listed.updatedAt)) {
            std::vector<FNPage> recent = HomeDashboard::recentPages(m_store.state());
            const bool changed = recent != m_recent;
            m_recent = std::move(recent);
            return changed;
        }
        if (stays)
            ranked.push_back(now);
    }
    for (const QString &localID : localIDs) {
        const FNPage *page = m_store.page(localID);
        if (page && !page->deletedAt && std::find(ranked.begin(), ranked.end(), page) == ranked.end())
            ranked.push_back(page);
    }
    const auto kept = std::min(ranked.size(), size_t(HomeDashboard::kRecentCount));
    std::partial_sort(ranked.begin(), ranked.begin() + qsizetype(kept), ranked.end(), newer);
    std::vector<FNPage> recent;
    recent.reserve(kept);
    for (size_t i = 0; i < kept; ++i)
        recent.push_back(*ranked[i]);
    if (recent == m_recent)
        return false;
    m_recent = std::move(recent);
    return true;
}
