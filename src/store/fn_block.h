#pragma once

#include "json/json_writer.h"
#include "store/local_id.h"

#include <QDateTime>
#include <QString>

#include <rapidjson/document.h>

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

    static FNBlock fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const FNBlock &, const FNBlock &) = default;
};

size_t qHash(const FNBlock &v, size_t seed = 0) noexcept;
