#include "api/blocks_resp.h"

#include "json/json_reader.h"

BlocksResp BlocksResp::fromJson(const rapidjson::Value &v)
{
    BlocksResp r;
    r.blocks = json::field<std::vector<BlockDTO>>(v, "blocks");
    return r;
}

void BlocksResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("blocks", blocks);
    w.endObject();
}
