#pragma once

#include "api/sync_op_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>
#include <vector>

// Reply of the pull: the changes after the cursor and the new cursor.
struct SyncResp {
    std::vector<SyncOpDTO> ops;
    qint64 server_ts = 0;
    std::optional<bool> capped;

    // An op that cannot be read is left out with a diagnostic line, so the cursor still moves past
    // it; a reply whose own keys are wrong fails whole.
    static constexpr bool kSkipsUnreadableItems = true;
    static SyncResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
