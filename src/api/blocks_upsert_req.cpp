#include "api/blocks_upsert_req.h"

#include "json/json_reader.h"

BlocksUpsertReq BlocksUpsertReq::fromJson(const rapidjson::Value &v)
{
    BlocksUpsertReq r;
    r.page_id = json::field<qint64>(v, "page_id");
    r.blocks = json::field<std::vector<BlockUpsertItem>>(v, "blocks");
    return r;
}

void BlocksUpsertReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("page_id", page_id);
    w.field("blocks", blocks);
    w.endObject();
}
