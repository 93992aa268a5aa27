#include "api/share_list_resp.h"

#include "json/json_reader.h"

ShareListResp ShareListResp::fromJson(const rapidjson::Value &v)
{
    ShareListResp r;
    r.shares = json::field<std::vector<ShareItemDTO>>(v, "shares");
    r.invites = json::field<std::vector<ShareInviteDTO>>(v, "invites");
    return r;
}

void ShareListResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("shares", shares);
    w.field("invites", invites);
    w.endObject();
}
