#pragma once

#include "api/block_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// Reply listing the blocks of one page.
struct BlocksResp {
    std::vector<BlockDTO> blocks;

    static BlocksResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
