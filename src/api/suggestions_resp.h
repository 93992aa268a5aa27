#pragma once

#include "api/suggestion_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// Reply listing a page's suggestions.
struct SuggestionsResp {
    std::vector<SuggestionDTO> suggestions;

    static SuggestionsResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
