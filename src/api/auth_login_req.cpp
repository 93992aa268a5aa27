#include "api/auth_login_req.h"

#include "json/json_reader.h"

AuthLoginReq AuthLoginReq::fromJson(const rapidjson::Value &v)
{
    AuthLoginReq r;
    r.email = json::field<QString>(v, "email");
    r.password = json::field<QString>(v, "password");
    r.device_label = json::optField<QString>(v, "device_label");
    return r;
}

void AuthLoginReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("email", email);
    w.field("password", password);
    w.field("device_label", device_label);
    w.endObject();
}
