#include "api/share_invite_resp.h"

#include "json/json_reader.h"

ShareInviteResp ShareInviteResp::fromJson(const rapidjson::Value &v)
{
    ShareInviteResp r;
    r.ok = json::optField<bool>(v, "ok");
    r.kind = json::optField<QString>(v, "kind");
    r.error = json::optField<QString>(v, "error");
    return r;
}

void ShareInviteResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("ok", ok);
    w.field("kind", kind);
    w.field("error", error);
    w.endObject();
}
