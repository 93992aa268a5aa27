#pragma once

#include "json/json_value.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Body that changes a row; `data` is the row's whole map after the edit.
struct DBRowPatchReq {
    qint64 row_id = 0;
    std::optional<JSONObject> data;
    std::optional<qint64> position;

    static DBRowPatchReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
