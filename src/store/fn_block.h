#pragma once

#include "json/json_fields.h"
#include "store/block_places.h"
#include "store/local_id.h"

#include <QDateTime>
#include <QString>

#include <optional>

// One block of a page. `type` and `contentJSON` are kept as opaque text.
struct FNBlock {
    QString localID = newLocalID();
    qint64 serverID = 0;
    qint64 pageServerID = 0; // 0 while the page is not on the service
    QString pageLocalID;
    qint64 parentBlockServerID = 0;
    QString parentBlockLocalID; // empty = not nested
    QString type;
    QString contentJSON;
    qint64 position = 0;
    qint64 indentLevel = 0;
    QDateTime createdAt = QDateTime::currentDateTimeUtc();
    QDateTime updatedAt = QDateTime::currentDateTimeUtc();
    std::optional<QDateTime> deletedAt;

    const QString &id() const { return localID; }

    static constexpr std::tuple kFields{
        json::Field{"localID", &FNBlock::localID},
        json::Field{"serverID", &FNBlock::serverID},
        json::Field{"pageServerID", &FNBlock::pageServerID},
        json::Field{"pageLocalID", &FNBlock::pageLocalID},
        json::Field{"parentBlockServerID", &FNBlock::parentBlockServerID},
        json::Field{"parentBlockLocalID", &FNBlock::parentBlockLocalID},
        json::Field{"type", &FNBlock::type},
        json::Field{"contentJSON", &FNBlock::contentJSON},
        json::Field{"position", &FNBlock::position},
        json::Field{"indentLevel", &FNBlock::indentLevel},
        json::Field{"createdAt", &FNBlock::createdAt},
        json::Field{"updatedAt", &FNBlock::updatedAt},
        json::Field{"deletedAt", &FNBlock::deletedAt},
    };
};

// The one order of a page's blocks on every device and on the service: by position, ties by the
// service's id. A block not on the service yet comes after those that are (the id it gets will be
// newer), ties among such blocks by local id. `Block`: an FNBlock, or whatever holds those three
// fields of one.
template <typename Block>
bool listedBefore(const Block &a, const Block &b)
{
    if (a.position != b.position)
        return a.position < b.position;
    if ((a.serverID == 0) != (b.serverID == 0))
        return b.serverID == 0;
    if (a.serverID != b.serverID)
        return a.serverID < b.serverID;
    return a.localID < b.localID;
}

// Siblings: under one parent, named alike.
inline bool sameParent(const FNBlock &a, const FNBlock &b)
{
    return a.parentBlockLocalID == b.parentBlockLocalID && a.parentBlockServerID == b.parentBlockServerID;
}
