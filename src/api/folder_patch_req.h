#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Body of a folder update; only the fields that change are present.
struct FolderPatchReq {
    qint64 folder_id = 0;
    std::optional<QString> name;
    std::optional<QString> icon;
    std::optional<qint64> position;
    std::optional<qint64> parent_folder_id;

    static FolderPatchReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
