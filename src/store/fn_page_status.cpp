#include "store/fn_page_status.h"

#include "api/wire/common.h"
#include "json/json_reader.h"

FNPageStatus FNPageStatus::fromJson(const rapidjson::Value &v)
{
    return FNPageStatus{
        .published = json::field<bool>(v, "published"),
        .sharedCount = json::field<qint64>(v, "sharedCount"),
    };
}

void FNPageStatus::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("published", published);
    w.field("sharedCount", sharedCount);
    w.endObject();
}

size_t qHash(const FNPageStatus &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.published, v.sharedCount);
}
