#include "api/sync_req.h"

#include "json/json_reader.h"

SyncReq SyncReq::fromJson(const rapidjson::Value &v)
{
    SyncReq r;
    r.since_ts = json::field<qint64>(v, "since_ts");
    return r;
}

void SyncReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("since_ts", since_ts);
    w.endObject();
}
