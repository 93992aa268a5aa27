#include "api/folder_dto.h"

#include "api/wire_hash.h"
#include "json/json_reader.h"

FolderDTO FolderDTO::fromJson(const rapidjson::Value &v)
{
    FolderDTO r;
    r.id = json::field<qint64>(v, "id");
    r.workspace_id = json::field<qint64>(v, "workspace_id");
    r.parent_folder_id = json::optField<qint64>(v, "parent_folder_id");
    r.name = json::field<QString>(v, "name");
    r.icon = json::optField<QString>(v, "icon");
    r.position = json::field<qint64>(v, "position");
    r.created_at = json::optField<QString>(v, "created_at");
    r.updated_at = json::optField<QString>(v, "updated_at");
    return r;
}

void FolderDTO::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("workspace_id", workspace_id);
    w.field("parent_folder_id", parent_folder_id);
    w.field("name", name);
    w.field("icon", icon);
    w.field("position", position);
    w.field("created_at", created_at);
    w.field("updated_at", updated_at);
    w.endObject();
}

size_t qHash(const FolderDTO &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.id, v.workspace_id, v.parent_folder_id, v.name, v.icon, v.position,
                         v.created_at, v.updated_at);
}
