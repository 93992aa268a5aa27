#include "library/library_tree.h"

#include "store/favorites_store.h"
#include "store/local_store.h"

#include <QHash>

#include <algorithm>

namespace {

template <typename T>
std::vector<T> liveOfWorkspace(const std::vector<T> &records, qint64 workspaceServerID)
{
    std::vector<T> out;
    for (const T &r : records) {
        if (r.deletedAt || (workspaceServerID != 0 && r.workspaceServerID != workspaceServerID))
            continue;
        out.push_back(r);
    }
    std::stable_sort(out.begin(), out.end(), [](const T &a, const T &b) {
        if (a.position != b.position)
            return a.position < b.position;
        return a.createdAt < b.createdAt;
    });
    return out;
}

// A record's parent: by server id, or by local id while the parent has none.
// Child lists of one build, made in one pass so a large tree costs no scan per node.
struct TreeIndex {
    template <typename T>
    struct Children {
        QHash<qint64, std::vector<const T *>> byServerID;
        QHash<QString, std::vector<const T *>> byLocalID; // of parents not on the service yet

        void add(qint64 serverID, const std::optional<QString> &localID, const T *child)
        {
            if (serverID != 0)
                byServerID[serverID].push_back(child);
            else if (localID)
                byLocalID[*localID].push_back(child);
        }
    };

    const QMap<QString, FNPageStatus> &statuses;
    std::vector<FNFolder> folders;
    std::vector<FNPage> pages;
    Children<FNFolder> childFolders; // by parent folder
    Children<FNPage> folderPages;    // by folder, no parent page
    Children<FNPage> subpages;       // by parent page

    explicit TreeIndex(const LocalStore &store)
        : statuses(store.state().pageStatuses)
        , folders(LibraryTree::workspaceFolders(store))
        , pages(LibraryTree::workspacePages(store))
    {
        for (const FNFolder &f : folders)
            childFolders.add(f.parentFolderServerID, f.parentFolderLocalID, &f);
        for (const FNPage &p : pages) {
            if (p.parentPageServerID != 0 || p.parentPageLocalID)
                subpages.add(p.parentPageServerID, p.parentPageLocalID, &p);
            else
                folderPages.add(p.folderServerID, p.folderLocalID, &p);
        }
    }

    // Those linked by server id, then those linked by local id.
    template <typename T, typename Parent>
    static std::vector<const T *> childrenOf(const Children<T> &children, const Parent &parent)
    {
        std::vector<const T *> out;
        if (parent.serverID != 0) {
            if (const auto it = children.byServerID.constFind(parent.serverID); it != children.byServerID.cend())
                out = *it;
        }
        if (const auto it = children.byLocalID.constFind(parent.localID); it != children.byLocalID.cend())
            out.insert(out.end(), it->begin(), it->end());
        return out;
    }
    template <typename T, typename Parent>
    static bool hasAny(const Children<T> &children, const Parent &parent)
    {
        return (parent.serverID != 0 && children.byServerID.contains(parent.serverID)) ||
               children.byLocalID.contains(parent.localID);
    }

    bool hasChildren(const FNFolder &f) const { return hasAny(childFolders, f) || hasAny(folderPages, f); }
    bool hasChildren(const FNPage &p) const { return hasAny(subpages, p); }
};

// Appends one node and, where open, its descendants. Iterative, and each record is drawn at most
// once per `visited`, so a parent cycle in the data ends instead of recursing forever.
void appendNode(std::vector<LibraryTree::Row> &rows, const TreeIndex &index, const QSet<QString> &expanded,
                QSet<QString> &visited, const FNFolder *rootFolder, const FNPage *rootPage)
{
    struct Item {
        const FNFolder *folder = nullptr;
        const FNPage *page = nullptr;
        int depth = 0;
    };
    std::vector<Item> stack{{rootFolder, rootPage, 0}};
    while (!stack.empty()) {
        const Item item = stack.back();
        stack.pop_back();
        LibraryTree::Row row;
        row.depth = item.depth;
        if (item.folder) {
            const FNFolder &f = *item.folder;
            row.kind = LibraryTree::Row::Kind::Folder;
            row.localID = f.localID;
            row.serverID = f.serverID;
            row.title = f.name;
            row.icon = f.icon;
            row.hasChildren = index.hasChildren(f);
        } else {
            const FNPage &p = *item.page;
            row.kind = LibraryTree::Row::Kind::Page;
            row.localID = p.localID;
            row.serverID = p.serverID;
            row.title = p.title;
            row.icon = p.icon;
            row.hasChildren = index.hasChildren(p);
            if (p.serverID != 0) {
                const auto status = index.statuses.constFind(QString::number(p.serverID));
                if (status != index.statuses.constEnd()) {
                    row.published = status->published;
                    row.sharedCount = status->sharedCount;
                }
            }
        }
        row.expanded = expanded.contains(row.localID);
        const QString id = row.rowID();
        if (visited.contains(id))
            continue;
        visited.insert(id);
        rows.push_back(row);
        if (!row.expanded || !row.hasChildren)
            continue;

        // Pushed in reverse so they come off the stack in order: subfolders, then pages.
        if (item.folder) {
            const auto pages = TreeIndex::childrenOf(index.folderPages, *item.folder);
            for (auto it = pages.rbegin(); it != pages.rend(); ++it)
                stack.push_back({nullptr, *it, item.depth + 1});
            const auto folders = TreeIndex::childrenOf(index.childFolders, *item.folder);
            for (auto it = folders.rbegin(); it != folders.rend(); ++it)
                stack.push_back({*it, nullptr, item.depth + 1});
        } else {
            const auto pages = TreeIndex::childrenOf(index.subpages, *item.page);
            for (auto it = pages.rbegin(); it != pages.rend(); ++it)
                stack.push_back({nullptr, *it, item.depth + 1});
        }
    }
}

} // namespace

