#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// One folder as the service stores it; absent parent means top level.
struct FolderDTO {
    qint64 id = 0;
    qint64 workspace_id = 0;
    std::optional<qint64> parent_folder_id;
    QString name;
    std::optional<QString> icon;
    qint64 position = 0;
    std::optional<QString> created_at;
    std::optional<QString> updated_at;

    static FolderDTO fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const FolderDTO &, const FolderDTO &) = default;
};

size_t qHash(const FolderDTO &v, size_t seed = 0) noexcept;
