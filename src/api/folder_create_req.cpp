#include "api/folder_create_req.h"

#include "json/json_reader.h"

FolderCreateReq FolderCreateReq::fromJson(const rapidjson::Value &v)
{
    FolderCreateReq r;
    r.workspace_id = json::field<qint64>(v, "workspace_id");
    r.parent_folder_id = json::optField<qint64>(v, "parent_folder_id");
    r.name = json::field<QString>(v, "name");
    r.icon = json::field<QString>(v, "icon");
    return r;
}

void FolderCreateReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("workspace_id", workspace_id);
    w.field("parent_folder_id", parent_folder_id);
    w.field("name", name);
    w.field("icon", icon);
    w.endObject();
}
