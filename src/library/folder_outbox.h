#pragma once

#include "api/folder_patch_req.h"

#include <QString>

class LocalStore;
struct FNFolder;
struct FNPage;

// Turns the sidebar's folder changes and page moves into outbox operations, so they outlive a
// failed request and a restart. It only queues: starting a sync is the caller's part.
namespace FolderOutbox {

// "folder"/"create" with the folder's workspace, parent, name and icon as they are now.
void queueCreate(LocalStore &store, const FNFolder &folder);
// "folder"/"update" with `patch`; its folder id is the folder's server id when the push sends it.
void queueUpdate(LocalStore &store, const FNFolder &folder, FolderPatchReq patch);
// "page"/"move" into `folderServerID` (0 = the top level); the page id is read when it is sent.
void queuePageMove(LocalStore &store, const FNPage &page, qint64 folderServerID);

} // namespace FolderOutbox
