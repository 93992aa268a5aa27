#pragma once

#include "api/page_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// The library's page-list reply for one workspace.
struct LibraryPagesResp {
    std::vector<PageDTO> pages;

    static LibraryPagesResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
