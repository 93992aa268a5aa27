#include "api/comment_create_req.h"

#include "json/json_reader.h"

CommentCreateReq CommentCreateReq::fromJson(const rapidjson::Value &v)
{
    CommentCreateReq r;
    r.page_id = json::field<qint64>(v, "page_id");
    r.block_id = json::optField<qint64>(v, "block_id");
    r.body = json::field<QString>(v, "body");
    r.selection_start = json::optField<qint64>(v, "selection_start");
    r.selection_length = json::optField<qint64>(v, "selection_length");
    r.selection_text = json::optField<QString>(v, "selection_text");
    return r;
}

void CommentCreateReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("page_id", page_id);
    w.field("block_id", block_id);
    w.field("body", body);
    w.field("selection_start", selection_start);
    w.field("selection_length", selection_length);
    w.field("selection_text", selection_text);
    w.endObject();
}
