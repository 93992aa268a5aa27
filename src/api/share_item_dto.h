#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>
#include <vector>

// One person who has access to a page.
struct ShareItemDTO {
    qint64 id = 0;
    qint64 shared_with_user_id = 0;
    QString email;
    QString name;
    std::vector<QString> permissions;
    std::optional<QString> role;
    QString created_at;

    static ShareItemDTO fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
