#pragma once

#include "api/comment_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

// Reply of adding a comment.
struct CommentCreateResp {
    CommentDTO comment;

    static CommentCreateResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
