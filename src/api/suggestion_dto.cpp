#include "api/suggestion_dto.h"

#include "json/json_reader.h"

SuggestionDTO SuggestionDTO::fromJson(const rapidjson::Value &v)
{
    SuggestionDTO r;
    r.id = json::field<qint64>(v, "id");
    r.page_id = json::field<qint64>(v, "page_id");
    r.block_id = json::optField<qint64>(v, "block_id");
    r.user_id = json::field<qint64>(v, "user_id");
    r.user_name = json::optField<QString>(v, "user_name");
    r.kind = json::field<QString>(v, "kind");
    r.payload = json::optField<JSONObject>(v, "payload");
    r.status = json::field<QString>(v, "status");
    r.created_at = json::field<QString>(v, "created_at");
    r.decided_at = json::optField<QString>(v, "decided_at");
    return r;
}

void SuggestionDTO::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("page_id", page_id);
    w.field("block_id", block_id);
    w.field("user_id", user_id);
    w.field("user_name", user_name);
    w.field("kind", kind);
    w.field("payload", payload);
    w.field("status", status);
    w.field("created_at", created_at);
    w.field("decided_at", decided_at);
    w.endObject();
}
