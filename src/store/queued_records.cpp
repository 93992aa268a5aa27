#include "store/queued_records.h"

#include "store/local_store.h"

QueuedRecords::QueuedRecords(const LocalStore &store)
{
    for (const FNSyncOp &op : store.state().outbox) {
        if (op.entity == QLatin1String("folder")) {
            m_folders.insert(op.refLocalID);
            m_folderCreates = m_folderCreates || op.kind() == SyncOpKind::FolderCreate;
        } else if (op.entity == QLatin1String("page") && op.op != QLatin1String("delete")) {
            m_pages.insert(op.refLocalID);
        }
    }
}
