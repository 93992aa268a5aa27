#pragma once

#include "json/json_value.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// One block to create or update; `id` is absent while the block has no server id.
struct BlockUpsertItem {
    QString client_id;
    std::optional<qint64> id;
    QString type;
    JSONObject content;
    qint64 position = 0;
    std::optional<qint64> parent_block_id;

    static BlockUpsertItem fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
