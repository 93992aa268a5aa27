#include "store/fn_sync_op.h"

#include "store/block_fields.h"

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
        {"folder", "delete", SyncOpKind::FolderDelete}, {"page", "parent", SyncOpKind::PageParent},
    };
    for (const Pair &p : kPairs) {
        if (entity == QLatin1String(p.entity) && op == QLatin1String(p.op))
            return p.kind;
    }
    return SyncOpKind::Other;
}

qint64 FNSyncOp::fieldsCarried(const QString &blockLocalID) const
{
    return carriedFields ? carriedFields->value(blockLocalID, BlockFields::All) : qint64(BlockFields::All);
}
