#include "store/fn_sync_op.h"

#include "store/block_fields.h"

SyncOpKind FNSyncOp::kind() const
{
    // Asked for every operation at every push: the lengths are known up front, so most pairs are
    // told apart by them alone.
    struct Pair {
        QLatin1String entity;
        QLatin1String op;
        SyncOpKind kind;
    };
    static constexpr Pair kPairs[] = {
        {QLatin1String("page"), QLatin1String("create"), SyncOpKind::PageCreate},
        {QLatin1String("page"), QLatin1String("update"), SyncOpKind::PageUpdate},
        {QLatin1String("page"), QLatin1String("delete"), SyncOpKind::PageDelete},
        {QLatin1String("page"), QLatin1String("move"), SyncOpKind::PageMove},
        {QLatin1String("block"), QLatin1String("upsert"), SyncOpKind::BlockUpsert},
        {QLatin1String("block"), QLatin1String("delete"), SyncOpKind::BlockDelete},
        {QLatin1String("folder"), QLatin1String("create"), SyncOpKind::FolderCreate},
        {QLatin1String("folder"), QLatin1String("update"), SyncOpKind::FolderUpdate},
        {QLatin1String("folder"), QLatin1String("delete"), SyncOpKind::FolderDelete},
        {QLatin1String("page"), QLatin1String("parent"), SyncOpKind::PageParent},
    };
    for (const Pair &p : kPairs) {
        if (entity.size() == p.entity.size() && op.size() == p.op.size() && entity == p.entity && op == p.op)
            return p.kind;
    }
    return SyncOpKind::Other;
}

qint64 FNSyncOp::fieldsCarried(const QString &blockLocalID) const
{
    return carriedFields ? carriedFields->value(blockLocalID, BlockFields::All) : qint64(BlockFields::All);
}
