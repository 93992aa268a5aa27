#pragma once

#include "api/database_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// Reply listing every database of one page.
struct DatabasesResp {
    std::vector<DatabaseDTO> databases;

    static DatabasesResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
