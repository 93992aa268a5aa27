#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

// Publish and share badge data of one page, as the library reads it.
struct LibraryServerStatus {
    bool published = false;
    qint64 shared_count = 0;

    static LibraryServerStatus fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
