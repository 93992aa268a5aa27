#include "api/database_resp.h"

#include "json/json_reader.h"

DatabaseResp DatabaseResp::fromJson(const rapidjson::Value &v)
{
    DatabaseResp r;
    r.database = json::field<DatabaseDTO>(v, "database");
    return r;
}

void DatabaseResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("database", database);
    w.endObject();
}
