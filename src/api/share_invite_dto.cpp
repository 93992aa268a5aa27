#include "api/share_invite_dto.h"

#include "json/json_reader.h"

ShareInviteDTO ShareInviteDTO::fromJson(const rapidjson::Value &v)
{
    ShareInviteDTO r;
    r.id = json::field<qint64>(v, "id");
    r.email = json::field<QString>(v, "email");
    r.permissions = json::field<std::vector<QString>>(v, "permissions");
    r.role = json::optField<QString>(v, "role");
    r.created_at = json::field<QString>(v, "created_at");
    r.accepted_at = json::optField<QString>(v, "accepted_at");
    return r;
}

void ShareInviteDTO::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("email", email);
    w.field("permissions", permissions);
    w.field("role", role);
    w.field("created_at", created_at);
    w.field("accepted_at", accepted_at);
    w.endObject();
}
