#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Body moving a page into a folder, or to the top level when `folder_id` is absent.
struct FolderMovePageReq {
    qint64 page_id = 0;
    std::optional<qint64> folder_id;

    static FolderMovePageReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
