#include "store/sync_engine.h"

#include "api/api_error.h"
#include "api/wire/folders.h"
#include "json/json_coder.h"
#include "json/json_error.h"
#include "json/json_value.h"
#include "store/create_adoption.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/record_links.h"
#include "store/sync_payload.h"

namespace {

const QString kFolderNotOnServer = QStringLiteral("Folder not yet on server");
const QString kPageNotOnServer = QStringLiteral("Page not yet on server");

// The server id of the parent page the payload names by local id; none when it names none (or the
// parent is gone). Throws while the parent is not on the service: the operation waits for it.
std::optional<qint64> linkedPage(const LocalStore &store, const QString &payload, const char *key)
{
    const std::optional<qint64> id = recordLinks::linkedPageServerID(store, payload, key);
    if (id && *id == 0)
        throw APIError::other(kPageNotOnServer);
    return id;
}

// The folder an earlier send of the create may have made, as the service lists it now; none when
// it cannot be told from the others there.
QCoro::Task<std::optional<qint64>> listedCopy(ServiceClient &client, const LocalStore &store,
                                              QString folderLocalID, qint64 workspaceID,
                                              QPointer<CancelToken> cancel)
{
    const FoldersResp listed = co_await client.listFolders(workspaceID, cancel);
    std::vector<ListedFolder> candidates;
    for (const FolderDTO &dto : listed.folders)
        candidates.push_back({dto.id, dto.workspace_id, dto.parent_folder_id.value_or(0), dto.name,
                              serviceStamp(dto.created_at)});
    const QHash<qint64, QString> picks = folderAdoptions(store, candidates);
    for (auto it = picks.constBegin(); it != picks.constEnd(); ++it) {
        if (it.value() == folderLocalID)
            co_return it.key();
    }
    co_return std::nullopt;
}

// The create was renamed (or given an icon) while it was on its way: the service has, or may have,
// the body that went out, by which a copy it made is known. That body stays, and the change follows
// as an update.
void keepSentFolderCreate(Outbox &outbox, const LocalStore &store, const FNSyncOp &sent)
{
    const std::optional<FNSyncOp> queued = outbox.find(sent.localID);
    if (!queued || queued->payloadJSON == sent.payloadJSON)
        return;
    const std::optional<FolderPatchReq> patch = folderCreateChanges(sent.payloadJSON, queued->payloadJSON);
    if (!patch)
        return;
    FNSyncOp kept = *queued;
    kept.payloadJSON = sent.payloadJSON;
    outbox.replace(kept);
    if (!patch->name && !patch->icon)
        return;
    if (const FNFolder *folder = store.folder(sent.refLocalID))
        outbox.folderUpdate(*folder, *patch);
}

} // namespace

