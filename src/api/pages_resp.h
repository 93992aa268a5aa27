#pragma once

#include "api/page_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// Reply listing pages (the trash).
struct PagesResp {
    std::vector<PageDTO> pages;

    static PagesResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
