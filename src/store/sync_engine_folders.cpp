#include "store/sync_engine.h"

QCoro::Task<> SyncEngine::sendFolderOp(FNSyncOp op, QString token)
{
    Q_UNUSED(op);
    Q_UNUSED(token);
    // Nothing sends folder operations yet: they count as sent.
    co_return;
}
