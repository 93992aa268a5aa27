#include "store/sync_engine.h"

#include "api/api_error.h"
#include "api/wire/folders.h"
#include "json/json_coder.h"
#include "json/json_error.h"
#include "store/create_adoption.h"
#include "store/local_store.h"

namespace {

const QString kFolderNotOnServer = QStringLiteral("Folder not yet on server");
const QString kPageNotOnServer = QStringLiteral("Page not yet on server");

} // namespace

QCoro::Task<> SyncEngine::sendFolderOp(FNSyncOp op)
{
    const FNFolder *folder = m_store.folder(op.refLocalID);
    if (!folder)
        co_return; // gone from the data set: nothing left to tell the service

    if (op.kind() == SyncOpKind::FolderCreate) {
        if (folder->serverID != 0)
            co_return; // adopted from a listing meanwhile
        FolderCreateReq req;
        try {
            req = sharedJSONDecode<FolderCreateReq>(op.payloadJSON.toUtf8());
        } catch (const DecodeError &) {
            // Rebuilt from the folder rather than lose it.
            req = folderCreateReq(*folder);
        }
        if (op.unanswered) {
            // An earlier send may have made the folder with its reply lost: take that one.
            const FoldersResp listed = co_await m_client.listFolders(req.workspace_id, cancelToken());
            std::vector<ListedFolder> candidates;
            for (const FolderDTO &dto : listed.folders)
                candidates.push_back({dto.id, dto.workspace_id, dto.parent_folder_id.value_or(0), dto.name,
                                      serviceStamp(dto.created_at)});
            const QHash<qint64, QString> picks = folderAdoptions(m_store, candidates);
            for (auto it = picks.constBegin(); it != picks.constEnd(); ++it) {
                if (it.value() == op.refLocalID) {
                    adoptFolderServerID(m_store, op.refLocalID, it.key());
                    co_return;
                }
            }
        }
        m_createOut = QDateTime::currentDateTimeUtc();
        const FolderResp reply = co_await m_client.createFolder(req, cancelToken());
        // Only the id is written, into the folder as it stands now: a rename made meanwhile has its
        // own queued update.
        const FNFolder *now = m_store.folder(op.refLocalID);
        if (now && now->serverID == 0)
            adoptFolderServerID(m_store, op.refLocalID, reply.folder.id);
        co_return;
    }

    if (op.kind() == SyncOpKind::FolderUpdate) {
        FolderPatchReq req = sharedJSONDecode<FolderPatchReq>(op.payloadJSON.toUtf8());
        // The folder may have got its server id after the update was queued.
        if (folder->serverID != 0)
            req.folder_id = folder->serverID;
        if (req.folder_id == 0)
            throw APIError::other(kFolderNotOnServer);
        co_await m_client.patchFolder(req, cancelToken());
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
    if (req.page_id == 0)
        throw APIError::other(kPageNotOnServer);
    co_await m_client.movePage(req, cancelToken());
}
