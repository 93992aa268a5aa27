#include "api/page_create_req.h"

#include "json/json_reader.h"

PageCreateReq PageCreateReq::fromJson(const rapidjson::Value &v)
{
    PageCreateReq r;
    r.workspace_id = json::field<qint64>(v, "workspace_id");
    r.parent_page_id = json::optField<qint64>(v, "parent_page_id");
    r.title = json::field<QString>(v, "title");
    r.icon = json::field<QString>(v, "icon");
    r.position = json::field<qint64>(v, "position");
    return r;
}

void PageCreateReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("workspace_id", workspace_id);
    w.field("parent_page_id", parent_page_id);
    w.field("title", title);
    w.field("icon", icon);
    w.field("position", position);
    w.endObject();
}
