#pragma once

#include "api/wire/folders.h"
#include "api/wire/pages.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

class LocalStore;
struct FNSyncOp;
struct SendNote;

// A create whose reply was lost (a time-out, a connection dropped after the request went out) may
// still have made its record on the service. The wire carries no key for creates, so a listed record
// is taken as that create's only when nothing else could be: it looks the same, it was made while
// one of the create's sends was out, no other unknown look-alike was made then, and no local record
// holds it. Anything less sure is sent again: a duplicate loses nothing, a merge of two devices'
// records does.

// The names every device gives a new record. Two devices of one account make such records alike
// at any moment, so a lost create under one of these names is never adopted: it is sent again.
inline constexpr const char *kNewPageTitle = "Untitled";
inline constexpr const char *kNewFolderName = "New folder";

struct ListedPage {
    qint64 id = 0;
    qint64 workspaceID = 0;
    qint64 parentPageID = 0;
    QString title;
    qint64 position = 0;
    QDateTime createdAt; // the service's clock; invalid when not given
};

struct ListedFolder {
    qint64 id = 0;
    qint64 workspaceID = 0;
    qint64 parentFolderID = 0;
    QString name;
    QDateTime createdAt;
};

// The service's "created_at" ("YYYY-MM-DD HH:MM:SS" in UTC, or ISO 8601); invalid when unreadable.
QDateTime serviceStamp(const std::optional<QString> &text);

// How far the service's clock and the device's may drift apart between the replies that told the
// offset, and the rounding of both to whole seconds.
inline constexpr qint64 kSendWindowSkewMs = 2000;

// Notes a send of `op` that went out at `from` and was given up at `until` (the device's clock)
// without an answer; `serviceOffsetMs` turns those into the service's clock.
void noteUnansweredSend(FNSyncOp &op, const QDateTime &from, const QDateTime &until, qint64 serviceOffsetMs);

// For each listed record that a waiting local record adopts, that local record's id, keyed by the
// listed record's id.
QHash<qint64, QString> pageAdoptions(const LocalStore &store, const std::vector<ListedPage> &listed);
QHash<qint64, QString> folderAdoptions(const LocalStore &store, const std::vector<ListedFolder> &listed);

// Gives the page its server id, its blocks that server id as their page's, and the records and page links
// naming it by local id that id.
void adoptPageServerID(LocalStore &store, const QString &pageLocalID, qint64 serverID);
void adoptFolderServerID(LocalStore &store, const QString &folderLocalID, qint64 serverID);

// What a create's queued body changes over the body that went out, as an update with no id yet;
// none when the queued body does not read. A sent body that does not read changes every field.
std::optional<PagePatchReq> pageCreateChanges(const QString &sentPayload, const QString &queuedPayload);
// The same for a folder's name and icon; none when either body does not read.
std::optional<FolderPatchReq> folderCreateChanges(const QString &sentPayload, const QString &queuedPayload);

// The notes of creates a launch that ended left (SendJournal): a create rewritten after its body went
// out takes that body back, by which the service's copy is known, and what changed follows as an
// update right behind it; a create whose answer came keeps the id it gave (FNSyncOp::madeID).
void foldCreateNotes(std::vector<FNSyncOp> &outbox, const std::vector<SendNote> &notes);
