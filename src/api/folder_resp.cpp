#include "api/folder_resp.h"

#include "json/json_reader.h"

FolderResp FolderResp::fromJson(const rapidjson::Value &v)
{
    FolderResp r;
    r.folder = json::field<FolderDTO>(v, "folder");
    return r;
}

void FolderResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("folder", folder);
    w.endObject();
}
