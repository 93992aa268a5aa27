#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Reply of the share sheet's invite by e-mail.
struct ShareInviteResp {
    std::optional<bool> ok;
    std::optional<QString> kind;
    std::optional<QString> error;

    static ShareInviteResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
