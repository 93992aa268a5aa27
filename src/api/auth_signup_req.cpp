#include "api/auth_signup_req.h"

#include "json/json_reader.h"

AuthSignupReq AuthSignupReq::fromJson(const rapidjson::Value &v)
{
    AuthSignupReq r;
    r.email = json::field<QString>(v, "email");
    r.password = json::field<QString>(v, "password");
    r.name = json::field<QString>(v, "name");
    r.device_label = json::optField<QString>(v, "device_label");
    return r;
}

void AuthSignupReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("email", email);
    w.field("password", password);
    w.field("name", name);
    w.field("device_label", device_label);
    w.endObject();
}
