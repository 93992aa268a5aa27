#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// One page found by the service's search.
struct SearchHit {
    qint64 id = 0;
    QString title;
    std::optional<QString> icon;
    std::optional<QString> snippet;

    static SearchHit fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
