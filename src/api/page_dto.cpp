#include "api/page_dto.h"

#include "api/wire_hash.h"
#include "json/json_reader.h"

PageDTO PageDTO::fromJson(const rapidjson::Value &v)
{
    PageDTO r;
    r.id = json::field<qint64>(v, "id");
    r.workspace_id = json::field<qint64>(v, "workspace_id");
    r.parent_page_id = json::optField<qint64>(v, "parent_page_id");
    r.folder_id = json::optField<qint64>(v, "folder_id");
    r.title = json::field<QString>(v, "title");
    r.icon = json::optField<QString>(v, "icon");
    r.position = json::field<qint64>(v, "position");
    r.cover_url = json::optField<QString>(v, "cover_url");
    r.cover_offset_x = json::optField<qint64>(v, "cover_offset_x");
    r.cover_offset_y = json::optField<qint64>(v, "cover_offset_y");
    r.created_by_user_id = json::optField<qint64>(v, "created_by_user_id");
    r.created_at = json::optField<QString>(v, "created_at");
    r.updated_at = json::optField<QString>(v, "updated_at");
    return r;
}

void PageDTO::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("workspace_id", workspace_id);
    w.field("parent_page_id", parent_page_id);
    w.field("folder_id", folder_id);
    w.field("title", title);
    w.field("icon", icon);
    w.field("position", position);
    w.field("cover_url", cover_url);
    w.field("cover_offset_x", cover_offset_x);
    w.field("cover_offset_y", cover_offset_y);
    w.field("created_by_user_id", created_by_user_id);
    w.field("created_at", created_at);
    w.field("updated_at", updated_at);
    w.endObject();
}

size_t qHash(const PageDTO &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.id, v.workspace_id, v.parent_page_id, v.folder_id, v.title, v.icon,
                         v.position, v.cover_url, v.cover_offset_x, v.cover_offset_y, v.created_by_user_id,
                         v.created_at, v.updated_at);
}
