#include "api/db_create_req.h"

#include "json/json_reader.h"

DBCreateReq DBCreateReq::fromJson(const rapidjson::Value &v)
{
    DBCreateReq r;
    r.page_id = json::field<qint64>(v, "page_id");
    r.name = json::optField<QString>(v, "name");
    r.columns = json::optField<std::vector<DBColumnDTO>>(v, "columns");
    return r;
}

void DBCreateReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("page_id", page_id);
    w.field("name", name);
    w.field("columns", columns);
    w.endObject();
}
