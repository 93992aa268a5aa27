#include "api/version_restore_req.h"

#include "json/json_reader.h"

VersionRestoreReq VersionRestoreReq::fromJson(const rapidjson::Value &v)
{
    VersionRestoreReq r;
    r.version_id = json::field<qint64>(v, "version_id");
    r.restore = json::field<bool>(v, "restore");
    return r;
}

void VersionRestoreReq::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("version_id", version_id);
    w.field("restore", restore);
    w.endObject();
}
