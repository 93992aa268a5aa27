#include "api/bookmark_preview_resp.h"

#include "json/json_reader.h"

BookmarkPreviewResp BookmarkPreviewResp::fromJson(const rapidjson::Value &v)
{
    BookmarkPreviewResp r;
    r.url = json::optField<QString>(v, "url");
    r.title = json::optField<QString>(v, "title");
    r.description = json::optField<QString>(v, "description");
    r.image = json::optField<QString>(v, "image");
    return r;
}

void BookmarkPreviewResp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("url", url);
    w.field("title", title);
    w.field("description", description);
    w.field("image", image);
    w.endObject();
}
