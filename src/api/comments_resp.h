#pragma once

#include "api/comment_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// Reply listing the comments of one page.
struct CommentsResp {
    std::vector<CommentDTO> comments;

    static CommentsResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
