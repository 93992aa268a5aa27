#include "api/suggestions_resp.h"

#include "json/json_reader.h"

SuggestionsResp SuggestionsResp::fromJson(const rapidjson::Value &v)
{
    SuggestionsResp r;
    r.suggestions = json::field<std::vector<SuggestionDTO>>(v, "suggestions");
    return r;
}

void SuggestionsResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("suggestions", suggestions);
    w.endObject();
}
