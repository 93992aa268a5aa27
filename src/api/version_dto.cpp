#include "api/version_dto.h"

#include "json/json_reader.h"

VersionDTO VersionDTO::fromJson(const rapidjson::Value &v)
{
    VersionDTO r;
    r.id = json::field<qint64>(v, "id");
    r.page_id = json::field<qint64>(v, "page_id");
    r.user_id = json::optField<qint64>(v, "user_id");
    r.user_name = json::optField<QString>(v, "user_name");
    r.created_at = json::field<QString>(v, "created_at");
    r.byte_size = json::optField<qint64>(v, "byte_size");
    return r;
}

void VersionDTO::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("page_id", page_id);
    w.field("user_id", user_id);
    w.field("user_name", user_name);
    w.field("created_at", created_at);
    w.field("byte_size", byte_size);
    w.endObject();
}
