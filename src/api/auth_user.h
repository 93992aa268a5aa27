#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

// The signed-in user as the service describes it in the login and sign-up reply.
struct AuthUser {
    qint64 id = 0;
    QString name;
    QString email;

    static AuthUser fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const AuthUser &, const AuthUser &) = default;
};

size_t qHash(const AuthUser &v, size_t seed = 0) noexcept;
