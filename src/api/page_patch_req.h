#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Body of a page update with only the changed fields; also its outbox payload. An empty `cover_url` removes
// the cover.
struct PagePatchReq {
    qint64 page_id = 0;
    std::optional<QString> title;
    std::optional<QString> icon;
    std::optional<qint64> position;
    std::optional<qint64> parent_page_id;
    std::optional<QString> cover_url;
    std::optional<qint64> cover_offset_x;
    std::optional<qint64> cover_offset_y;

    static PagePatchReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
