#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Body of a login.
struct AuthLoginReq {
    QString email;
    QString password;
    std::optional<QString> device_label;

    static AuthLoginReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
