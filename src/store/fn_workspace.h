#pragma once

#include "json/json_fields.h"
#include "store/local_id.h"

#include <QDateTime>
#include <QString>

// A workspace the signed-in user belongs to, as the service last listed it.
struct FNWorkspace {
    QString localID = newLocalID();
    qint64 serverID = 0;
    QString name;
    QString role;
    qint64 ownerUserID = 0; // 0 when the service names no owner
    QDateTime createdAt = QDateTime::currentDateTimeUtc();

    const QString &id() const { return localID; }

    // Every key is required; a missing one fails rather than taking a construction default.
    static constexpr std::tuple kFields{
        json::Field{"localID", &FNWorkspace::localID},
        json::Field{"serverID", &FNWorkspace::serverID},
        json::Field{"name", &FNWorkspace::name},
        json::Field{"role", &FNWorkspace::role},
        json::Field{"ownerUserID", &FNWorkspace::ownerUserID},
        json::Field{"createdAt", &FNWorkspace::createdAt},
    };
};
