#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Reply of the version history's restore; any object counts as done.
struct VersionRestoreOK {
    std::optional<bool> ok;

    static VersionRestoreOK fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
