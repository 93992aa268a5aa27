#pragma once

#include "json/json_value.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// One suggested edit, as the suggestions panel lists it.
struct SuggestionDTO {
    qint64 id = 0;
    qint64 page_id = 0;
    std::optional<qint64> block_id;
    qint64 user_id = 0;
    std::optional<QString> user_name;
    QString kind;
    std::optional<JSONObject> payload;
    QString status;
    QString created_at;
    std::optional<QString> decided_at;

    static SuggestionDTO fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