QString LibraryTree::Row::rowID() const
{
    switch (kind) {
    case Kind::Folder:
        return QStringLiteral("folder:") + localID;
    case Kind::Page:
        return QStringLiteral("page:") + localID;
    default:
        return QString();
    }
}

LibraryTree::LibraryTree(LocalStore &store, FavoritesStore *favorites, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_favorites(favorites)
{
}

std::vector<FNPage> LibraryTree::workspacePages(const StoreState &state, qint64 workspaceServerID)
{
    return liveOfWorkspace(state.pages, workspaceServerID);
}

std::vector<FNFolder> LibraryTree::workspaceFolders(const StoreState &state, qint64 workspaceServerID)
{
    return liveOfWorkspace(state.folders, workspaceServerID);
}

std::vector<FNPage> LibraryTree::workspacePages(const LocalStore &store)
{
    return workspacePages(store.state(), store.currentWorkspaceServerID());
}

std::vector<FNFolder> LibraryTree::workspaceFolders(const LocalStore &store)
{
    return workspaceFolders(store.state(), store.currentWorkspaceServerID());
}

std::vector<FNFolder> LibraryTree::rootFolders() const
{
    std::vector<FNFolder> out = workspaceFolders(m_store);
    std::erase_if(out, [](const FNFolder &f) { return f.parentFolderServerID != 0 || f.parentFolderLocalID; });
    return out;
}

std::vector<FNPage> LibraryTree::rootPages() const
{
    std::vector<FNPage> out = workspacePages(m_store);
    std::erase_if(out, [](const FNPage &p) {
        return p.folderServerID != 0 || p.folderLocalID || p.parentPageServerID != 0 || p.parentPageLocalID;
    });
    return out;
}

namespace {

// Whether a record links to the parent, by its server id or, while that is 0, by its local id.
template <typename Parent>
bool linksTo(qint64 serverLink, const std::optional<QString> &localLink, const Parent &parent)
{
    return serverLink != 0 ? serverLink == parent.serverID : localLink == parent.localID;
}

} // namespace

std::vector<FNFolder> LibraryTree::childFolders(const FNFolder &folder) const
{
    std::vector<FNFolder> out = workspaceFolders(m_store);
    std::erase_if(out, [&](const FNFolder &f) {
        return !linksTo(f.parentFolderServerID, f.parentFolderLocalID, folder);
    });
    return out;
}

std::vector<FNPage> LibraryTree::folderPages(const FNFolder &folder) const
{
    std::vector<FNPage> out = workspacePages(m_store);
    std::erase_if(out, [&](const FNPage &p) {
        return !linksTo(p.folderServerID, p.folderLocalID, folder) || p.parentPageServerID != 0 ||
               p.parentPageLocalID;
    });
    return out;
}

std::vector<FNPage> LibraryTree::subpages(const FNPage &page) const
{
    std::vector<FNPage> out = workspacePages(m_store);
    std::erase_if(out, [&](const FNPage &p) { return !linksTo(p.parentPageServerID, p.parentPageLocalID, page); });
    return out;
}

std::vector<LibraryTree::Row> LibraryTree::listContent() const
{
    const TreeIndex index(m_store);
    std::vector<Row> rows;
    const qint64 workspace = m_store.currentWorkspaceServerID();
    m_filedFolders.clear();
    m_filedPages.clear();
    for (const FNFolder &f : index.folders)
        m_filedFolders.insert(f.localID, *filing(&f, workspace));
    for (const FNPage &p : index.pages)
        m_filedPages.insert(p.localID, *filing(&p, workspace));

    if (m_favorites && !m_favorites->ids().isEmpty()) {
        std::vector<const FNPage *> favourites;
        for (const FNPage &p : index.pages) {
            if (m_favorites->contains(p.localID, p.serverID))
                favourites.push_back(&p);
        }
        if (!favourites.empty()) {
            Row caption;
            caption.kind = Row::Kind::FavoritesCaption;
            caption.title = QString::fromLatin1(kFavoritesCaption);
            rows.push_back(caption);
            for (const FNPage *p : favourites) {
                QSet<QString> visited;
                appendNode(rows, index, m_expanded, visited, nullptr, p);
            }
            Row divider;
            divider.kind = Row::Kind::Divider;
            rows.push_back(divider);
        }
    }

    QSet<QString> visited;
    for (const FNFolder &f : index.folders) {
        if (f.parentFolderServerID == 0 && !f.parentFolderLocalID)
            appendNode(rows, index, m_expanded, visited, &f, nullptr);
    }
    for (const FNPage &p : index.pages) {
        if (p.folderServerID == 0 && !p.folderLocalID && p.parentPageServerID == 0 && !p.parentPageLocalID)
            appendNode(rows, index, m_expanded, visited, nullptr, &p);
    }
    return rows;
}

std::vector<LibraryTree::Row> LibraryTree::pageNodes(const std::vector<FNPage> &pages) const
{
    // These rows are no listing's: an edit after them lists the tree anew.
    m_filedFolders.clear();
    m_filedPages.clear();
    const TreeIndex index(m_store);
    std::vector<Row> rows;
    for (const FNPage &p : pages) {
        QSet<QString> visited;
        appendNode(rows, index, m_expanded, visited, nullptr, &p);
    }
    return rows;
}

// Nullopt while the record is not listed: gone, in the trash or in another workspace.
std::optional<LibraryTree::Filing> LibraryTree::filing(const FNFolder *folder, qint64 workspaceServerID)
{
    if (!folder || folder->deletedAt ||
        (workspaceServerID != 0 && folder->workspaceServerID != workspaceServerID))
        return std::nullopt;
    return Filing{folder->serverID,         folder->workspaceServerID, folder->parentFolderServerID, 0,
                  folder->position,         folder->createdAt,         folder->parentFolderLocalID,
                  std::nullopt};
}

std::optional<LibraryTree::Filing> LibraryTree::filing(const FNPage *page, qint64 workspaceServerID)
{
    if (!page || page->deletedAt || (workspaceServerID != 0 && page->workspaceServerID != workspaceServerID))
        return std::nullopt;
    return Filing{page->serverID,       page->workspaceServerID, page->parentPageServerID,
                  page->folderServerID, page->position,          page->createdAt,
                  page->parentPageLocalID, page->folderLocalID};
}

std::optional<std::vector<LibraryTree::Row>> LibraryTree::rowsAfterEdits(std::vector<Row> rows,
                                                                         const QSet<QString> &folderIDs,
                                                                         const QSet<QString> &pageIDs) const
{
    const qint64 workspace = m_store.currentWorkspaceServerID();
    // Filed where it was, or listed neither then nor now.
    const auto inPlace = [](const QHash<QString, Filing> &filed, const QString &localID,
                            const std::optional<Filing> &now) {
        const auto was = filed.constFind(localID);
        return was == filed.constEnd() ? !now : now && *now == *was;
    };
    for (const QString &localID : folderIDs) {
        if (!inPlace(m_filedFolders, localID, filing(m_store.folder(localID), workspace)))
            return std::nullopt;
    }
    for (const QString &localID : pageIDs) {
        if (!inPlace(m_filedPages, localID, filing(m_store.page(localID), workspace)))
            return std::nullopt;
    }
    for (Row &row : rows) {
        if (row.kind == Row::Kind::Folder && folderIDs.contains(row.localID)) {
            const FNFolder *folder = m_store.folder(row.localID);
            row.title = folder->name;
            row.icon = folder->icon;
        } else if (row.kind == Row::Kind::Page && pageIDs.contains(row.localID)) {
            const FNPage *page = m_store.page(row.localID);
            row.title = page->title;
            row.icon = page->icon;
        }
    }
    return rows;
}

void LibraryTree::loadExpandedOnce()
{
    if (m_didLoadExpanded)
        return;
    m_didLoadExpanded = true;
    const auto &stored = m_store.state().expandedRowIDs;
    QSet<QString> loaded(stored.begin(), stored.end());
    if (loaded == m_expanded)
        return;
    m_expanded = std::move(loaded);
    Q_EMIT expandedChanged();
}

void LibraryTree::setExpanded(const QString &localID, bool expanded)
{
    if (m_expanded.contains(localID) == expanded)
        return;
    if (expanded)
        m_expanded.insert(localID);
    else
        m_expanded.remove(localID);
    persistExpanded();
    Q_EMIT expandedChanged();
}

void LibraryTree::toggleFolderExpanded(const FNFolder &folder)
{
    if (childFolders(folder).empty() && folderPages(folder).empty())
        return;
    setExpanded(folder.localID, !m_expanded.contains(folder.localID));
}

void LibraryTree::togglePageExpanded(const FNPage &page)
{
    if (subpages(page).empty())
        return;
    setExpanded(page.localID, !m_expanded.contains(page.localID));
}

void LibraryTree::persistExpanded()
{
    std::vector<QString> ids(m_expanded.begin(), m_expanded.end());
    m_store.setExpandedRowIDs(std::move(ids));
}
