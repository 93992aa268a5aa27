#include "api/page_resp.h"

#include "json/json_reader.h"

PageResp PageResp::fromJson(const rapidjson::Value &v)
{
    PageResp r;
    r.page = json::field<PageDTO>(v, "page");
    return r;
}

void PageResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("page", page);
    w.endObject();
}
