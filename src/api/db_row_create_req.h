#pragma once

#include "json/json_value.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

// Body that adds a row.
struct DBRowCreateReq {
    qint64 database_id = 0;
    JSONObject data;
    qint64 position = 0;

    static DBRowCreateReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
