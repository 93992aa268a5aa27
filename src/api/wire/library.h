#pragma once

#include "api/wire/common.h"
#include "api/wire/pages.h"

#include <QMap>
#include <QString>

#include <optional>
#include <vector>

// Wire types of what the library lists: workspaces, pages, the trash, badges and search hits.

// One workspace of the signed-in user.
struct WorkspaceDTO {
    qint64 id = 0;
    QString name;
    std::optional<qint64> owner_user_id;
    std::optional<QString> role;
    std::optional<QString> created_at;

    static constexpr std::tuple kFields{
        json::Field{"id", &WorkspaceDTO::id},
        json::Field{"name", &WorkspaceDTO::name},
        json::Field{"owner_user_id", &WorkspaceDTO::owner_user_id},
        json::Field{"role", &WorkspaceDTO::role},
        json::Field{"created_at", &WorkspaceDTO::created_at},
    };
};

// Reply listing the user's workspaces.
struct WorkspacesResp {
    std::vector<WorkspaceDTO> workspaces;

    static constexpr std::tuple kFields{
        json::Field{"workspaces", &WorkspacesResp::workspaces},
    };
};

// The library's page-list reply for one workspace.
struct LibraryPagesResp {
    std::vector<PageDTO> pages;

    static constexpr std::tuple kFields{
        json::Field{"pages", &LibraryPagesResp::pages},
    };
};

// Reply listing pages (the trash).
struct PagesResp {
    std::vector<PageDTO> pages;

    static constexpr std::tuple kFields{
        json::Field{"pages", &PagesResp::pages},
    };
};

// Publish and share badge data of one page, as the library reads it.
struct LibraryServerStatus {
    bool published = false;
    qint64 shared_count = 0;

    static constexpr std::tuple kFields{
        json::Field{"published", &LibraryServerStatus::published},
        json::Field{"shared_count", &LibraryServerStatus::shared_count},
    };
};

// The library's badge reply: statuses keyed by a page's server id as decimal text.
struct PageStatusesResp {
    QMap<QString, LibraryServerStatus> statuses;

    static constexpr std::tuple kFields{
        json::Field{"statuses", &PageStatusesResp::statuses},
    };
};

// One page found by the service's search.
struct SearchHit {
    qint64 id = 0;
    QString title;
    std::optional<QString> icon;
    std::optional<QString> snippet;

    static constexpr std::tuple kFields{
        json::Field{"id", &SearchHit::id},
        json::Field{"title", &SearchHit::title},
        json::Field{"icon", &SearchHit::icon},
        json::Field{"snippet", &SearchHit::snippet},
    };
};

// Reply of a search.
struct SearchResp {
    std::vector<SearchHit> pages;

    static constexpr std::tuple kFields{
        json::Field{"pages", &SearchResp::pages},
    };
};
