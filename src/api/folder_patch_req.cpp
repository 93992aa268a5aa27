#include "api/folder_patch_req.h"

#include "json/json_reader.h"

FolderPatchReq FolderPatchReq::fromJson(const rapidjson::Value &v)
{
    FolderPatchReq r;
    r.folder_id = json::field<qint64>(v, "folder_id");
    r.name = json::optField<QString>(v, "name");
    r.icon = json::optField<QString>(v, "icon");
    r.position = json::optField<qint64>(v, "position");
    r.parent_folder_id = json::optField<qint64>(v, "parent_folder_id");
    return r;
}

void FolderPatchReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("folder_id", folder_id);
    w.field("name", name);
    w.field("icon", icon);
    w.field("position", position);
    w.field("parent_folder_id", parent_folder_id);
    w.endObject();
}
