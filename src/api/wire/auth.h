#pragma once

#include "api/wire/common.h"

#include <QString>

#include <optional>

// Wire types of signing in and signing up.

// Body of a login.
struct AuthLoginReq {
    QString email;
    QString password;
    std::optional<QString> device_label;

    static constexpr std::tuple kFields{
        json::Field{"email", &AuthLoginReq::email},
        json::Field{"password", &AuthLoginReq::password},
        json::Field{"device_label", &AuthLoginReq::device_label},
    };
};

// Body of a sign-up.
struct AuthSignupReq {
    QString email;
    QString password;
    QString name;
    std::optional<QString> device_label;

    static constexpr std::tuple kFields{
        json::Field{"email", &AuthSignupReq::email},
        json::Field{"password", &AuthSignupReq::password},
        json::Field{"name", &AuthSignupReq::name},
        json::Field{"device_label", &AuthSignupReq::device_label},
    };
};

// The signed-in user as the service describes it in the login and sign-up reply.
struct AuthUser {
    qint64 id = 0;
    QString name;
    QString email;

    static constexpr std::tuple kFields{
        json::Field{"id", &AuthUser::id},
        json::Field{"name", &AuthUser::name},
        json::Field{"email", &AuthUser::email},
    };
};

// Reply of both login and sign-up.
struct AuthResp {
    QString token;
    AuthUser user;
    std::optional<qint64> workspace_id;

    static constexpr std::tuple kFields{
        json::Field{"token", &AuthResp::token},
        json::Field{"user", &AuthResp::user},
        json::Field{"workspace_id", &AuthResp::workspace_id},
    };
};
