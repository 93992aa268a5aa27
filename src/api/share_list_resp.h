#pragma once

#include "api/share_invite_dto.h"
#include "api/share_item_dto.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <vector>

// Reply listing who has access to a page.
struct ShareListResp {
    std::vector<ShareItemDTO> shares;
    std::vector<ShareInviteDTO> invites;

    static ShareListResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
