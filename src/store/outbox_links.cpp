#include "store/outbox.h"

#include "json/json_coder.h"
#include "json/json_error.h"
#include "json/json_value.h"
#include "store/local_store.h"
#include "store/outbox_payload.h"
#include "store/record_links.h"
#include "store/sync_payload.h"

#include <algorithm>

// The queuing of moves and creates that may name a parent not yet on the service, and of folder
// deletes.

namespace {

const QString kPageEntity = QStringLiteral("page");
const QString kFolderEntity = QStringLiteral("folder");

using outboxPayload::encode;

std::optional<QString> linked(std::optional<QString> payload, const std::optional<QString> &localID,
                              const char *key)
{
    if (payload && localID && !localID->isEmpty())
        return recordLinks::withLink(*payload, key, *localID);
    return payload;
}

// Points a queued payload from a record that will not come to `to`: the link and the id both go,
// then the one `to` has comes back; every other field stays as it was queued. An op it rewrites
// waited on a parent that will not come, so it has nothing of its own to back off from.
bool relinked(FNSyncOp &op, const QString &linkKey, const QString &idKey, const Outbox::PageFiling::Link &to,
              bool idAlways)
{
    JSONObject body;
    try {
        body = parseJSONObject(op.payloadJSON.toUtf8());
    } catch (const DecodeError &) {
        return false;
    }
    body.erase(linkKey);
    body.erase(idKey);
    if (to.serverID != 0)
        body[idKey] = to.serverID;
    else if (to.localID && !to.localID->isEmpty())
        body[linkKey] = *to.localID;
    if (idAlways && !body.count(idKey))
        body[idKey] = qint64(0);
    const auto payload = outboxPayload::encodeObject(body);
    if (!payload)
        return false;
    op.payloadJSON = *payload;
    op.attempts = 0;
    op.nextRetryAt.reset();
    op.lastError.reset();
    return true;
}

} // namespace

std::optional<FNSyncOp> Outbox::pageCreate(const FNPage &page)
{
    // An unencodable create still goes out as "{}": the push fills the page in from its record.
    const QString payload = linked(encode(pageCreateReq(page)), page.parentPageLocalID,
                                   recordLinks::kParentPageKey)
                                .value_or(QStringLiteral("{}"));
    return append(kPageEntity, QStringLiteral("create"), page.localID, payload);
}

std::optional<FNSyncOp> Outbox::pageMove(const FNPage &page)
{
    FolderMovePageReq req;
    req.page_id = page.serverID;
    if (page.folderServerID != 0)
        req.folder_id = page.folderServerID;
    const auto payload = linked(encode(req), page.folderServerID == 0 ? page.folderLocalID : std::nullopt,
                                recordLinks::kFolderKey);
    if (!payload)
        return std::nullopt;
    return append(kPageEntity, QStringLiteral("move"), page.localID, *payload);
}

std::optional<FNSyncOp> Outbox::pageParent(const FNPage &page)
{
    // No "parent_page_id" and no link: the top level.
    JSONObject body{{QStringLiteral("page_id"), page.serverID}};
    if (page.parentPageServerID != 0)
        body[QStringLiteral("parent_page_id")] = page.parentPageServerID;
    else if (page.parentPageLocalID && !page.parentPageLocalID->isEmpty())
        body[QString::fromLatin1(recordLinks::kParentPageKey)] = *page.parentPageLocalID;
    const auto payload = outboxPayload::encodeObject(body);
    if (!payload)
        return std::nullopt;
    return append(kPageEntity, QStringLiteral("parent"), page.localID, *payload);
}

std::optional<FNSyncOp> Outbox::folderMove(const FNFolder &folder)
{
    FolderPatchReq req;
    req.folder_id = folder.serverID;
    // Always present: to the service an absent key means "unchanged", and 0 means the top level.
    req.parent_folder_id = folder.parentFolderServerID;
    const auto payload =
        linked(encode(req), folder.parentFolderServerID == 0 ? folder.parentFolderLocalID : std::nullopt,
               recordLinks::kParentFolderKey);
    if (!payload)
        return std::nullopt;
    return append(kFolderEntity, QStringLiteral("update"), folder.localID, *payload);
}

