#pragma once

#include "api/database_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

// Reply of a database create.
struct DatabaseResp {
    DatabaseDTO database;

    static DatabaseResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
