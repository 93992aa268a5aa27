#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Body that adds one comment.
struct CommentCreateReq {
    qint64 page_id = 0;
    std::optional<qint64> block_id;
    QString body;
    std::optional<qint64> selection_start;
    std::optional<qint64> selection_length;
    std::optional<QString> selection_text;

    static CommentCreateReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
