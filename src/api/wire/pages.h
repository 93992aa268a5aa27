#pragma once

#include "api/wire/common.h"

#include <QString>

#include <optional>

// Wire types of pages: create, update and the page the service returns.

// One page as the service stores it.
struct PageDTO {
    qint64 id = 0;
    qint64 workspace_id = 0;
    std::optional<qint64> parent_page_id;
    std::optional<qint64> folder_id;
    QString title;
    std::optional<QString> icon;
    qint64 position = 0;
    std::optional<QString> cover_url;
    std::optional<qint64> cover_offset_x;
    std::optional<qint64> cover_offset_y;
    std::optional<qint64> created_by_user_id;
    std::optional<QString> created_at;
    std::optional<QString> updated_at;

    static constexpr std::tuple kFields{
        json::Field{"id", &PageDTO::id},
        json::Field{"workspace_id", &PageDTO::workspace_id},
        json::Field{"parent_page_id", &PageDTO::parent_page_id},
        json::Field{"folder_id", &PageDTO::folder_id},
        json::Field{"title", &PageDTO::title},
        json::Field{"icon", &PageDTO::icon},
        json::Field{"position", &PageDTO::position},
        json::Field{"cover_url", &PageDTO::cover_url},
        json::Field{"cover_offset_x", &PageDTO::cover_offset_x},
        json::Field{"cover_offset_y", &PageDTO::cover_offset_y},
        json::Field{"created_by_user_id", &PageDTO::created_by_user_id},
        json::Field{"created_at", &PageDTO::created_at},
        json::Field{"updated_at", &PageDTO::updated_at},
    };
};

// Body of a page create; also the payload of the outbox operation that sends it.
struct PageCreateReq {
    qint64 workspace_id = 0;
    std::optional<qint64> parent_page_id;
    QString title;
    QString icon;
    qint64 position = 0;

    static constexpr std::tuple kFields{
        json::Field{"workspace_id", &PageCreateReq::workspace_id},
        json::Field{"parent_page_id", &PageCreateReq::parent_page_id},
        json::Field{"title", &PageCreateReq::title},
        json::Field{"icon", &PageCreateReq::icon},
        json::Field{"position", &PageCreateReq::position},
    };
};

// Body of a page update with only the changed fields; also its outbox payload. An empty `cover_url` removes
// the cover.
struct PagePatchReq {
    qint64 page_id = 0;
    std::optional<QString> title;
    std::optional<QString> icon;
    std::optional<qint64> position;
    std::optional<qint64> parent_page_id;
    std::optional<QString> cover_url;
    std::optional<qint64> cover_offset_x;
    std::optional<qint64> cover_offset_y;

    static constexpr std::tuple kFields{
        json::Field{"page_id", &PagePatchReq::page_id},
        json::Field{"title", &PagePatchReq::title},
        json::Field{"icon", &PagePatchReq::icon},
        json::Field{"position", &PagePatchReq::position},
        json::Field{"parent_page_id", &PagePatchReq::parent_page_id},
        json::Field{"cover_url", &PagePatchReq::cover_url},
        json::Field{"cover_offset_x", &PagePatchReq::cover_offset_x},
        json::Field{"cover_offset_y", &PagePatchReq::cover_offset_y},
    };
};

// Reply of a page create and of a page update.
struct PageResp {
    PageDTO page;

    static constexpr std::tuple kFields{
        json::Field{"page", &PageResp::page},
    };
};