std::optional<FNSyncOp> Outbox::folderDelete(const QString &folderLocalID, std::chrono::milliseconds sendAfter)
{
    const FNFolder *folder = m_store.folder(folderLocalID);
    const JSONObject body{{QStringLiteral("folder_id"), folder ? folder->serverID : qint64(0)}};
    // "{}" when it cannot be encoded: the folder's id is read when it is sent.
    const QString payload = outboxPayload::encodeObject(body).value_or(QStringLiteral("{}"));
    // Held back, across a relaunch too, until an undo can no longer take it back.
    return append(kFolderEntity, QStringLiteral("delete"), folderLocalID, payload, QDateTime::currentDateTimeUtc(),
                  sendAfter, [&](StoreState &, FNSyncOp &op) { op.nextRetryAt = op.createdAt.addMSecs(sendAfter.count()); });
}

QHash<QString, Outbox::PageFiling> Outbox::queuedPageFilings() const
{
    QHash<QString, PageFiling> filings;
    for (const FNSyncOp &op : m_store.state().outbox) {
        const SyncOpKind kind = op.kind();
        if (kind != SyncOpKind::PageMove && kind != SyncOpKind::PageParent)
            continue;
        JSONObject body;
        try {
            body = parseJSONObject(op.payloadJSON.toUtf8());
        } catch (const DecodeError &) {
            continue;
        }
        const char *idKey = kind == SyncOpKind::PageMove ? "folder_id" : "parent_page_id";
        PageFiling::Link link;
        link.serverID = syncPayload::intOr(body, idKey, 0);
        if (link.serverID == 0) {
            link.localID = recordLinks::link(
                op.payloadJSON, kind == SyncOpKind::PageMove ? recordLinks::kFolderKey : recordLinks::kParentPageKey);
        }
        PageFiling &filing = filings[op.refLocalID];
        (kind == SyncOpKind::PageMove ? filing.folder : filing.parent) = link;
    }
    return filings;
}

void Outbox::relinkParentPage(const QString &fromLocalID, const PageFiling::Link &to)
{
    const QString linkKey = QString::fromLatin1(recordLinks::kParentPageKey);
    const QString idKey = QStringLiteral("parent_page_id");
    bool changed = false;
    m_store.changeOutsideRecords([&](StoreState &s) {
        for (FNSyncOp &op : s.outbox) {
            const SyncOpKind kind = op.kind();
            if ((kind != SyncOpKind::PageCreate && kind != SyncOpKind::PageParent) ||
                recordLinks::link(op.payloadJSON, recordLinks::kParentPageKey) != fromLocalID)
                continue;
            if (relinked(op, linkKey, idKey, to, false))
                changed = true;
        }
    });
    if (changed)
        save();
}

void Outbox::relinkFolder(const QString &fromLocalID, const PageFiling::Link &to)
{
    bool changed = false;
    m_store.changeOutsideRecords([&](StoreState &s) {
        for (FNSyncOp &op : s.outbox) {
            const SyncOpKind kind = op.kind();
            const char *linkKey = kind == SyncOpKind::PageMove ? recordLinks::kFolderKey : recordLinks::kParentFolderKey;
            if ((kind != SyncOpKind::PageMove && kind != SyncOpKind::FolderCreate &&
                 kind != SyncOpKind::FolderUpdate) ||
                recordLinks::link(op.payloadJSON, linkKey) != fromLocalID)
                continue;
            const QString idKey = kind == SyncOpKind::PageMove ? QStringLiteral("folder_id")
                                                               : QStringLiteral("parent_folder_id");
            // A folder's move names its parent always: to the service an absent key means unchanged.
            if (relinked(op, QString::fromLatin1(linkKey), idKey, to, kind == SyncOpKind::FolderUpdate))
                changed = true;
        }
    });
    if (changed)
        save();
}

void Outbox::sendFirstOfRecord(const QString &opLocalID)
{
    std::optional<FNSyncOp> op = find(opLocalID);
    if (!op)
        return;
    std::optional<QDateTime> oldest;
    for (const FNSyncOp &other : m_store.state().outbox) {
        if (other.refLocalID == op->refLocalID && other.localID != opLocalID &&
            (!oldest || other.createdAt < *oldest))
            oldest = other.createdAt;
    }
    if (!oldest || *oldest > op->createdAt)
        return;
    op->createdAt = oldest->addMSecs(-1);
    replace(*op);
}

int Outbox::dropPageOperations(const QString &pageLocalID)
{
    const auto ofPage = [&](const FNSyncOp &op) {
        return op.refLocalID == pageLocalID && op.kind() != SyncOpKind::BlockDelete;
    };
    const auto &outbox = m_store.state().outbox;
    const int count = int(std::count_if(outbox.begin(), outbox.end(), ofPage));
    if (count == 0)
        return 0;
    m_store.changeOutsideRecords([&](StoreState &s) { std::erase_if(s.outbox, ofPage); });
    save();
    return count;
}
