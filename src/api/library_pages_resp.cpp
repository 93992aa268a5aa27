#include "api/library_pages_resp.h"

#include "json/json_reader.h"

LibraryPagesResp LibraryPagesResp::fromJson(const rapidjson::Value &v)
{
    LibraryPagesResp r;
    r.pages = json::field<std::vector<PageDTO>>(v, "pages");
    return r;
}

void LibraryPagesResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("pages", pages);
    w.endObject();
}
