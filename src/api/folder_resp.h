#pragma once

#include "api/folder_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

// Reply of a folder create.
struct FolderResp {
    FolderDTO folder;

    static FolderResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
