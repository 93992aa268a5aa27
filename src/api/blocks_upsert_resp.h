#pragma once

#include "api/block_upsert_ack.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// Reply of the batch upsert.
struct BlocksUpsertResp {
    std::vector<BlockUpsertAck> blocks;

    static BlocksUpsertResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
