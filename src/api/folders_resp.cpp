#include "api/folders_resp.h"

#include "json/json_reader.h"

FoldersResp FoldersResp::fromJson(const rapidjson::Value &v)
{
    FoldersResp r;
    r.folders = json::field<std::vector<FolderDTO>>(v, "folders");
    return r;
}

void FoldersResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("folders", folders);
    w.endObject();
}
