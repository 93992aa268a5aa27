#pragma once

#include "json/json_fields.h"
#include "store/local_id.h"

#include <QDateTime>
#include <QString>

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
    // The parent page or folder by local id while it has no server id yet (the server-id link is 0
    // meanwhile); it becomes the server-id link once the parent has one. Written only when set.
    std::optional<QString> parentPageLocalID;
    std::optional<QString> folderLocalID;

    const QString &id() const { return localID; }

    static constexpr std::tuple kFields{
        json::Field{"localID", &FNPage::localID},
        json::Field{"serverID", &FNPage::serverID},
        json::Field{"workspaceServerID", &FNPage::workspaceServerID},
        json::Field{"parentPageServerID", &FNPage::parentPageServerID},
        json::Field{"folderServerID", &FNPage::folderServerID},
        json::Field{"title", &FNPage::title},
        json::Field{"icon", &FNPage::icon},
        json::Field{"position", &FNPage::position},
        json::Field{"coverURL", &FNPage::coverURL},
        json::Field{"coverOffsetX", &FNPage::coverOffsetX},
        json::Field{"coverOffsetY", &FNPage::coverOffsetY},
        json::Field{"createdAt", &FNPage::createdAt},
        json::Field{"updatedAt", &FNPage::updatedAt},
        json::Field{"deletedAt", &FNPage::deletedAt},
        json::Field{"parentPageLocalID", &FNPage::parentPageLocalID},
        json::Field{"folderLocalID", &FNPage::folderLocalID},
    };
};

struct PageCreateReq;
// The body that creates the page on the service: workspace, parent, title, icon and position.
PageCreateReq pageCreateReq(const FNPage &page);
