#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

// Body of the pull.
struct SyncReq {
    qint64 since_ts = 0;

    static SyncReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
