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
        json::Field{"action", &AIReq::action},
        json::Field{"page_id", &AIReq::page_id},
        json::Field{"text", &AIReq::text},
        json::Field{"prompt", &AIReq::prompt},
        json::Field{"target_lang", &AIReq::target_lang},
    };
};

// Reply of the AI assistant; `error` may come with a successful reply.
struct AIResp {
    std::optional<QString> text;
    std::optional<qint64> remaining_today;
    std::optional<QString> error;

    static constexpr std::tuple kFields{
        json::Field{"text", &AIResp::text},
        json::Field{"remaining_today", &AIResp::remaining_today},
        json::Field{"error", &AIResp::error},
    };
};
