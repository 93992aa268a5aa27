#pragma once

#include "json/json_writer.h"
#include "store/local_id.h"

#include <QDateTime>
#include <QString>

#include <rapidjson/document.h>

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
    static FNWorkspace fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const FNWorkspace &, const FNWorkspace &) = default;
};

size_t qHash(const FNWorkspace &v, size_t seed = 0) noexcept;
