#pragma once

#include "api/auth_user.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Reply of both login and sign-up.
struct AuthResp {
    QString token;
    AuthUser user;
    std::optional<qint64> workspace_id;

    static AuthResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
