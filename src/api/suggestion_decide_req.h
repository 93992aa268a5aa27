#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

// Body of the suggestions panel's accept or reject; `status` is "accepted" or "rejected".
struct SuggestionDecideReq {
    qint64 suggestion_id = 0;
    QString status;

    static SuggestionDecideReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
