#include "store/fn_block.h"

#include "api/wire/common.h"
#include "json/json_reader.h"

FNBlock FNBlock::fromJson(const rapidjson::Value &v)
{
    return FNBlock{
        .localID = json::field<QString>(v, "localID"),
        .serverID = json::field<qint64>(v, "serverID"),
        .pageServerID = json::field<qint64>(v, "pageServerID"),
        .pageLocalID = json::field<QString>(v, "pageLocalID"),
        .parentBlockServerID = json::field<qint64>(v, "parentBlockServerID"),
        .parentBlockLocalID = json::field<QString>(v, "parentBlockLocalID"),
        .type = json::field<QString>(v, "type"),
        .contentJSON = json::field<QString>(v, "contentJSON"),
        .position = json::field<qint64>(v, "position"),
        .indentLevel = json::field<qint64>(v, "indentLevel"),
        .createdAt = json::field<QDateTime>(v, "createdAt"),
        .updatedAt = json::field<QDateTime>(v, "updatedAt"),
        .deletedAt = json::optField<QDateTime>(v, "deletedAt"),
    };
}

void FNBlock::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("localID", localID);
    w.field("serverID", serverID);
    w.field("pageServerID", pageServerID);
    w.field("pageLocalID", pageLocalID);
    w.field("parentBlockServerID", parentBlockServerID);
    w.field("parentBlockLocalID", parentBlockLocalID);
    w.field("type", type);
    w.field("contentJSON", contentJSON);
    w.field("position", position);
    w.field("indentLevel", indentLevel);
    w.field("createdAt", createdAt);
    w.field("updatedAt", updatedAt);
    w.field("deletedAt", deletedAt);
    w.endObject();
}

size_t qHash(const FNBlock &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.localID, v.serverID, v.pageServerID, v.pageLocalID, v.parentBlockServerID,
                         v.parentBlockLocalID, v.type, v.contentJSON, v.position, v.indentLevel, v.createdAt,
                         v.updatedAt, v.deletedAt);
}
