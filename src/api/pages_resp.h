#pragma once

#include "api/json_writer.h"
#include "api/page_dto.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// Reply listing pages (the trash).
struct PagesResp {
    std::vector<PageDTO> pages;

    static PagesResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
