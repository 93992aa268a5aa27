#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Reply of a file upload; only `url` is used.
struct UploadResp {
    QString url;
    std::optional<QString> path;
    std::optional<qint64> size;
    std::optional<QString> mime;

    static UploadResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
