#include "api/pages_resp.h"

#include "json/json_reader.h"

PagesResp PagesResp::fromJson(const rapidjson::Value &v)
{
    PagesResp r;
    r.pages = json::field<std::vector<PageDTO>>(v, "pages");
    return r;
}

void PagesResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("pages", pages);
    w.endObject();
}
