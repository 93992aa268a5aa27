#pragma once

#include "json/json_writer.h"
#include "store/local_id.h"

#include <QDateTime>
#include <QString>

#include <rapidjson/document.h>

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

    const QString &id() const { return localID; }

    static FNFolder fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const FNFolder &, const FNFolder &) = default;
};

size_t qHash(const FNFolder &v, size_t seed = 0) noexcept;

struct FolderCreateReq;
// The body that creates the folder on the service: workspace, parent, name and icon.
FolderCreateReq folderCreateReq(const FNFolder &folder);
