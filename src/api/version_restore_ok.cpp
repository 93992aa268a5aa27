#include "api/version_restore_ok.h"

#include "json/json_reader.h"

VersionRestoreOK VersionRestoreOK::fromJson(const rapidjson::Value &v)
{
    VersionRestoreOK r;
    r.ok = json::optField<bool>(v, "ok");
    return r;
}

void VersionRestoreOK::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("ok", ok);
    w.endObject();
}
