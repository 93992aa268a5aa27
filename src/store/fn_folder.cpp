#include "store/fn_folder.h"

#include "api/wire/folders.h"

FolderCreateReq folderCreateReq(const FNFolder &folder)
{
    FolderCreateReq req;
    req.workspace_id = folder.workspaceServerID;
    if (folder.parentFolderServerID != 0)
        req.parent_folder_id = folder.parentFolderServerID;
    req.name = folder.name;
    req.icon = folder.icon;
    return req;
}
