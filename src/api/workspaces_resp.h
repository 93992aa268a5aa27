#pragma once

#include "api/workspace_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// Reply listing the user's workspaces.
struct WorkspacesResp {
    std::vector<WorkspaceDTO> workspaces;

    static WorkspacesResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
