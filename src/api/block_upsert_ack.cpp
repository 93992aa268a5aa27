#include "api/block_upsert_ack.h"

#include "json/json_reader.h"

BlockUpsertAck BlockUpsertAck::fromJson(const rapidjson::Value &v)
{
    BlockUpsertAck r;
    r.client_id = json::field<QString>(v, "client_id");
    r.id = json::field<qint64>(v, "id");
    r.position = json::field<qint64>(v, "position");
    return r;
}

void BlockUpsertAck::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("client_id", client_id);
    w.field("id", id);
    w.field("position", position);
    w.endObject();
}
