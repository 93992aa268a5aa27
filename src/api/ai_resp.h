#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Reply of the AI assistant; `error` may come with a successful reply.
struct AIResp {
    std::optional<QString> text;
    std::optional<qint64> remaining_today;
    std::optional<QString> error;

    static AIResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
