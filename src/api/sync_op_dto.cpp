#include "api/sync_op_dto.h"

#include "json/json_reader.h"

SyncOpDTO SyncOpDTO::fromJson(const rapidjson::Value &v)
{
    SyncOpDTO r;
    r.entity_type = json::field<QString>(v, "entity_type");
    r.entity_id = json::field<qint64>(v, "entity_id");
    r.op = json::field<QString>(v, "op");
    r.payload = json::optField<JSONObject>(v, "payload");
    r.server_ts = json::field<qint64>(v, "server_ts");
    return r;
}

void SyncOpDTO::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("entity_type", entity_type);
    w.field("entity_id", entity_id);
    w.field("op", op);
    w.field("payload", payload);
    w.field("server_ts", server_ts);
    w.endObject();
}
