#include "api/comment_dto.h"

#include "json/json_reader.h"

CommentDTO CommentDTO::fromJson(const rapidjson::Value &v)
{
    CommentDTO r;
    r.id = json::field<qint64>(v, "id");
    r.page_id = json::field<qint64>(v, "page_id");
    r.block_id = json::optField<qint64>(v, "block_id");
    r.user_id = json::optField<qint64>(v, "user_id");
    r.user_name = json::optField<QString>(v, "user_name");
    r.guest_name = json::optField<QString>(v, "guest_name");
    r.body = json::field<QString>(v, "body");
    r.selection_start = json::optField<qint64>(v, "selection_start");
    r.selection_length = json::optField<qint64>(v, "selection_length");
    r.selection_text = json::optField<QString>(v, "selection_text");
    r.resolved_at = json::optField<QString>(v, "resolved_at");
    r.created_at = json::field<QString>(v, "created_at");
    return r;
}

void CommentDTO::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("page_id", page_id);
    w.field("block_id", block_id);
    w.field("user_id", user_id);
    w.field("user_name", user_name);
    w.field("guest_name", guest_name);
    w.field("body", body);
    w.field("selection_start", selection_start);
    w.field("selection_length", selection_length);
    w.field("selection_text", selection_text);
    w.field("resolved_at", resolved_at);
    w.field("created_at", created_at);
    w.endObject();
}
