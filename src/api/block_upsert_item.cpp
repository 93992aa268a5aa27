#include "api/block_upsert_item.h"

#include "json/json_reader.h"

BlockUpsertItem BlockUpsertItem::fromJson(const rapidjson::Value &v)
{
    BlockUpsertItem r;
    r.client_id = json::field<QString>(v, "client_id");
    r.id = json::optField<qint64>(v, "id");
    r.type = json::field<QString>(v, "type");
    r.content = json::field<JSONObject>(v, "content");
    r.position = json::field<qint64>(v, "position");
    r.parent_block_id = json::optField<qint64>(v, "parent_block_id");
    return r;
}

void BlockUpsertItem::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("client_id", client_id);
    w.field("id", id);
    w.field("type", type);
    w.field("content", content);
    w.field("position", position);
    w.field("parent_block_id", parent_block_id);
    w.endObject();
}
