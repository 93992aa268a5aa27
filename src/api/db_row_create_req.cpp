#include "api/db_row_create_req.h"

#include "json/json_reader.h"

DBRowCreateReq DBRowCreateReq::fromJson(const rapidjson::Value &v)
{
    DBRowCreateReq r;
    r.database_id = json::field<qint64>(v, "database_id");
    r.data = json::field<JSONObject>(v, "data");
    r.position = json::field<qint64>(v, "position");
    return r;
}

void DBRowCreateReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("database_id", database_id);
    w.field("data", data);
    w.field("position", position);
    w.endObject();
}
