#pragma once

#include "api/wire/common.h"

#include <QString>

#include <optional>
#include <vector>

// Wire types of the pull: changes recorded by the service after a cursor.

// Body of the pull.
struct SyncReq {
    qint64 since_ts = 0;

    static constexpr std::tuple kFields{
        json::Field{"since_ts", &SyncReq::since_ts},
    };
};

// One change recorded by the service.
struct SyncOpDTO {
    QString entity_type;
    qint64 entity_id = 0;
    QString op;
    std::optional<JSONObject> payload;
    qint64 server_ts = 0;

    static constexpr std::tuple kFields{
        json::Field{"entity_type", &SyncOpDTO::entity_type},
        json::Field{"entity_id", &SyncOpDTO::entity_id},
        json::Field{"op", &SyncOpDTO::op},
        json::Field{"payload", &SyncOpDTO::payload},
        json::Field{"server_ts", &SyncOpDTO::server_ts},
    };
};

// Reply of the pull: the changes after the cursor and the new cursor.
struct SyncResp {
    std::vector<SyncOpDTO> ops;
    qint64 server_ts = 0;
    std::optional<bool> capped;
    // An op that cannot be read is left out with a diagnostic line, so the cursor still moves past
    // it; a reply whose own keys are wrong fails whole.
    static constexpr bool kSkipsUnreadableItems = true;

    static constexpr std::tuple kFields{
        wire::SkippingList{"ops", &SyncResp::ops, "SyncResp: skipped unreadable op"},
        json::Field{"server_ts", &SyncResp::server_ts},
        json::Field{"capped", &SyncResp::capped},
    };
};
