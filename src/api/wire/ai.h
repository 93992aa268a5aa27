#pragma once

#include "api/wire/common.h"

#include <QString>

#include <optional>

// Wire types of the AI assistant.

// Body of one request to the AI assistant.
struct AIReq {
    QString action;
    std::optional<qint64> page_id;
    std::optional<QString> text;
    std::optional<QString> prompt;
    std::optional<QString> target_lang;

    static constexpr std::tuple kFields{
        wire::Field{"action", &AIReq::action},
        wire::Field{"page_id", &AIReq::page_id},
        wire::Field{"text", &AIReq::text},
        wire::Field{"prompt", &AIReq::prompt},
        wire::Field{"target_lang", &AIReq::target_lang},
    };
};

// Reply of the AI assistant; `error` may come with a successful reply.
struct AIResp {
    std::optional<QString> text;
    std::optional<qint64> remaining_today;
    std::optional<QString> error;

    static constexpr std::tuple kFields{
        wire::Field{"text", &AIResp::text},
        wire::Field{"remaining_today", &AIResp::remaining_today},
        wire::Field{"error", &AIResp::error},
    };
};
