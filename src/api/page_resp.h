#pragma once

#include "api/page_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

// Reply of a page create and of a page update.
struct PageResp {
    PageDTO page;

    static PageResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
