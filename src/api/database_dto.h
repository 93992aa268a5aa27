#pragma once

#include "api/db_column_dto.h"
#include "api/db_row_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// One inline database with its columns and rows, in order.
struct DatabaseDTO {
    qint64 id = 0;
    qint64 page_id = 0;
    QString name;
    std::vector<DBColumnDTO> columns;
    std::vector<DBRowDTO> rows;

    static DatabaseDTO fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const DatabaseDTO &, const DatabaseDTO &) = default;
};

size_t qHash(const DatabaseDTO &v, size_t seed = 0) noexcept;
