#include "api/workspaces_resp.h"

#include "json/json_reader.h"

WorkspacesResp WorkspacesResp::fromJson(const rapidjson::Value &v)
{
    WorkspacesResp r;
    r.workspaces = json::field<std::vector<WorkspaceDTO>>(v, "workspaces");
    return r;
}

void WorkspacesResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("workspaces", workspaces);
    w.endObject();
}
