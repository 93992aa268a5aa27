#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Reply of the bookmark preview fetch, as the block row reads it.
struct BookmarkPreviewResp {
    std::optional<QString> url;
    std::optional<QString> title;
    std::optional<QString> description;
    std::optional<QString> image;

    static BookmarkPreviewResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
