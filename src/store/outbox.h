#pragma once

#include "api/wire/blocks.h"
#include "api/wire/folders.h"
#include "api/wire/pages.h"
#include "store/fn_folder.h"
#include "store/fn_page.h"
#include "store/fn_sync_op.h"

#include <QDateTime>
#include <QObject>

#include <optional>

class LocalStore;

// The one way operations get into a store's outbox. Each call encodes the request, appends the
// operation, schedules a save and returns what it queued (nothing when the request could not be
// encoded and an empty body would be wrong).
class Outbox : public QObject
{
    Q_OBJECT
public:
    // What a page update stores when its request cannot be encoded.
    enum class Unencodable { QueueEmptyObject, QueueNothing };

    // The store's outbox, made on first use and owned by the store.
    static Outbox &of(LocalStore &store);

    // An unencodable create still goes out as "{}": the push fills the page in from its record.
    std::optional<FNSyncOp> pageCreate(const QString &pageLocalID, const PageCreateReq &req);
    std::optional<FNSyncOp> pageUpdate(const QString &pageLocalID, const PagePatchReq &req, Unencodable ifUnencodable,
                                       const QDateTime &createdAt = QDateTime::currentDateTimeUtc());
    std::optional<FNSyncOp> pageDelete(const QString &pageLocalID, qint64 pageServerID);
    std::optional<FNSyncOp> pageMove(const QString &pageLocalID, const FolderMovePageReq &req);
    std::optional<FNSyncOp> blocksUpsert(const QString &pageLocalID, const BlocksUpsertReq &req,
                                         const QDateTime &createdAt = QDateTime::currentDateTimeUtc());
    std::optional<FNSyncOp> blockDelete(const QString &blockLocalID, qint64 blockServerID);
    std::optional<FNSyncOp> folderCreate(const QString &folderLocalID, const FolderCreateReq &req);
    std::optional<FNSyncOp> folderUpdate(const QString &folderLocalID, const FolderPatchReq &req);

    // The same, built from the records as they are now. The ids the service knows them by are
    // read again when the operation is sent.
    std::optional<FNSyncOp> folderCreate(const FNFolder &folder);
    std::optional<FNSyncOp> folderUpdate(const FNFolder &folder, FolderPatchReq patch);
    // Into `folderServerID`; 0 is the top level.
    std::optional<FNSyncOp> pageMove(const FNPage &page, qint64 folderServerID);

Q_SIGNALS:
    void queued(const FNSyncOp &op);

private:
    explicit Outbox(LocalStore &store);

    FNSyncOp append(const QString &entity, const QString &op, const QString &refLocalID, const QString &payload,
                    const QDateTime &createdAt = QDateTime::currentDateTimeUtc());

    LocalStore &m_store;
};
