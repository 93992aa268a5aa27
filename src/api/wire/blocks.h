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
        wire::Field{"id", &BlockDTO::id},
        wire::Field{"page_id", &BlockDTO::page_id},
        wire::Field{"parent_block_id", &BlockDTO::parent_block_id},
        wire::Field{"type", &BlockDTO::type},
        wire::Field{"content", &BlockDTO::content},
        wire::Field{"position", &BlockDTO::position},
        wire::Field{"client_id", &BlockDTO::client_id},
    };
};

// Reply listing the blocks of one page.
struct BlocksResp {
    std::vector<BlockDTO> blocks;

    static constexpr std::tuple kFields{
        wire::Field{"blocks", &BlocksResp::blocks},
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
        wire::Field{"client_id", &BlockUpsertItem::client_id},
        wire::Field{"id", &BlockUpsertItem::id},
        wire::Field{"type", &BlockUpsertItem::type},
        wire::Field{"content", &BlockUpsertItem::content},
        wire::Field{"position", &BlockUpsertItem::position},
        wire::Field{"parent_block_id", &BlockUpsertItem::parent_block_id},
    };
};

// Batch upsert of one page's blocks; also the payload of its outbox operation.
struct BlocksUpsertReq {
    qint64 page_id = 0;
    std::vector<BlockUpsertItem> blocks;

    static constexpr std::tuple kFields{
        wire::Field{"page_id", &BlocksUpsertReq::page_id},
        wire::Field{"blocks", &BlocksUpsertReq::blocks},
    };
};

// The service's acknowledgement of one stored block.
struct BlockUpsertAck {
    QString client_id;
    qint64 id = 0;
    qint64 position = 0;

    static constexpr std::tuple kFields{
        wire::Field{"client_id", &BlockUpsertAck::client_id},
        wire::Field{"id", &BlockUpsertAck::id},
        wire::Field{"position", &BlockUpsertAck::position},
    };
};

// Reply of the batch upsert.
struct BlocksUpsertResp {
    std::vector<BlockUpsertAck> blocks;

    static constexpr std::tuple kFields{
        wire::Field{"blocks", &BlocksUpsertResp::blocks},
    };
};

// Reply of the bookmark preview fetch, as the block row reads it.
struct BookmarkPreviewResp {
    std::optional<QString> url;
    std::optional<QString> title;
    std::optional<QString> description;
    std::optional<QString> image;

    static constexpr std::tuple kFields{
        wire::Field{"url", &BookmarkPreviewResp::url},
        wire::Field{"title", &BookmarkPreviewResp::title},
        wire::Field{"description", &BookmarkPreviewResp::description},
        wire::Field{"image", &BookmarkPreviewResp::image},
    };
};

// Reply of a file upload; only `url` is used.
struct UploadResp {
    QString url;
    std::optional<QString> path;
    std::optional<qint64> size;
    std::optional<QString> mime;

    static constexpr std::tuple kFields{
        wire::Field{"url", &UploadResp::url},
        wire::Field{"path", &UploadResp::path},
        wire::Field{"size", &UploadResp::size},
        wire::Field{"mime", &UploadResp::mime},
    };
};
