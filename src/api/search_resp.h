#pragma once

#include "api/search_hit.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// Reply of a search.
struct SearchResp {
    std::vector<SearchHit> pages;

    static SearchResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
