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
        wire::Field{"email", &AuthLoginReq::email},
        wire::Field{"password", &AuthLoginReq::password},
        wire::Field{"device_label", &AuthLoginReq::device_label},
    };
};

// Body of a sign-up.
struct AuthSignupReq {
    QString email;
    QString password;
    QString name;
    std::optional<QString> device_label;

    static constexpr std::tuple kFields{
        wire::Field{"email", &AuthSignupReq::email},
        wire::Field{"password", &AuthSignupReq::password},
        wire::Field{"name", &AuthSignupReq::name},
        wire::Field{"device_label", &AuthSignupReq::device_label},
    };
};

// The signed-in user as the service describes it in the login and sign-up reply.
struct AuthUser {
    qint64 id = 0;
    QString name;
    QString email;

    static constexpr std::tuple kFields{
        wire::Field{"id", &AuthUser::id},
        wire::Field{"name", &AuthUser::name},
        wire::Field{"email", &AuthUser::email},
    };
};

// Reply of both login and sign-up.
struct AuthResp {
    QString token;
    AuthUser user;
    std::optional<qint64> workspace_id;

    static constexpr std::tuple kFields{
        wire::Field{"token", &AuthResp::token},
        wire::Field{"user", &AuthResp::user},
        wire::Field{"workspace_id", &AuthResp::workspace_id},
    };
};
