#include "api/comments_resp.h"

#include "json/json_reader.h"

CommentsResp CommentsResp::fromJson(const rapidjson::Value &v)
{
    CommentsResp r;
    r.comments = json::field<std::vector<CommentDTO>>(v, "comments");
    return r;
}

void CommentsResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("comments", comments);
    w.endObject();
}
