#include "api/sync_resp.h"

#include "api/json_reader.h"

SyncResp SyncResp::fromJson(const rapidjson::Value &v)
{
    SyncResp r;
    r.ops = json::field<std::vector<SyncOpDTO>>(v, "ops");
    r.server_ts = json::field<qint64>(v, "server_ts");
    r.capped = json::optField<bool>(v, "capped");
    return r;
}

void SyncResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("ops", ops);
    w.field("server_ts", server_ts);
    w.field("capped", capped);
    w.endObject();
}
