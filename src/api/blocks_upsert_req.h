#pragma once

#include "api/block_upsert_item.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// Batch upsert of one page's blocks; also the payload of its outbox operation.
struct BlocksUpsertReq {
    qint64 page_id = 0;
    std::vector<BlockUpsertItem> blocks;

    static BlocksUpsertReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
