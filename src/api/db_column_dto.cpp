#include "api/db_column_dto.h"

#include "api/wire_hash.h"
#include "json/json_reader.h"

DBColumnDTO DBColumnDTO::fromJson(const rapidjson::Value &v)
{
    DBColumnDTO r;
    r.id = json::field<QString>(v, "id");
    r.name = json::field<QString>(v, "name");
    r.type = json::field<QString>(v, "type");
    r.options = json::optField<std::vector<QString>>(v, "options");
    return r;
}

void DBColumnDTO::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("name", name);
    w.field("type", type);
    w.field("options", options);
    w.endObject();
}

size_t qHash(const DBColumnDTO &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.id, v.name, v.type, v.options);
}
