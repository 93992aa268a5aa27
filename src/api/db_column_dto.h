#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>
#include <vector>

// One column of an inline database; `id` keys the column's cells in each row.
struct DBColumnDTO {
    QString id;
    QString name;
    QString type;
    std::optional<std::vector<QString>> options;

    static DBColumnDTO fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const DBColumnDTO &, const DBColumnDTO &) = default;
};

size_t qHash(const DBColumnDTO &v, size_t seed = 0) noexcept;
