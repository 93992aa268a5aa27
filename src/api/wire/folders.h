#pragma once

#include "api/wire/common.h"

#include <QString>

#include <optional>
#include <vector>

// Wire types of the library's folders and moving pages between them.

// One folder as the service stores it; absent parent means top level.
struct FolderDTO {
    qint64 id = 0;
    qint64 workspace_id = 0;
    std::optional<qint64> parent_folder_id;
    QString name;
    std::optional<QString> icon;
    qint64 position = 0;
    std::optional<QString> created_at;
    std::optional<QString> updated_at;

    static constexpr std::tuple kFields{
        json::Field{"id", &FolderDTO::id},
        json::Field{"workspace_id", &FolderDTO::workspace_id},
        json::Field{"parent_folder_id", &FolderDTO::parent_folder_id},
        json::Field{"name", &FolderDTO::name},
        json::Field{"icon", &FolderDTO::icon},
        json::Field{"position", &FolderDTO::position},
        json::Field{"created_at", &FolderDTO::created_at},
        json::Field{"updated_at", &FolderDTO::updated_at},
    };
};

// Body of a folder create.
struct FolderCreateReq {
    qint64 workspace_id = 0;
    std::optional<qint64> parent_folder_id;
    QString name;
    QString icon;

    static constexpr std::tuple kFields{
        json::Field{"workspace_id", &FolderCreateReq::workspace_id},
        json::Field{"parent_folder_id", &FolderCreateReq::parent_folder_id},
        json::Field{"name", &FolderCreateReq::name},
        json::Field{"icon", &FolderCreateReq::icon},
    };
};

// Body of a folder update; only the fields that change are present.
struct FolderPatchReq {
    qint64 folder_id = 0;
    std::optional<QString> name;
    std::optional<QString> icon;
    std::optional<qint64> position;
    std::optional<qint64> parent_folder_id;

    static constexpr std::tuple kFields{
        json::Field{"folder_id", &FolderPatchReq::folder_id},
        json::Field{"name", &FolderPatchReq::name},
        json::Field{"icon", &FolderPatchReq::icon},
        json::Field{"position", &FolderPatchReq::position},
        json::Field{"parent_folder_id", &FolderPatchReq::parent_folder_id},
    };
};

// Body moving a page into a folder, or to the top level when `folder_id` is absent.
struct FolderMovePageReq {
    qint64 page_id = 0;
    std::optional<qint64> folder_id;

    static constexpr std::tuple kFields{
        json::Field{"page_id", &FolderMovePageReq::page_id},
        json::Field{"folder_id", &FolderMovePageReq::folder_id},
    };
};

// Reply of a folder create.
struct FolderResp {
    FolderDTO folder;

    static constexpr std::tuple kFields{
        json::Field{"folder", &FolderResp::folder},
    };
};

// Reply listing the folders of a workspace.
struct FoldersResp {
    std::vector<FolderDTO> folders;

    static constexpr std::tuple kFields{
        json::Field{"folders", &FoldersResp::folders},
    };
};
