#include "api/share_req.h"

#include "json/json_reader.h"

ShareReq ShareReq::fromJson(const rapidjson::Value &v)
{
    ShareReq r;
    r.page_id = json::field<qint64>(v, "page_id");
    r.email = json::field<QString>(v, "email");
    r.role = json::field<QString>(v, "role");
    r.permissions = json::optField<std::vector<QString>>(v, "permissions");
    return r;
}

void ShareReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("page_id", page_id);
    w.field("email", email);
    w.field("role", role);
    w.field("permissions", permissions);
    w.endObject();
}
