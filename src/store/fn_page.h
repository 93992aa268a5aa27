#pragma once

#include "json/json_writer.h"
#include "store/local_id.h"

#include <QDateTime>
#include <QString>

#include <rapidjson/document.h>

#include <optional>

// A page; soft-deleted (in the trash) while `deletedAt` holds a time.
struct FNPage {
    QString localID = newLocalID();
    qint64 serverID = 0;
    qint64 workspaceServerID = 0;
    qint64 parentPageServerID = 0; // 0 = not a subpage
    qint64 folderServerID = 0;     // 0 = in no folder
    QString title;
    QString icon;
    qint64 position = 0;
    QString coverURL;
    qint64 coverOffsetX = 50; // whole percent; a new page is centred
    qint64 coverOffsetY = 50;
    QDateTime createdAt = QDateTime::currentDateTimeUtc();
    QDateTime updatedAt = QDateTime::currentDateTimeUtc();
    std::optional<QDateTime> deletedAt;

    const QString &id() const { return localID; }

    static FNPage fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;

    friend bool operator==(const FNPage &, const FNPage &) = default;
};

size_t qHash(const FNPage &v, size_t seed = 0) noexcept;

struct PageCreateReq;
// The body that creates the page on the service: workspace, parent, title, icon and position.
PageCreateReq pageCreateReq(const FNPage &page);
