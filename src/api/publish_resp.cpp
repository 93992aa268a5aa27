#include "api/publish_resp.h"

#include "json/json_reader.h"

PublishResp PublishResp::fromJson(const rapidjson::Value &v)
{
    PublishResp r;
    r.published = json::field<bool>(v, "published");
    r.slug = json::optField<QString>(v, "slug");
    r.url = json::optField<QString>(v, "url");
    r.allow_comments = json::optField<qint64>(v, "allow_comments");
    r.include_subpages = json::optField<qint64>(v, "include_subpages");
    r.view_count = json::optField<qint64>(v, "view_count");
    r.has_password = json::optField<bool>(v, "has_password");
    return r;
}

void PublishResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("published", published);
    w.field("slug", slug);
    w.field("url", url);
    w.field("allow_comments", allow_comments);
    w.field("include_subpages", include_subpages);
    w.field("view_count", view_count);
    w.field("has_password", has_password);
    w.endObject();
}
