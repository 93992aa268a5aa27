#include "api/database_dto.h"

#include "api/wire_hash.h"
#include "json/json_reader.h"

DatabaseDTO DatabaseDTO::fromJson(const rapidjson::Value &v)
{
    DatabaseDTO r;
    r.id = json::field<qint64>(v, "id");
    r.page_id = json::field<qint64>(v, "page_id");
    r.name = json::field<QString>(v, "name");
    r.columns = json::field<std::vector<DBColumnDTO>>(v, "columns");
    r.rows = json::field<std::vector<DBRowDTO>>(v, "rows");
    return r;
}

void DatabaseDTO::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("page_id", page_id);
    w.field("name", name);
    w.field("columns", columns);
    w.field("rows", rows);
    w.endObject();
}

size_t qHash(const DatabaseDTO &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.id, v.page_id, v.name, v.columns, v.rows);
}
