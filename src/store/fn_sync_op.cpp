#include "store/fn_sync_op.h"

#include "api/wire/common.h"
#include "json/json_reader.h"

FNSyncOp FNSyncOp::fromJson(const rapidjson::Value &v)
{
    return FNSyncOp{
        .localID = json::field<QString>(v, "localID"),
        .entity = json::field<QString>(v, "entity"),
        .op = json::field<QString>(v, "op"),
        .refLocalID = json::field<QString>(v, "refLocalID"),
        .payloadJSON = json::field<QString>(v, "payloadJSON"),
        .createdAt = json::field<QDateTime>(v, "createdAt"),
        .attempts = json::field<qint64>(v, "attempts"),
        .lastError = json::optField<QString>(v, "lastError"),
        .nextRetryAt = json::optField<QDateTime>(v, "nextRetryAt"),
        .unanswered = json::optField<bool>(v, "unanswered").value_or(false),
    };
}

void FNSyncOp::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("localID", localID);
    w.field("entity", entity);
    w.field("op", op);
    w.field("refLocalID", refLocalID);
    w.field("payloadJSON", payloadJSON);
    w.field("createdAt", createdAt);
    w.field("attempts", attempts);
    w.field("lastError", lastError);
    w.field("nextRetryAt", nextRetryAt);
    if (unanswered)
        w.field("unanswered", true);
    w.endObject();
}

size_t qHash(const FNSyncOp &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.localID, v.entity, v.op, v.refLocalID, v.payloadJSON, v.createdAt,
                         v.attempts, v.lastError, v.nextRetryAt, v.unanswered);
}

SyncOpKind FNSyncOp::kind() const
{
    struct Pair {
        const char *entity;
        const char *op;
        SyncOpKind kind;
    };
    static constexpr Pair kPairs[] = {
        {"page", "create", SyncOpKind::PageCreate},     {"page", "update", SyncOpKind::PageUpdate},
        {"page", "delete", SyncOpKind::PageDelete},     {"page", "move", SyncOpKind::PageMove},
        {"block", "upsert", SyncOpKind::BlockUpsert},   {"block", "delete", SyncOpKind::BlockDelete},
        {"folder", "create", SyncOpKind::FolderCreate}, {"folder", "update", SyncOpKind::FolderUpdate},
    };
    for (const Pair &p : kPairs) {
        if (entity == QLatin1String(p.entity) && op == QLatin1String(p.op))
            return p.kind;
    }
    return SyncOpKind::Other;
}
