#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Body of a sign-up.
struct AuthSignupReq {
    QString email;
    QString password;
    QString name;
    std::optional<QString> device_label;

    static AuthSignupReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
