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
            // Only these keys change: the payload may also name a parent by local id.
            try {
                JSONObject body = parseJSONObject(op.payloadJSON.toUtf8());
                if (name)
                    body[QStringLiteral("name")] = *name;
                if (icon)
                    body[QStringLiteral("icon")] = *icon;
                if (const auto payload = outboxPayload::encodeObject(body)) {
                    op.payloadJSON = *payload;
                    rewritten = true;
                }
            } catch (const DecodeError &) {
                rewritten = true; // rebuilt from the folder when it is sent, the change included
            }
        }
    });
    if (rewritten)
        save();
    return rewritten && !sentUnanswered;
}
