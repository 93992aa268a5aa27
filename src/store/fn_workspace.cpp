#include "store/fn_workspace.h"

#include "api/wire/common.h"
#include "json/json_reader.h"

FNWorkspace FNWorkspace::fromJson(const rapidjson::Value &v)
{
    return FNWorkspace{
        .localID = json::field<QString>(v, "localID"),
        .serverID = json::field<qint64>(v, "serverID"),
        .name = json::field<QString>(v, "name"),
        .role = json::field<QString>(v, "role"),
        .ownerUserID = json::field<qint64>(v, "ownerUserID"),
        .createdAt = json::field<QDateTime>(v, "createdAt"),
    };
}

void FNWorkspace::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("localID", localID);
    w.field("serverID", serverID);
    w.field("name", name);
    w.field("role", role);
    w.field("ownerUserID", ownerUserID);
    w.field("createdAt", createdAt);
    w.endObject();
}

size_t qHash(const FNWorkspace &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.localID, v.serverID, v.name, v.role, v.ownerUserID, v.createdAt);
}
