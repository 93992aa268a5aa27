#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

// Body that restores a page to a saved version.
struct VersionRestoreReq {
    qint64 version_id = 0;
    bool restore = true;

    static VersionRestoreReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
