#pragma once

#include "json/json_fields.h"
#include "store/local_id.h"

#include <QDateTime>
#include <QMap>
#include <QString>

#include <optional>
#include <vector>

// What an operation does, read once from its entity and op; Other for a pair no build queues.
enum class SyncOpKind {
    PageCreate,
    PageUpdate,
    PageDelete,
    PageMove,
    BlockUpsert,
    BlockDelete,
    FolderCreate,
    FolderUpdate,
    FolderDelete,
    PageParent,
    Other,
};

// One send of a create that went out without an answer, on the service's clock: from just before it
// went out to when the device gave up on it.
struct SendWindow {
    QDateTime from;
    QDateTime until;

    static constexpr std::tuple kFields{
        json::Field{"from", &SendWindow::from},
        json::Field{"until", &SendWindow::until},
    };
};

// One queued change in the outbox: what to send (`payloadJSON`) and how its sends went so far.
struct FNSyncOp {
    QString localID = newLocalID();
    QString entity;     // "page" or "block"
    QString op;         // "create", "update", "delete" (page); "upsert", "delete" (block)
    QString refLocalID; // the page's localID, or the block's for a block "delete"
    QString payloadJSON;
    QDateTime createdAt = QDateTime::currentDateTimeUtc();
    qint64 attempts = 0;
    std::optional<QString> lastError;
    std::optional<QDateTime> nextRetryAt; // absent = due at the next push
    // A send went out and no answer came back (time-out, connection dropped): the service may have
    // applied it. Written only when true.
    bool unanswered = false;
    // For a create: when its unanswered sends were out, by which the record it may have made is told
    // from another device's look-alike.
    std::optional<std::vector<SendWindow>> unansweredSends;
    // For a create: the id the service gave its record in an answer heard before a kill, whose save
    // never came. That record is this device's own; no look-alike is.
    std::optional<qint64> madeID;
    // The service refused the last send (a client error): it will likely never land, so it holds
    // back no newer operation of its record. Written only when true.
    bool refused = false;
    // For a block upsert: per block (by its local id) the fields (BlockFields) this device changed,
    // the only ones sent from its copy. Absent, as older builds queued them: every field.
    std::optional<QMap<QString, qint64>> carriedFields;

    const QString &id() const { return localID; }
    SyncOpKind kind() const;
    // For a block upsert: the fields (BlockFields) of the block it carries from this device's copy.
    qint64 fieldsCarried(const QString &blockLocalID) const;

    static constexpr std::tuple kFields{
        json::Field{"localID", &FNSyncOp::localID},
        json::Field{"entity", &FNSyncOp::entity},
        json::Field{"op", &FNSyncOp::op},
        json::Field{"refLocalID", &FNSyncOp::refLocalID},
        json::Field{"payloadJSON", &FNSyncOp::payloadJSON},
        json::Field{"createdAt", &FNSyncOp::createdAt},
        json::Field{"attempts", &FNSyncOp::attempts},
        json::Field{"lastError", &FNSyncOp::lastError},
        json::Field{"nextRetryAt", &FNSyncOp::nextRetryAt},
        json::Flag{"unanswered", &FNSyncOp::unanswered},
        json::Field{"unansweredSends", &FNSyncOp::unansweredSends},
        json::Field{"madeID", &FNSyncOp::madeID},
        json::Flag{"refused", &FNSyncOp::refused},
        json::Field{"carriedFields", &FNSyncOp::carriedFields},
    };
};
