#include "library/folder_outbox.h"

#include "api/folder_create_req.h"
#include "api/folder_move_page_req.h"
#include "json/json_coder.h"
#include "store/local_store.h"

namespace {

void append(LocalStore &store, const QString &entity, const QString &op, const QString &refLocalID,
            const QByteArray &payload)
{
    FNSyncOp operation;
    operation.entity = entity;
    operation.op = op;
    operation.refLocalID = refLocalID;
    operation.payloadJSON = QString::fromUtf8(payload);
    store.changeOutsideRecords([&](StoreState &s) { s.outbox.push_back(std::move(operation)); });
    store.scheduleSave();
}

} // namespace

void FolderOutbox::queueCreate(LocalStore &store, const FNFolder &folder)
{
    append(store, QStringLiteral("folder"), QStringLiteral("create"), folder.localID,
           sharedJSONEncode(folderCreateReq(folder)));
}

void FolderOutbox::queueUpdate(LocalStore &store, const FNFolder &folder, FolderPatchReq patch)
{
    patch.folder_id = folder.serverID;
    append(store, QStringLiteral("folder"), QStringLiteral("update"), folder.localID,
           sharedJSONEncode(patch));
}

void FolderOutbox::queuePageMove(LocalStore &store, const FNPage &page, qint64 folderServerID)
{
    FolderMovePageReq req;
    req.page_id = page.serverID;
    if (folderServerID != 0)
        req.folder_id = folderServerID;
    append(store, QStringLiteral("page"), QStringLiteral("move"), page.localID, sharedJSONEncode(req));
}
