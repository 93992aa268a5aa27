#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>
#include <vector>

// One pending invitation to an address without access yet.
struct ShareInviteDTO {
    qint64 id = 0;
    QString email;
    std::vector<QString> permissions;
    std::optional<QString> role;
    QString created_at;
    std::optional<QString> accepted_at;

    static ShareInviteDTO fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
