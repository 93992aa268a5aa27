#include "api/suggestion_decide_req.h"

#include "json/json_reader.h"

SuggestionDecideReq SuggestionDecideReq::fromJson(const rapidjson::Value &v)
{
    SuggestionDecideReq r;
    r.suggestion_id = json::field<qint64>(v, "suggestion_id");
    r.status = json::field<QString>(v, "status");
    return r;
}

void SuggestionDecideReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("suggestion_id", suggestion_id);
    w.field("status", status);
    w.endObject();
}
