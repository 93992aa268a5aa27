#include "api/db_row_dto.h"

#include "api/wire_hash.h"
#include "json/json_reader.h"

DBRowDTO DBRowDTO::fromJson(const rapidjson::Value &v)
{
    DBRowDTO r;
    r.id = json::field<qint64>(v, "id");
    r.database_id = json::optField<qint64>(v, "database_id");
    r.position = json::field<qint64>(v, "position");
    r.data = json::field<JSONObject>(v, "data");
    r.linked_page_id = json::optField<qint64>(v, "linked_page_id");
    r.created_at = json::optField<QString>(v, "created_at");
    r.updated_at = json::optField<QString>(v, "updated_at");
    return r;
}

void DBRowDTO::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("database_id", database_id);
    w.field("position", position);
    w.field("data", data);
    w.field("linked_page_id", linked_page_id);
    w.field("created_at", created_at);
    w.field("updated_at", updated_at);
    w.endObject();
}

size_t qHash(const DBRowDTO &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.id, v.database_id, v.position, v.data, v.linked_page_id, v.created_at,
                         v.updated_at);
}
