#pragma once

#include "json/json_value.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// One row of an inline database, its cells keyed by column id.
struct DBRowDTO {
    qint64 id = 0;
    std::optional<qint64> database_id;
    qint64 position = 0;
    JSONObject data;
    std::optional<qint64> linked_page_id;
    std::optional<QString> created_at;
    std::optional<QString> updated_at;

    static DBRowDTO fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const DBRowDTO &, const DBRowDTO &) = default;
};

size_t qHash(const DBRowDTO &v, size_t seed = 0) noexcept;
