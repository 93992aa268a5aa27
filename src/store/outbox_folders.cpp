#include "store/outbox.h"

#include "json/json_error.h"
#include "json/json_value.h"
#include "store/local_store.h"
#include "store/outbox_payload.h"

// Changes written into a folder's queued create rather than queued after it.

bool Outbox::renameFolderCreate(const QString &folderLocalID, const std::optional<QString> &name,
                                const std::optional<QString> &icon)
{
    bool rewritten = false;
    bool sentUnanswered = false;
    m_store.changeOutsideRecords([&](StoreState &s) {
        for (FNSyncOp &op : s.outbox) {
            if (op.refLocalID != folderLocalID || op.kind() != SyncOpKind::FolderCreate)
                continue;
            if (op.unanswered) {
                sentUnanswered = true;
                continue;
            }
            std::vector<std::pair<QString, QString>> keys;
            if (name)
                keys.emplace_back(QStringLiteral("name"), *name);
            if (icon)
                keys.emplace_back(QStringLiteral("icon"), *icon);
            // Unreadable, it is rebuilt from the folder when sent, the change included.
            rewritten = outboxPayload::setKeys(op.payloadJSON, keys) || rewritten;
        }
    });
    if (rewritten)
        save();
    return rewritten && !sentUnanswered;
}
