#include "api/db_row_patch_req.h"

#include "json/json_reader.h"

DBRowPatchReq DBRowPatchReq::fromJson(const rapidjson::Value &v)
{
    DBRowPatchReq r;
    r.row_id = json::field<qint64>(v, "row_id");
    r.data = json::optField<JSONObject>(v, "data");
    r.position = json::optField<qint64>(v, "position");
    return r;
}

void DBRowPatchReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("row_id", row_id);
    w.field("data", data);
    w.field("position", position);
    w.endObject();
}
