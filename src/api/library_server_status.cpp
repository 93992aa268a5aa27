#include "api/library_server_status.h"

#include "json/json_reader.h"

LibraryServerStatus LibraryServerStatus::fromJson(const rapidjson::Value &v)
{
    LibraryServerStatus r;
    r.published = json::field<bool>(v, "published");
    r.shared_count = json::field<qint64>(v, "shared_count");
    return r;
}

void LibraryServerStatus::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("published", published);
    w.field("shared_count", shared_count);
    w.endObject();
}
