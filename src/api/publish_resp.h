#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// The publication state of a page. The settings come back as integer flags, not booleans.
struct PublishResp {
    bool published = false;
    std::optional<QString> slug;
    std::optional<QString> url;
    std::optional<qint64> allow_comments;
    std::optional<qint64> include_subpages;
    std::optional<qint64> view_count;
    std::optional<bool> has_password;

    static PublishResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    // Only the flag value 1 means on; absence means off, no views, no password.
    bool commentsAllowed() const { return allow_comments == 1; }
    bool subpagesIncluded() const { return include_subpages == 1; }
    qint64 views() const { return view_count.value_or(0); }
    bool passwordSet() const { return has_password.value_or(false); }
};
