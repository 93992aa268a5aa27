#include "store/page_template.h"

#include "api/wire/common.h"
#include "json/json_reader.h"

PageTemplate PageTemplate::fromJson(const rapidjson::Value &v)
{
    return PageTemplate{
        .id = json::field<QString>(v, "id"),
        .name = json::field<QString>(v, "name"),
        .title = json::field<QString>(v, "title"),
        .icon = json::field<QString>(v, "icon"),
        .blocks = json::field<std::vector<TemplateBlock>>(v, "blocks"),
    };
}

void PageTemplate::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("name", name);
    w.field("title", title);
    w.field("icon", icon);
    w.field("blocks", blocks);
    w.endObject();
}

size_t qHash(const PageTemplate &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.id, v.name, v.title, v.icon, v.blocks);
}
