#include "api/share_item_dto.h"

#include "json/json_reader.h"

ShareItemDTO ShareItemDTO::fromJson(const rapidjson::Value &v)
{
    ShareItemDTO r;
    r.id = json::field<qint64>(v, "id");
    r.shared_with_user_id = json::field<qint64>(v, "shared_with_user_id");
    r.email = json::field<QString>(v, "email");
    r.name = json::field<QString>(v, "name");
    r.permissions = json::field<std::vector<QString>>(v, "permissions");
    r.role = json::optField<QString>(v, "role");
    r.created_at = json::field<QString>(v, "created_at");
    return r;
}

void ShareItemDTO::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("shared_with_user_id", shared_with_user_id);
    w.field("email", email);
    w.field("name", name);
    w.field("permissions", permissions);
    w.field("role", role);
    w.field("created_at", created_at);
    w.endObject();
}
