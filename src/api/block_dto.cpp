#include "api/block_dto.h"

#include "api/wire_hash.h"
#include "json/json_reader.h"

BlockDTO BlockDTO::fromJson(const rapidjson::Value &v)
{
    BlockDTO r;
    r.id = json::field<qint64>(v, "id");
    r.page_id = json::field<qint64>(v, "page_id");
    r.parent_block_id = json::optField<qint64>(v, "parent_block_id");
    r.type = json::field<QString>(v, "type");
    r.content = json::field<JSONObject>(v, "content");
    r.position = json::field<qint64>(v, "position");
    r.client_id = json::optField<QString>(v, "client_id");
    return r;
}

void BlockDTO::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("page_id", page_id);
    w.field("parent_block_id", parent_block_id);
    w.field("type", type);
    w.field("content", content);
    w.field("position", position);
    w.field("client_id", client_id);
    w.endObject();
}

size_t qHash(const BlockDTO &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.id, v.page_id, v.parent_block_id, v.type, v.content, v.position, v.client_id);
}
