#include "app/home_dashboard.h"

#include <algorithm>

namespace {

QString counted(int n, const char *noun)
{
    return QString::number(n) + QLatin1Char(' ') + QString::fromLatin1(noun) +
           (n == 1 ? QString() : QStringLiteral("s"));
}

// Live top-level pages of a folder that is on the service.
std::vector<FNPage> folderPages(const StoreState &state, const FNFolder &folder)
{
    std::vector<FNPage> pages;
    // Pages in no folder carry folder id 0 too: a folder without a server id owns none of them.
    if (folder.serverID == 0)
        return pages;
    for (const auto &page : state.pages) {
        if (!page.deletedAt && page.folderServerID == folder.serverID && page.parentPageServerID == 0)
            pages.push_back(page);
    }
    return pages;
}

} // namespace

QString HomeDashboard::greeting(int hour, const std::optional<QString> &userName)
{
    QString text;
    if (hour >= 5 && hour <= 11)
        text = QStringLiteral("Good morning");
    else if (hour >= 12 && hour <= 16)
        text = QStringLiteral("Good afternoon");
    else if (hour >= 17 && hour <= 21)
        text = QStringLiteral("Good evening");
    else
        text = QStringLiteral("Welcome");
    const QString first = firstName(userName);
    if (!first.isEmpty())
        text += QStringLiteral(", ") + first;
    return text;
}

QString HomeDashboard::firstName(const std::optional<QString> &userName)
{
    if (!userName)
        return QString();
    const QStringList words = userName->split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return words.isEmpty() ? *userName : words.first();
}

std::vector<FNFolder> HomeDashboard::topLevelFolders(const StoreState &state)
{
    std::vector<FNFolder> folders;
    for (const auto &folder : state.folders) {
        if (!folder.deletedAt && folder.parentFolderServerID == 0)
            folders.push_back(folder);
    }
    std::stable_sort(folders.begin(), folders.end(),
                     [](const FNFolder &a, const FNFolder &b) { return a.position < b.position; });
    return folders;
}

HomeDashboard::FolderCounts HomeDashboard::folderCounts(const StoreState &state, const FNFolder &folder)
{
    // Top-level folders carry parent id 0 too: a folder without a server id has no subfolders.
    return folder.serverID == 0 ? FolderCounts{} : allFolderCounts(state).value(folder.serverID);
}

QHash<qint64, HomeDashboard::FolderCounts> HomeDashboard::allFolderCounts(const StoreState &state)
{
    QHash<qint64, FolderCounts> counts;
    // Id 0 stands for "none": the top level and pages in no folder are no folder's.
    for (const auto &f : state.folders) {
        if (!f.deletedAt && f.parentFolderServerID != 0)
            ++counts[f.parentFolderServerID].subfolders;
    }
    for (const auto &page : state.pages) {
        if (!page.deletedAt && page.folderServerID != 0 && page.parentPageServerID == 0)
            ++counts[page.folderServerID].pages;
    }
    return counts;
}

QString HomeDashboard::folderCountText(const FolderCounts &counts)
{
    QStringList parts;
    if (counts.subfolders >= 1)
        parts << counted(counts.subfolders, "Folder");
    if (counts.pages >= 1)
        parts << counted(counts.pages, "Page");
    return parts.isEmpty() ? QStringLiteral("Empty") : parts.join(QStringLiteral(" | "));
}

std::optional<FNPage> HomeDashboard::folderOpenPage(const StoreState &state, const FNFolder &folder)
{
    std::vector<FNPage> pages = folderPages(state, folder);
    if (pages.empty())
        return std::nullopt;
    std::stable_sort(pages.begin(), pages.end(),
                     [](const FNPage &a, const FNPage &b) { return a.position < b.position; });
    return pages.front();
}

std::vector<FNPage> HomeDashboard::recentPages(const StoreState &state)
{
    std::vector<const FNPage *> live;
    for (const auto &page : state.pages) {
        if (!page.deletedAt)
            live.push_back(&page);
    }
    // Only the first few are wanted: no copy or full sort of every page. Ties keep store order.
    const auto newer = [](const FNPage *a, const FNPage *b) {
        return a->updatedAt != b->updatedAt ? a->updatedAt > b->updatedAt : a < b;
    };
    const size_t kept = std::min(live.size(), size_t(kRecentCount));
    std::partial_sort(live.begin(), live.begin() + qsizetype(kept), live.end(), newer);
    std::vector<FNPage> pages;
    pages.reserve(kept);
    for (size_t i = 0; i < kept; ++i)
        pages.push_back(*live[i]);
    return pages;
}

HomeDashboard::Badges HomeDashboard::pageStatus(const StoreState &state, const FNPage &page)
{
    if (page.serverID == 0)
        return {};
    const auto it = state.pageStatuses.constFind(QString::number(page.serverID));
    if (it == state.pageStatuses.constEnd())
        return {};
    return {it->published, it->sharedCount >= 1};
}
