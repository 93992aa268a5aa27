#include "api/versions_resp.h"

#include "json/json_reader.h"

VersionsResp VersionsResp::fromJson(const rapidjson::Value &v)
{
    VersionsResp r;
    r.versions = json::field<std::vector<VersionDTO>>(v, "versions");
    return r;
}

void VersionsResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("versions", versions);
    w.endObject();
}
