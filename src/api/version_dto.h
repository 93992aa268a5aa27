#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// One saved snapshot of a page.
struct VersionDTO {
    qint64 id = 0;
    qint64 page_id = 0;
    std::optional<qint64> user_id;
    std::optional<QString> user_name;
    QString created_at;
    std::optional<qint64> byte_size;

    static VersionDTO fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
