#pragma once

#include "api/db_column_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>
#include <vector>

// Body that creates a database in a page.
struct DBCreateReq {
    qint64 page_id = 0;
    std::optional<QString> name;
    std::optional<std::vector<DBColumnDTO>> columns;

    static DBCreateReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
