#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Body of one request to the AI assistant.
struct AIReq {
    QString action;
    std::optional<qint64> page_id;
    std::optional<QString> text;
    std::optional<QString> prompt;
    std::optional<QString> target_lang;

    static AIReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
