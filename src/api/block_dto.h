#pragma once

#include "json/json_value.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// One block as the service stores it; content compares by value, whatever its key order.
struct BlockDTO {
    qint64 id = 0;
    qint64 page_id = 0;
    std::optional<qint64> parent_block_id;
    QString type;
    JSONObject content;
    qint64 position = 0;
    std::optional<QString> client_id; // the local id its sender gave it, when the service says

    static BlockDTO fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const BlockDTO &, const BlockDTO &) = default;
};

size_t qHash(const BlockDTO &v, size_t seed = 0) noexcept;
