#include "api/workspace_dto.h"

#include "api/wire_hash.h"
#include "json/json_reader.h"

WorkspaceDTO WorkspaceDTO::fromJson(const rapidjson::Value &v)
{
    WorkspaceDTO r;
    r.id = json::field<qint64>(v, "id");
    r.name = json::field<QString>(v, "name");
    r.owner_user_id = json::optField<qint64>(v, "owner_user_id");
    r.role = json::optField<QString>(v, "role");
    r.created_at = json::optField<QString>(v, "created_at");
    return r;
}

void WorkspaceDTO::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("name", name);
    w.field("owner_user_id", owner_user_id);
    w.field("role", role);
    w.field("created_at", created_at);
    w.endObject();
}

size_t qHash(const WorkspaceDTO &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.id, v.name, v.owner_user_id, v.role, v.created_at);
}
