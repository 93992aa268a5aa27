#pragma once

#include "json/json_fields.h"
#include "store/local_id.h"

#include <QDateTime>
#include <QString>

#include <optional>

// A folder of the sidebar tree; soft-deleted while `deletedAt` holds a time.
struct FNFolder {
    QString localID = newLocalID();
    qint64 serverID = 0;
    qint64 workspaceServerID = 0;
    qint64 parentFolderServerID = 0; // 0 = top level
    QString name;
    QString icon;
    qint64 position = 0;
    QDateTime createdAt = QDateTime::currentDateTimeUtc();
    QDateTime updatedAt = QDateTime::currentDateTimeUtc();
    std::optional<QDateTime> deletedAt;
    // The parent folder by local id while it has no server id yet (`parentFolderServerID` is 0
    // meanwhile); it becomes the server-id link once the parent has one. Written only when set.
    std::optional<QString> parentFolderLocalID;

    const QString &id() const { return localID; }

    static constexpr std::tuple kFields{
        json::Field{"localID", &FNFolder::localID},
        json::Field{"serverID", &FNFolder::serverID},
        json::Field{"workspaceServerID", &FNFolder::workspaceServerID},
        json::Field{"parentFolderServerID", &FNFolder::parentFolderServerID},
        json::Field{"name", &FNFolder::name},
        json::Field{"icon", &FNFolder::icon},
        json::Field{"position", &FNFolder::position},
        json::Field{"createdAt", &FNFolder::createdAt},
        json::Field{"updatedAt", &FNFolder::updatedAt},
        json::Field{"deletedAt", &FNFolder::deletedAt},
        json::Field{"parentFolderLocalID", &FNFolder::parentFolderLocalID},
    };
};

struct FolderCreateReq;
// The body that creates the folder on the service: workspace, parent, name and icon.
FolderCreateReq folderCreateReq(const FNFolder &folder);
