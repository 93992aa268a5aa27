#pragma once

#include "api/folder_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// Reply listing the folders of a workspace.
struct FoldersResp {
    std::vector<FolderDTO> folders;

    static FoldersResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
