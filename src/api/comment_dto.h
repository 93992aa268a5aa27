#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// One comment on a page, optionally on a block and a stretch of its text (UTF-16 offsets).
struct CommentDTO {
    qint64 id = 0;
    qint64 page_id = 0;
    std::optional<qint64> block_id;
    std::optional<qint64> user_id;
    std::optional<QString> user_name;
    std::optional<QString> guest_name;
    QString body;
    std::optional<qint64> selection_start;
    std::optional<qint64> selection_length;
    std::optional<QString> selection_text;
    std::optional<QString> resolved_at;
    QString created_at;

    static CommentDTO fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
