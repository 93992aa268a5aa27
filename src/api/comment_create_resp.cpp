#include "api/comment_create_resp.h"

#include "json/json_reader.h"

CommentCreateResp CommentCreateResp::fromJson(const rapidjson::Value &v)
{
    CommentCreateResp r;
    r.comment = json::field<CommentDTO>(v, "comment");
    return r;
}

void CommentCreateResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("comment", comment);
    w.endObject();
}
