#include "api/search_resp.h"

#include "json/json_reader.h"

SearchResp SearchResp::fromJson(const rapidjson::Value &v)
{
    SearchResp r;
    r.pages = json::field<std::vector<SearchHit>>(v, "pages");
    return r;
}

void SearchResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("pages", pages);
    w.endObject();
}
