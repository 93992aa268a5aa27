#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Body of a folder create.
struct FolderCreateReq {
    qint64 workspace_id = 0;
    std::optional<qint64> parent_folder_id;
    QString name;
    QString icon;

    static FolderCreateReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
