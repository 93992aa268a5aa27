#include "store/create_adoption.h"

#include "api/wire/folders.h"
#include "api/wire/pages.h"
#include "json/json_coder.h"
#include "json/json_error.h"
#include "store/local_store.h"
#include "store/page_links.h"
#include "store/record_links.h"
#include "store/send_journal.h"

#include <QSet>
#include <QTimeZone>

#include <algorithm>

namespace {

// Older windows than these say little more, and the list stays small in "state.json".
constexpr size_t kKeptWindows = 8;

bool insideASend(const FNSyncOp &op, const QDateTime &createdAt)
{
    if (!createdAt.isValid() || !op.unansweredSends)
        return false;
    for (const SendWindow &w : *op.unansweredSends) {
        // "created_at" is cut to the second: the lower bound gives that second as well.
        if (createdAt >= w.from.addMSecs(-kSendWindowSkewMs - 1000) &&
            createdAt <= w.until.addMSecs(kSendWindowSkewMs))
            return true;
    }
    return false;
}

void linkParent(const LocalStore &store, const QString &payload, PageCreateReq &req)
{
    if (const auto parent = recordLinks::linkedPageServerID(store, payload, recordLinks::kParentPageKey);
        parent && *parent != 0 && !req.parent_page_id)
        req.parent_page_id = *parent;
}

void linkParent(const LocalStore &store, const QString &payload, FolderCreateReq &req)
{
    if (const auto parent = recordLinks::linkedFolderServerID(store, payload, recordLinks::kParentFolderKey);
        parent && *parent != 0 && !req.parent_folder_id)
        req.parent_folder_id = *parent;
}

// Each waiting create with exactly one candidate adopts it, unless another waiting create has the
// same one: then neither can tell whose it is.
// `guessable`: whether a look-alike may be taken for the waiting record at all.
template <typename Req, typename Listed, typename Waiting, typename Guessable, typename Alike, typename Known>
QHash<qint64, QString> adoptions(const LocalStore &store, const QString &entity,
                                 const std::vector<Listed> &listed, Waiting waiting, Guessable guessable,
                                 Alike alike, Known known)
{
    QHash<qint64, QString> picks;
    QSet<qint64> contested;
    // A record whose answer this device heard is that create's, and no other's look-alike.
    QSet<qint64> made;
    for (const FNSyncOp &op : store.state().outbox) {
        if (op.madeID.value_or(0) > 0 && op.entity == entity && op.op == QLatin1String("create"))
            made.insert(*op.madeID);
    }
    for (const FNSyncOp &op : store.state().outbox) {
        if (op.entity != entity || op.op != QLatin1String("create") || !waiting(op.refLocalID))
            continue;
        if (op.madeID.value_or(0) > 0) {
            const bool listedNow = std::any_of(listed.begin(), listed.end(),
                                               [&](const Listed &l) { return l.id == *op.madeID; });
            if (listedNow && !known(*op.madeID))
                picks.insert(*op.madeID, op.refLocalID);
            continue;
        }
        if (!op.unanswered || !guessable(op.refLocalID))
            continue;
        Req req;
        try {
            req = sharedJSONDecode<Req>(op.payloadJSON.toUtf8());
        } catch (const DecodeError &) {
            continue;
        }
        // It went out with its parent's server id, which the payload names by local id.
        linkParent(store, op.payloadJSON, req);
        // By id: a feed lists a record once per change of it (its create, then its move).
        QSet<qint64> found;
        for (const Listed &candidate : listed) {
            if (candidate.id <= 0 || made.contains(candidate.id) || known(candidate.id) ||
                !alike(req, candidate) || !insideASend(op, candidate.createdAt))
                continue;
            found.insert(candidate.id);
        }
        if (found.size() != 1)
            continue;
        const qint64 only = *found.cbegin();
        if (picks.contains(only))
            contested.insert(only);
        picks.insert(only, op.refLocalID);
    }
    for (qint64 id : contested)
        picks.remove(id);
    return picks;
}

} // namespace

