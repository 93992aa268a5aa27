#include "api/ai_req.h"

#include "json/json_reader.h"

AIReq AIReq::fromJson(const rapidjson::Value &v)
{
    AIReq r;
    r.action = json::field<QString>(v, "action");
    r.page_id = json::optField<qint64>(v, "page_id");
    r.text = json::optField<QString>(v, "text");
    r.prompt = json::optField<QString>(v, "prompt");
    r.target_lang = json::optField<QString>(v, "target_lang");
    return r;
}

void AIReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("action", action);
    w.field("page_id", page_id);
    w.field("text", text);
    w.field("prompt", prompt);
    w.field("target_lang", target_lang);
    w.endObject();
}
