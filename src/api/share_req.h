#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>
#include <vector>

// Body that shares a page with one person by e-mail.
struct ShareReq {
    qint64 page_id = 0;
    QString email;
    QString role;
    std::optional<std::vector<QString>> permissions;

    static ShareReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
