#include "api/db_row_resp.h"

#include "json/json_reader.h"

DBRowResp DBRowResp::fromJson(const rapidjson::Value &v)
{
    DBRowResp r;
    r.row = json::field<DBRowDTO>(v, "row");
    return r;
}

void DBRowResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("row", row);
    w.endObject();
}
