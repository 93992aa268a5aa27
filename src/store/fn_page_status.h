#pragma once

#include "json/json_writer.h"

#include <rapidjson/document.h>

// The publish and share badges of one page.
struct FNPageStatus {
    bool published = false;
    qint64 sharedCount = 0;

    static FNPageStatus fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const FNPageStatus &, const FNPageStatus &) = default;
};

size_t qHash(const FNPageStatus &v, size_t seed = 0) noexcept;
