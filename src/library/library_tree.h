#pragma once

#include "store/fn_folder.h"
#include "store/fn_page.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>
#include <vector>

class FavoritesStore;
class LocalStore;
struct StoreState;

// The sidebar's tree: which folders and pages of the current workspace are listed, in which order,
// how they nest (by server id, or by local id under a parent not on the service yet) and which nodes
// are open. Rows come out flat, each with its depth, so any list view can draw them.
class LibraryTree : public QObject
{
    Q_OBJECT
public:
    struct Row {
        enum class Kind { FavoritesCaption, Divider, Folder, Page };

        Kind kind = Kind::Page;
        QString localID; // empty for the caption and the divider
        qint64 serverID = 0;
        int depth = 0;
        QString title; // a folder's name or a page's title, as stored
        QString icon;
        bool hasChildren = false;
        bool expanded = false;
        // A page's badges, from its status on the service (none without a server id).
        bool published = false;
        qint64 sharedCount = 0;

        // "folder:" or "page:" followed by the local id; empty for the caption and the divider.
        QString rowID() const;

        friend bool operator==(const Row &, const Row &) = default;
    };

    static constexpr const char *kFavoritesCaption = "Favorites";

    // `favorites` may be null (no favourites).
    LibraryTree(LocalStore &store, FavoritesStore *favorites, QObject *parent = nullptr);

    // The list queries. Live records of the current workspace (of every workspace while none is
    // known), by position, then creation time, stable.
    static std::vector<FNPage> workspacePages(const LocalStore &store);
    static std::vector<FNFolder> workspaceFolders(const LocalStore &store);
    static std::vector<FNPage> workspacePages(const StoreState &state, qint64 workspaceServerID);
    static std::vector<FNFolder> workspaceFolders(const StoreState &state, qint64 workspaceServerID);
    std::vector<FNFolder> rootFolders() const;
    std::vector<FNPage> rootPages() const;
    std::vector<FNFolder> childFolders(const FNFolder &folder) const;
    std::vector<FNPage> folderPages(const FNFolder &folder) const;
    std::vector<FNPage> subpages(const FNPage &page) const;

    // The tree as rows: the favourites group (caption, nodes, divider) when a favourite qualifies,
    // then the root folders' nodes, then the root pages' nodes. A node lists its children only when
    // open. Bad parent data (a cycle, two records with one server id) never repeats a node inside
    // one top-level node and never loops.
    std::vector<Row> listContent() const;
    // One top-level node per page, in the given order (the search results).
    std::vector<Row> pageNodes(const std::vector<FNPage> &pages) const;
    // The rows of the last listContent again after these records changed on their own, when no
    // change moves, adds or drops a row (only titles and icons differ): each row of theirs takes the
    // new text, and nothing else is worked out again. Nullopt when the tree must be listed anew.
    std::optional<std::vector<Row>> rowsAfterEdits(std::vector<Row> rows, const QSet<QString> &folderIDs,
                                                   const QSet<QString> &pageIDs) const;

    // Expansion (the local ids of open folders and pages). Loaded from the store once, on the first
    // appearance; every later change is written back to the store.
    const QSet<QString> &expandedFolderIDs() const { return m_expanded; }
    bool didLoadExpanded() const { return m_didLoadExpanded; }
    void loadExpandedOnce();
    void setExpanded(const QString &localID, bool expanded);
    // Each does nothing for a record without children.
    void toggleFolderExpanded(const FNFolder &folder);
    void togglePageExpanded(const FNPage &page);

Q_SIGNALS:
    void expandedChanged();

private:
    // Where a listed record sits in the tree: what decides its rows but their text.
    struct Filing {
        qint64 serverID = 0;
        qint64 workspaceServerID = 0;
        qint64 parentServerID = 0;
        qint64 folderServerID = 0;
        qint64 position = 0;
        QDateTime createdAt;
        std::optional<QString> parentLocalID;
        std::optional<QString> folderLocalID;
        friend bool operator==(const Filing &, const Filing &) = default;
    };
    static std::optional<Filing> filing(const FNFolder *folder, qint64 workspaceServerID);
    static std::optional<Filing> filing(const FNPage *page, qint64 workspaceServerID);

    void persistExpanded();

    LocalStore &m_store;
    FavoritesStore *m_favorites;
    QSet<QString> m_expanded;
    bool m_didLoadExpanded = false;
    // The records the last listContent listed, by local id, as filed then.
    mutable QHash<QString, Filing> m_filedFolders;
    mutable QHash<QString, Filing> m_filedPages;
};