QDateTime serviceStamp(const std::optional<QString> &text)
{
    if (!text)
        return {};
    QDateTime t = QDateTime::fromString(*text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (t.isValid()) {
        t.setTimeZone(QTimeZone::utc());
        return t;
    }
    return QDateTime::fromString(*text, Qt::ISODateWithMs).toUTC();
}

void noteUnansweredSend(FNSyncOp &op, const QDateTime &from, const QDateTime &until, qint64 serviceOffsetMs)
{
    std::vector<SendWindow> windows = op.unansweredSends.value_or(std::vector<SendWindow>{});
    windows.push_back({from.addMSecs(serviceOffsetMs), until.addMSecs(serviceOffsetMs)});
    if (windows.size() > kKeptWindows)
        windows.erase(windows.begin(), windows.end() - kKeptWindows);
    op.unansweredSends = std::move(windows);
}

QHash<qint64, QString> pageAdoptions(const LocalStore &store, const std::vector<ListedPage> &listed)
{
    return adoptions<PageCreateReq>(
        store, QStringLiteral("page"), listed,
        [&](const QString &localID) {
            const FNPage *page = store.page(localID);
            return page && page->serverID == 0;
        },
        [](const QString &) { return true; },
        [](const PageCreateReq &req, const ListedPage &p) {
            return req.title != QLatin1String(kNewPageTitle) && req.workspace_id == p.workspaceID &&
                   req.parent_page_id.value_or(0) == p.parentPageID && req.title == p.title &&
                   req.position == p.position;
        },
        [&](qint64 id) { return store.pageWithServerID(id) != nullptr; });
}

QHash<qint64, QString> folderAdoptions(const LocalStore &store, const std::vector<ListedFolder> &listed)
{
    return adoptions<FolderCreateReq>(
        store, QStringLiteral("folder"), listed,
        [&](const QString &localID) {
            const FNFolder *folder = store.folder(localID);
            return folder && folder->serverID == 0;
        },
        // Deleted here, the folder it adopted would be deleted on the service: maybe another device's.
        [&](const QString &localID) { return !store.folder(localID)->deletedAt; },
        [](const FolderCreateReq &req, const ListedFolder &f) {
            return req.name != QLatin1String(kNewFolderName) && req.workspace_id == f.workspaceID &&
                   req.parent_folder_id.value_or(0) == f.parentFolderID && req.name == f.name;
        },
        [&](qint64 id) { return store.folderWithServerID(id) != nullptr; });
}

void adoptPageServerID(LocalStore &store, const QString &pageLocalID, qint64 serverID)
{
    if (!store.editPage(
            pageLocalID, [&](FNPage &page) { page.serverID = serverID; }, LocalStore::Stamp::Keep))
        return;
    std::vector<FNBlock> waiting;
    for (const FNBlock *block : store.blocksOfPage(pageLocalID)) {
        if (block->pageServerID == 0)
            waiting.push_back(*block);
    }
    for (FNBlock &block : waiting) {
        block.pageServerID = serverID;
        store.upsertBlock(block);
    }
    recordLinks::pageGotServerID(store, pageLocalID, serverID);
    pageLinks::pageGotServerID(store, pageLocalID, serverID);
}

void adoptFolderServerID(LocalStore &store, const QString &folderLocalID, qint64 serverID)
{
    if (store.editFolder(folderLocalID, [&](FNFolder &folder) { folder.serverID = serverID; }))
        recordLinks::folderGotServerID(store, folderLocalID, serverID);
}

std::optional<PagePatchReq> pageCreateChanges(const QString &sentPayload, const QString &queuedPayload)
{
    PageCreateReq after;
    try {
        after = sharedJSONDecode<PageCreateReq>(queuedPayload.toUtf8());
    } catch (const DecodeError &) {
        return std::nullopt;
    }
    std::optional<PageCreateReq> before;
    try {
        before = sharedJSONDecode<PageCreateReq>(sentPayload.toUtf8());
    } catch (const DecodeError &) {
        // What went out was rebuilt from the page: every field may differ.
    }
    PagePatchReq patch;
    if (!before || after.title != before->title)
        patch.title = after.title;
    if (!before || after.icon != before->icon)
        patch.icon = after.icon;
    if (!before || after.position != before->position)
        patch.position = after.position;
    if (after.parent_page_id && (!before || after.parent_page_id != before->parent_page_id))
        patch.parent_page_id = after.parent_page_id;
    return patch;
}

std::optional<FolderPatchReq> folderCreateChanges(const QString &sentPayload, const QString &queuedPayload)
{
    FolderPatchReq patch;
    try {
        const auto before = sharedJSONDecode<FolderCreateReq>(sentPayload.toUtf8());
        const auto after = sharedJSONDecode<FolderCreateReq>(queuedPayload.toUtf8());
        if (after.name != before.name)
            patch.name = after.name;
        if (after.icon != before.icon)
            patch.icon = after.icon;
    } catch (const DecodeError &) {
        return std::nullopt;
    }
    return patch;
}

namespace {

// The body of the update carrying what changed in `create` since `sent` went out, empty when nothing
// did; none when a body does not read (the create then goes as it is queued).
std::optional<QString> changesSince(const FNSyncOp &create, const QString &sent)
{
    try {
        if (create.kind() == SyncOpKind::FolderCreate) {
            const auto patch = folderCreateChanges(sent, create.payloadJSON);
            if (!patch)
                return std::nullopt;
            return patch->name || patch->icon ? QString::fromUtf8(sharedJSONEncode(*patch)) : QString();
        }
        sharedJSONDecode<PageCreateReq>(sent.toUtf8());
        const auto patch = pageCreateChanges(sent, create.payloadJSON);
        if (!patch)
            return std::nullopt;
        return patch->title || patch->icon || patch->position || patch->parent_page_id
                   ? QString::fromUtf8(sharedJSONEncode(*patch))
                   : QString();
    } catch (const DecodeError &) {
    } catch (const EncodeError &) {
    }
    return std::nullopt;
}

} // namespace

void foldCreateNotes(std::vector<FNSyncOp> &outbox, const std::vector<SendNote> &notes)
{
    // By id, read once: a journal may hold many notes, and the outbox many operations.
    QHash<QString, size_t> creates;
    for (const SendNote &note : notes) {
        if (note.sent || note.made)
            creates.insert(note.opLocalID, 0);
    }
    if (creates.isEmpty())
        return;
    for (size_t i = 0; i < outbox.size(); ++i) {
        const SyncOpKind kind = outbox[i].kind();
        if (const auto it = creates.find(outbox[i].localID);
            it != creates.end() && (kind == SyncOpKind::PageCreate || kind == SyncOpKind::FolderCreate))
            *it = i + 1;
    }
    QHash<size_t, FNSyncOp> followUps; // by the place of their create
    for (const SendNote &note : notes) {
        const size_t at = creates.value(note.opLocalID);
        if (at == 0)
            continue;
        FNSyncOp &create = outbox[at - 1];
        if (note.made.value_or(0) > 0)
            create.madeID = note.made;
        if (!note.sent || create.payloadJSON == *note.sent)
            continue;
        const std::optional<QString> changes = changesSince(create, *note.sent);
        if (!changes)
            continue;
        create.payloadJSON = *note.sent;
        if (changes->isEmpty())
            continue;
        FNSyncOp update;
        update.entity = create.entity;
        update.op = QStringLiteral("update");
        update.refLocalID = create.refLocalID;
        update.payloadJSON = *changes;
        // Right behind it: the changes queued after the rename still land over it.
        update.createdAt = create.createdAt.addMSecs(1);
        followUps.insert(at - 1, std::move(update));
    }
    if (followUps.isEmpty())
        return;
    std::vector<FNSyncOp> merged;
    merged.reserve(outbox.size() + size_t(followUps.size()));
    for (size_t i = 0; i < outbox.size(); ++i) {
        merged.push_back(std::move(outbox[i]));
        if (const auto it = followUps.find(i); it != followUps.end())
            merged.push_back(std::move(*it));
    }
    outbox = std::move(merged);
}
