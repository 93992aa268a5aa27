#include "store/template_block.h"

#include "api/wire/common.h"
#include "json/json_reader.h"

TemplateBlock TemplateBlock::fromJson(const rapidjson::Value &v)
{
    return TemplateBlock{
        .type = json::field<QString>(v, "type"),
        .contentJSON = json::field<QString>(v, "contentJSON"),
    };
}

void TemplateBlock::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("type", type);
    w.field("contentJSON", contentJSON);
    w.endObject();
}

size_t qHash(const TemplateBlock &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.type, v.contentJSON);
}
