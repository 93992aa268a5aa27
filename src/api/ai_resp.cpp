#include "api/ai_resp.h"

#include "json/json_reader.h"

AIResp AIResp::fromJson(const rapidjson::Value &v)
{
    AIResp r;
    r.text = json::optField<QString>(v, "text");
    r.remaining_today = json::optField<qint64>(v, "remaining_today");
    r.error = json::optField<QString>(v, "error");
    return r;
}

void AIResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("text", text);
    w.field("remaining_today", remaining_today);
    w.field("error", error);
    w.endObject();
}
