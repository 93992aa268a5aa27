#include "api/search_hit.h"

#include "json/json_reader.h"

SearchHit SearchHit::fromJson(const rapidjson::Value &v)
{
    SearchHit r;
    r.id = json::field<qint64>(v, "id");
    r.title = json::field<QString>(v, "title");
    r.icon = json::optField<QString>(v, "icon");
    r.snippet = json::optField<QString>(v, "snippet");
    return r;
}

void SearchHit::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("title", title);
    w.field("icon", icon);
    w.field("snippet", snippet);
    w.endObject();
}
