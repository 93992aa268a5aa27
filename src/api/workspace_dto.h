#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// One workspace of the signed-in user.
struct WorkspaceDTO {
    qint64 id = 0;
    QString name;
    std::optional<qint64> owner_user_id;
    std::optional<QString> role;
    std::optional<QString> created_at;

    static WorkspaceDTO fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const WorkspaceDTO &, const WorkspaceDTO &) = default;
};

size_t qHash(const WorkspaceDTO &v, size_t seed = 0) noexcept;
