#pragma once

#include "api/db_row_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

// Reply of adding a row.
struct DBRowResp {
    DBRowDTO row;

    static DBRowResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
