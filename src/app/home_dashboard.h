#pragma once

#include "store/store_state.h"
#include <QHash>

#include <QString>

#include <optional>
#include <vector>

// What the home screen shows, worked out from the local data set: the greeting, the top-level
// folders with their counts, the recently changed pages and their badges. Folders and pages of
// every workspace take part. Reads only.
class HomeDashboard
{
public:
    static constexpr size_t kRecentCount = 8;

    struct FolderCounts {
        int subfolders = 0;
        int pages = 0; // live top-level pages of the folder
        friend bool operator==(const FolderCounts &, const FolderCounts &) = default;
    };

    struct Badges {
        bool published = false;
        bool shared = false;
        friend bool operator==(const Badges &, const Badges &) = default;
    };

    // "Good morning" and the rest by the hour (0 to 23), with ", " and the first name when there is one.
    static QString greeting(int hour, const std::optional<QString> &userName);
    // The first space-separated word; the name as it stands when it has none.
    static QString firstName(const std::optional<QString> &userName);

    // Live folders at the top level, by position (stable).
    static std::vector<FNFolder> topLevelFolders(const StoreState &state);
    // A folder not on the service yet has no children there to count.
    static FolderCounts folderCounts(const StoreState &state, const FNFolder &folder);
    // The same for every folder on the service at once, by its server id: one pass over the
    // records, so a home of many folders is not quadratic in them.
    static QHash<qint64, FolderCounts> allFolderCounts(const StoreState &state);
    // "Empty", "1 Folder", "2 Folders | 1 Page".
    static QString folderCountText(const FolderCounts &counts);
    // The page a tap on the folder opens: its first live top-level page by position, if any.
    static std::optional<FNPage> folderOpenPage(const StoreState &state, const FNFolder &folder);

    // The live pages changed last, newest first (stable), at most eight.
    static std::vector<FNPage> recentPages(const StoreState &state);
    static Badges pageStatus(const StoreState &state, const FNPage &page);
};
