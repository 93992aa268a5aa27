#pragma once

#include "api/json_writer.h"
#include "api/suggestion_dto.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// Reply listing a page's suggestions.
struct SuggestionsResp {
    std::vector<SuggestionDTO> suggestions;

    static SuggestionsResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
