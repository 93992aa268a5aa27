#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// One page as the service stores it.
struct PageDTO {
    qint64 id = 0;
    qint64 workspace_id = 0;
    std::optional<qint64> parent_page_id;
    std::optional<qint64> folder_id;
    QString title;
    std::optional<QString> icon;
    qint64 position = 0;
    std::optional<QString> cover_url;
    std::optional<qint64> cover_offset_x;
    std::optional<qint64> cover_offset_y;
    std::optional<qint64> created_by_user_id;
    std::optional<QString> created_at;
    std::optional<QString> updated_at;

    static PageDTO fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const PageDTO &, const PageDTO &) = default;
};

size_t qHash(const PageDTO &v, size_t seed = 0) noexcept;
