#include "api/blocks_upsert_resp.h"

#include "json/json_reader.h"

BlocksUpsertResp BlocksUpsertResp::fromJson(const rapidjson::Value &v)
{
    BlocksUpsertResp r;
    r.blocks = json::field<std::vector<BlockUpsertAck>>(v, "blocks");
    return r;
}

void BlocksUpsertResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("blocks", blocks);
    w.endObject();
}
