#pragma once

#include "api/wire/common.h"

#include <QString>

#include <optional>
#include <vector>

// Wire types of a page's blocks, their batch upsert, and what rich blocks fetch (bookmark previews, uploads).

// One block as the service stores it; content compares by value, whatever its key order.
struct BlockDTO {
    qint64 id = 0;
    qint64 page_id = 0;
    std::optional<qint64> parent_block_id;
    QString type;
    JSONObject content;
    qint64 position = 0;
    std::optional<QString> client_id; // the local id its sender gave it, when the service says

    static constexpr std::tuple kFields{
        json::Field{"id", &BlockDTO::id},
        json::Field{"page_id", &BlockDTO::page_id},
        json::Field{"parent_block_id", &BlockDTO::parent_block_id},
        json::Field{"type", &BlockDTO::type},
        json::Field{"content", &BlockDTO::content},
        json::Field{"position", &BlockDTO::position},
        json::Field{"client_id", &BlockDTO::client_id},
    };
};

// Reply listing the blocks of one page.
struct BlocksResp {
    std::vector<BlockDTO> blocks;

    static constexpr std::tuple kFields{
        json::Field{"blocks", &BlocksResp::blocks},
    };
};

// One block to create or update; `id` is absent while the block has no server id.
struct BlockUpsertItem {
    QString client_id;
    std::optional<qint64> id;
    QString type;
    JSONObject content;
    qint64 position = 0;
    std::optional<qint64> parent_block_id;

    static constexpr std::tuple kFields{
        json::Field{"client_id", &BlockUpsertItem::client_id},
        json::Field{"id", &BlockUpsertItem::id},
        json::Field{"type", &BlockUpsertItem::type},
        json::Field{"content", &BlockUpsertItem::content},
        json::Field{"position", &BlockUpsertItem::position},
        json::Field{"parent_block_id", &BlockUpsertItem::parent_block_id},
    };
};

// Batch upsert of one page's blocks; also the payload of its outbox operation.
struct BlocksUpsertReq {
    qint64 page_id = 0;
    std::vector<BlockUpsertItem> blocks;

    static constexpr std::tuple kFields{
        json::Field{"page_id", &BlocksUpsertReq::page_id},
        json::Field{"blocks", &BlocksUpsertReq::blocks},
    };
};

// The service's acknowledgement of one stored block.
struct BlockUpsertAck {
    QString client_id;
    qint64 id = 0;
    qint64 position = 0;

    static constexpr std::tuple kFields{
        json::Field{"client_id", &BlockUpsertAck::client_id},
        json::Field{"id", &BlockUpsertAck::id},
        json::Field{"position", &BlockUpsertAck::position},
    };
};

// Reply of the batch upsert.
struct BlocksUpsertResp {
    std::vector<BlockUpsertAck> blocks;

    static constexpr std::tuple kFields{
        json::Field{"blocks", &BlocksUpsertResp::blocks},
    };
};

// Reply of the bookmark preview fetch, as the block row reads it.
struct BookmarkPreviewResp {
    std::optional<QString> url;
    std::optional<QString> title;
    std::optional<QString> description;
    std::optional<QString> image;

    static constexpr std::tuple kFields{
        json::Field{"url", &BookmarkPreviewResp::url},
        json::Field{"title", &BookmarkPreviewResp::title},
        json::Field{"description", &BookmarkPreviewResp::description},
        json::Field{"image", &BookmarkPreviewResp::image},
    };
};

// Reply of a file upload; only `url` is used.
struct UploadResp {
    QString url;
    std::optional<QString> path;
    std::optional<qint64> size;
    std::optional<QString> mime;

    static constexpr std::tuple kFields{
        json::Field{"url", &UploadResp::url},
        json::Field{"path", &UploadResp::path},
        json::Field{"size", &UploadResp::size},
        json::Field{"mime", &UploadResp::mime},
    };
};
