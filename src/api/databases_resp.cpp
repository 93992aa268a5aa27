#include "api/databases_resp.h"

#include "json/json_reader.h"

DatabasesResp DatabasesResp::fromJson(const rapidjson::Value &v)
{
    DatabasesResp r;
    r.databases = json::field<std::vector<DatabaseDTO>>(v, "databases");
    return r;
}

void DatabasesResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("databases", databases);
    w.endObject();
}
