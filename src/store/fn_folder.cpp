#include "store/fn_folder.h"

#include "api/wire/common.h"
#include "api/wire/folders.h"
#include "json/json_reader.h"

FNFolder FNFolder::fromJson(const rapidjson::Value &v)
{
    return FNFolder{
        .localID = json::field<QString>(v, "localID"),
        .serverID = json::field<qint64>(v, "serverID"),
        .workspaceServerID = json::field<qint64>(v, "workspaceServerID"),
        .parentFolderServerID = json::field<qint64>(v, "parentFolderServerID"),
        .name = json::field<QString>(v, "name"),
        .icon = json::field<QString>(v, "icon"),
        .position = json::field<qint64>(v, "position"),
        .createdAt = json::field<QDateTime>(v, "createdAt"),
        .updatedAt = json::field<QDateTime>(v, "updatedAt"),
        .deletedAt = json::optField<QDateTime>(v, "deletedAt"),
    };
}

void FNFolder::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("localID", localID);
    w.field("serverID", serverID);
    w.field("workspaceServerID", workspaceServerID);
    w.field("parentFolderServerID", parentFolderServerID);
    w.field("name", name);
    w.field("icon", icon);
    w.field("position", position);
    w.field("createdAt", createdAt);
    w.field("updatedAt", updatedAt);
    w.field("deletedAt", deletedAt);
    w.endObject();
}

size_t qHash(const FNFolder &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.localID, v.serverID, v.workspaceServerID, v.parentFolderServerID, v.name,
                         v.icon, v.position, v.createdAt, v.updatedAt, v.deletedAt);
}

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
