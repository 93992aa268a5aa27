#include "api/auth_resp.h"

#include "json/json_reader.h"

AuthResp AuthResp::fromJson(const rapidjson::Value &v)
{
    AuthResp r;
    r.token = json::field<QString>(v, "token");
    r.user = json::field<AuthUser>(v, "user");
    r.workspace_id = json::optField<qint64>(v, "workspace_id");
    return r;
}

void AuthResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("token", token);
    w.field("user", user);
    w.field("workspace_id", workspace_id);
    w.endObject();
}