QCoro::Task<> SyncEngine::sendFolderOp(FNSyncOp op)
{
    const FNFolder *folder = m_store.folder(op.refLocalID);
    if (!folder)
        co_return; // gone from the data set: nothing left to tell the service

    if (op.kind() == SyncOpKind::FolderCreate) {
        if (folder->serverID != 0)
            co_return; // adopted from a listing meanwhile
        // As it waits now: renamed since the push began, it goes out with the new name.
        if (const std::optional<FNSyncOp> queued = m_outbox.find(op.localID))
            op = *queued;
        // Deleted, the undo window past.
        const bool deleted = folder->deletedAt && m_outbox.isQueued(SyncOpKind::FolderDelete, op.refLocalID);
        FolderCreateReq req;
        bool readable = true;
        try {
            req = sharedJSONDecode<FolderCreateReq>(op.payloadJSON.toUtf8());
        } catch (const DecodeError &) {
            // Rebuilt from the folder rather than lose it.
            req = folderCreateReq(*folder);
            readable = false;
        }
        if (deleted) {
            // An earlier send may have made it. Only the copy an answer named is surely this
            // device's: a look-alike in the listing may be another device's folder made in the same
            // moments, so it stays. Then nothing more goes for it, and what it held is filed one
            // level up at once, here and in the moves still to go.
            if (op.madeID.value_or(0) > 0) {
                try {
                    co_await m_client.deleteFolder(*op.madeID, cancelToken());
                } catch (const APIError &e) {
                    if (e.kind() != APIError::Kind::Http || e.status() != 404)
                        throw;
                }
            }
            dropDeletedFolder(op.refLocalID, true);
            co_return;
        }
        if (op.madeID.value_or(0) > 0) {
            // An answer heard before the last launch ended named it.
            adoptFolderServerID(m_store, op.refLocalID, *op.madeID);
            co_return;
        }
        bool standIn = false;
        if (!req.parent_folder_id) {
            if (const auto parent = linkedFolderNow(op.payloadJSON, recordLinks::kParentFolderKey, &standIn);
                parent && *parent)
                req.parent_folder_id = *parent;
        }
        if (op.unanswered) {
            // An earlier send may have made the folder with its reply lost: take that one.
            if (const auto made =
                    co_await listedCopy(m_client, m_store, op.refLocalID, req.workspace_id, cancelToken())) {
                adoptFolderServerID(m_store, op.refLocalID, *made);
                co_return;
            }
        }
        if (readable)
            m_outbox.createGoingOut(op.localID, op.payloadJSON);
        m_createOut = QDateTime::currentDateTimeUtc();
        FolderResp reply;
        try {
            reply = co_await m_client.createFolder(req, cancelToken());
        } catch (...) {
            if (mayHaveLanded(op, std::current_exception()))
                keepSentFolderCreate(m_outbox, m_store, op);
            throw;
        }
        m_outbox.createAnswered(op.localID, reply.folder.id);
        // Only the id is written, into the folder as it stands now; a rename made meanwhile follows.
        const FNFolder *now = m_store.folder(op.refLocalID);
        if (now && now->serverID == 0)
            adoptFolderServerID(m_store, op.refLocalID, reply.folder.id);
        keepSentFolderCreate(m_outbox, m_store, op);
        if (standIn)
            followStandIn(op, recordLinks::kParentFolderKey, req.parent_folder_id.value_or(0));
        co_return;
    }

    if (op.kind() == SyncOpKind::FolderUpdate) {
        FolderPatchReq req = sharedJSONDecode<FolderPatchReq>(op.payloadJSON.toUtf8());
        // The folder may have got its server id after the update was queued.
        if (folder->serverID != 0)
            req.folder_id = folder->serverID;
        // The next launch's create carries it as it is then.
        if (req.folder_id == 0 && isFolderLeftUnsent(op.refLocalID))
            co_return;
        if (req.folder_id == 0)
            throw APIError::other(kFolderNotOnServer);
        bool standIn = false;
        if (const auto parent = linkedFolderNow(op.payloadJSON, recordLinks::kParentFolderKey, &standIn))
            req.parent_folder_id = *parent;
        co_await m_client.patchFolder(req, cancelToken());
        if (standIn)
            followStandIn(op, recordLinks::kParentFolderKey, req.parent_folder_id.value_or(0));
        co_return;
    }

    if (op.kind() == SyncOpKind::FolderDelete) {
        if (folder->serverID == 0) {
            // Its create brings the id to delete; a folder that never reached the service has
            // nothing there to remove, and what it held goes with it.
            if (m_outbox.isQueued(SyncOpKind::FolderCreate, op.refLocalID))
                throw APIError::other(kFolderNotOnServer);
            dropDeletedFolder(op.refLocalID);
            co_return;
        }
        try {
            co_await m_client.deleteFolder(folder->serverID, cancelToken());
        } catch (const APIError &e) {
            if (e.kind() == APIError::Kind::Http && e.status() == 404)
                co_return; // already gone on the service
            throw;
        }
        co_return;
    }
    // Any other folder operation counts as sent.
}

QCoro::Task<> SyncEngine::sendPageMove(FNSyncOp op)
{
    const FNPage *page = m_store.page(op.refLocalID);
    if (!page)
        co_return; // gone from the data set: nothing left to tell the service
    FolderMovePageReq req = sharedJSONDecode<FolderMovePageReq>(op.payloadJSON.toUtf8());
    // The page may have got its server id after the move was queued.
    if (page->serverID != 0)
        req.page_id = page->serverID;
    if (req.page_id == 0 && isLeftUnsent(op.refLocalID))
        co_return;
    if (req.page_id == 0)
        throw APIError::other(kPageNotOnServer);
    bool standIn = false;
    if (!req.folder_id) {
        if (const auto folderID = linkedFolderNow(op.payloadJSON, recordLinks::kFolderKey, &standIn);
            folderID && *folderID)
            req.folder_id = *folderID;
    }
    co_await m_client.movePage(req, cancelToken());
    if (standIn)
        followStandIn(op, recordLinks::kFolderKey, req.folder_id.value_or(0));
}

QCoro::Task<> SyncEngine::sendPageParent(FNSyncOp op)
{
    const FNPage *page = m_store.page(op.refLocalID);
    if (!page)
        co_return; // gone from the data set: nothing left to tell the service
    // Read like a block delete's payload: one that does not read says nothing to send.
    JSONObject body;
    try {
        body = parseJSONObject(op.payloadJSON.toUtf8());
    } catch (const DecodeError &) {
        co_return;
    }
    const auto intOf = [&](const char *key) { return syncPayload::intOr(body, key, 0); };
    // The page may have got its server id after the move was queued.
    const qint64 pageID = page->serverID != 0 ? page->serverID : intOf("page_id");
    if (pageID == 0 && isLeftUnsent(op.refLocalID))
        co_return;
    if (pageID == 0)
        throw APIError::other(kPageNotOnServer);
    qint64 parentID = intOf("parent_page_id");
    if (parentID == 0)
        parentID = linkedPage(m_store, op.payloadJSON, recordLinks::kParentPageKey).value_or(0);
    co_await m_client.patchPageParent(pageID, parentID, cancelToken());
}

void SyncEngine::linkPageCreate(const FNSyncOp &op, PageCreateReq &req) const
{
    if (!req.parent_page_id) {
        if (const auto parent = linkedPage(m_store, op.payloadJSON, recordLinks::kParentPageKey))
            req.parent_page_id = *parent;
    }
}
