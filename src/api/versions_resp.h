#pragma once

#include "api/version_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// Reply listing the saved versions of a page.
struct VersionsResp {
    std::vector<VersionDTO> versions;

    static VersionsResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
