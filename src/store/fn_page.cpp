#include "store/fn_page.h"

#include "api/wire/common.h"
#include "api/wire/pages.h"
#include "json/json_reader.h"

FNPage FNPage::fromJson(const rapidjson::Value &v)
{
    return FNPage{
        .localID = json::field<QString>(v, "localID"),
        .serverID = json::field<qint64>(v, "serverID"),
        .workspaceServerID = json::field<qint64>(v, "workspaceServerID"),
        .parentPageServerID = json::field<qint64>(v, "parentPageServerID"),
        .folderServerID = json::field<qint64>(v, "folderServerID"),
        .title = json::field<QString>(v, "title"),
        .icon = json::field<QString>(v, "icon"),
        .position = json::field<qint64>(v, "position"),
        .coverURL = json::field<QString>(v, "coverURL"),
        .coverOffsetX = json::field<qint64>(v, "coverOffsetX"),
        .coverOffsetY = json::field<qint64>(v, "coverOffsetY"),
        .createdAt = json::field<QDateTime>(v, "createdAt"),
        .updatedAt = json::field<QDateTime>(v, "updatedAt"),
        .deletedAt = json::optField<QDateTime>(v, "deletedAt"),
    };
}

void FNPage::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("localID", localID);
    w.field("serverID", serverID);
    w.field("workspaceServerID", workspaceServerID);
    w.field("parentPageServerID", parentPageServerID);
    w.field("folderServerID", folderServerID);
    w.field("title", title);
    w.field("icon", icon);
    w.field("position", position);
    w.field("coverURL", coverURL);
    w.field("coverOffsetX", coverOffsetX);
    w.field("coverOffsetY", coverOffsetY);
    w.field("createdAt", createdAt);
    w.field("updatedAt", updatedAt);
    w.field("deletedAt", deletedAt);
    w.endObject();
}

size_t qHash(const FNPage &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.localID, v.serverID, v.workspaceServerID, v.parentPageServerID,
                         v.folderServerID, v.title, v.icon, v.position, v.coverURL, v.coverOffsetX,
                         v.coverOffsetY, v.createdAt, v.updatedAt, v.deletedAt);
}

PageCreateReq pageCreateReq(const FNPage &page)
{
    PageCreateReq req;
    req.workspace_id = page.workspaceServerID;
    if (page.parentPageServerID != 0)
        req.parent_page_id = page.parentPageServerID;
    req.title = page.title;
    req.icon = page.icon;
    req.position = page.position;
    return req;
}
