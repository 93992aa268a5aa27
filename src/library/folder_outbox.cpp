#include "library/folder_outbox.h"

#include "api/folder_create_req.h"
#include "api/folder_move_page_req.h"
#include "store/local_store.h"
#include "store/outbox.h"

void FolderOutbox::queueCreate(LocalStore &store, const FNFolder &folder)
{
    Outbox::of(store).folderCreate(folder.localID, folderCreateReq(folder));
}

void FolderOutbox::queueUpdate(LocalStore &store, const FNFolder &folder, FolderPatchReq patch)
{
    patch.folder_id = folder.serverID;
    Outbox::of(store).folderUpdate(folder.localID, patch);
}

void FolderOutbox::queuePageMove(LocalStore &store, const FNPage &page, qint64 folderServerID)
{
    FolderMovePageReq req;
    req.page_id = page.serverID;
    if (folderServerID != 0)
        req.folder_id = folderServerID;
    Outbox::of(store).pageMove(page.localID, req);
}
