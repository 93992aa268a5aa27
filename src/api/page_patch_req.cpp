#include "api/page_patch_req.h"

#include "json/json_reader.h"

PagePatchReq PagePatchReq::fromJson(const rapidjson::Value &v)
{
    PagePatchReq r;
    r.page_id = json::field<qint64>(v, "page_id");
    r.title = json::optField<QString>(v, "title");
    r.icon = json::optField<QString>(v, "icon");
    r.position = json::optField<qint64>(v, "position");
    r.parent_page_id = json::optField<qint64>(v, "parent_page_id");
    r.cover_url = json::optField<QString>(v, "cover_url");
    r.cover_offset_x = json::optField<qint64>(v, "cover_offset_x");
    r.cover_offset_y = json::optField<qint64>(v, "cover_offset_y");
    return r;
}

void PagePatchReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("page_id", page_id);
    w.field("title", title);
    w.field("icon", icon);
    w.field("position", position);
    w.field("parent_page_id", parent_page_id);
    w.field("cover_url", cover_url);
    w.field("cover_offset_x", cover_offset_x);
    w.field("cover_offset_y", cover_offset_y);
    w.endObject();
}
