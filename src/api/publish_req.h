#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Body that publishes a page or changes its settings; no `password` keeps the one set.
struct PublishReq {
    qint64 page_id = 0;
    std::optional<QString> password;
    bool allow_comments = false;
    bool include_subpages = false;

    static PublishReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
