#include "api/publish_req.h"

#include "json/json_reader.h"

PublishReq PublishReq::fromJson(const rapidjson::Value &v)
{
    PublishReq r;
    r.page_id = json::field<qint64>(v, "page_id");
    r.password = json::optField<QString>(v, "password");
    r.allow_comments = json::field<bool>(v, "allow_comments");
    r.include_subpages = json::field<bool>(v, "include_subpages");
    return r;
}

void PublishReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("page_id", page_id);
    w.field("password", password);
    w.field("allow_comments", allow_comments);
    w.field("include_subpages", include_subpages);
    w.endObject();
}
