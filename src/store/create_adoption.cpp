#include "store/create_adoption.h"

#include "api/wire/folders.h"
#include "api/wire/pages.h"
#include "json/json_coder.h"
#include "json/json_error.h"
#include "store/local_store.h"

#include <QSet>

#include <algorithm>

namespace {

// The queued creates of `entity` that went out without an answer, with their decoded bodies.
template <typename Req, typename Match>
std::optional<QString> sentCreateMatching(const LocalStore &store, const QString &entity,
                                          const QSet<QString> &taken, Match match)
{
    for (const FNSyncOp &op : store.state().outbox) {
        if (op.entity != entity || op.op != QLatin1String("create") || !op.unanswered ||
            taken.contains(op.refLocalID))
            continue;
        Req req;
        try {
            req = sharedJSONDecode<Req>(op.payloadJSON.toUtf8());
        } catch (const DecodeError &) {
            continue;
        }
        if (match(req, op.refLocalID))
            return op.refLocalID;
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> pageAwaitingAdoption(const LocalStore &store, const ListedPage &listed,
                                            const QSet<QString> &taken)
{
    if (listed.id <= 0 || store.pageWithServerID(listed.id))
        return std::nullopt;
    return sentCreateMatching<PageCreateReq>(
        store, QStringLiteral("page"), taken, [&](const PageCreateReq &req, const QString &localID) {
            const FNPage *page = store.page(localID);
            return page && page->serverID == 0 && req.workspace_id == listed.workspaceID &&
                   req.parent_page_id.value_or(0) == listed.parentPageID && req.title == listed.title &&
                   req.position == listed.position;
        });
}

std::optional<QString> folderAwaitingAdoption(const LocalStore &store, const ListedFolder &listed,
                                              const QSet<QString> &taken)
{
    if (listed.id <= 0 || store.folderWithServerID(listed.id))
        return std::nullopt;
    return sentCreateMatching<FolderCreateReq>(
        store, QStringLiteral("folder"), taken, [&](const FolderCreateReq &req, const QString &localID) {
            const FNFolder *folder = store.folder(localID);
            return folder && folder->serverID == 0 && req.workspace_id == listed.workspaceID &&
                   req.parent_folder_id.value_or(0) == listed.parentFolderID && req.name == listed.name;
        });
}

namespace {

template <typename Listed, typename Find>
QHash<qint64, QString> newestFirst(std::vector<Listed> listed, Find find)
{
    std::sort(listed.begin(), listed.end(), [](const Listed &a, const Listed &b) { return a.id > b.id; });
    QHash<qint64, QString> picks;
    QSet<QString> taken;
    for (const Listed &candidate : listed) {
        const auto localID = find(candidate, taken);
        if (!localID)
            continue;
        taken.insert(*localID);
        picks.insert(candidate.id, *localID);
    }
    return picks;
}

} // namespace

QHash<qint64, QString> pageAdoptions(const LocalStore &store, std::vector<ListedPage> listed)
{
    return newestFirst(std::move(listed), [&](const ListedPage &p, const QSet<QString> &taken) {
        return pageAwaitingAdoption(store, p, taken);
    });
}

QHash<qint64, QString> folderAdoptions(const LocalStore &store, std::vector<ListedFolder> listed)
{
    return newestFirst(std::move(listed), [&](const ListedFolder &f, const QSet<QString> &taken) {
        return folderAwaitingAdoption(store, f, taken);
    });
}

void adoptPageServerID(LocalStore &store, const QString &pageLocalID, qint64 serverID)
{
    if (!store.editPage(
            pageLocalID, [&](FNPage &page) { page.serverID = serverID; }, LocalStore::Stamp::Keep))
        return;
    std::vector<FNBlock> waiting;
    for (const FNBlock &block : store.state().blocks) {
        if (block.pageLocalID == pageLocalID && block.pageServerID == 0)
            waiting.push_back(block);
    }
    for (FNBlock &block : waiting) {
        block.pageServerID = serverID;
        store.upsertBlock(block);
    }
}

void adoptFolderServerID(LocalStore &store, const QString &folderLocalID, qint64 serverID)
{
    store.editFolder(folderLocalID, [&](FNFolder &folder) { folder.serverID = serverID; });
}
