#include "api/page_statuses_resp.h"

#include "json/json_reader.h"

PageStatusesResp PageStatusesResp::fromJson(const rapidjson::Value &v)
{
    PageStatusesResp r;
    r.statuses = json::field<QMap<QString, LibraryServerStatus>>(v, "statuses");
    return r;
}

void PageStatusesResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("statuses", statuses);
    w.endObject();
}
