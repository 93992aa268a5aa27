#pragma once

#include "api/wire/common.h"

#include <QString>

#include <optional>
#include <vector>

// Wire types of inline databases, their columns and rows.

// One column of an inline database; `id` keys the column's cells in each row.
struct DBColumnDTO {
    QString id;
    QString name;
    QString type;
    std::optional<std::vector<QString>> options;

    static constexpr std::tuple kFields{
        json::Field{"id", &DBColumnDTO::id},
        json::Field{"name", &DBColumnDTO::name},
        json::Field{"type", &DBColumnDTO::type},
        json::Field{"options", &DBColumnDTO::options},
    };
};

// One row of an inline database, its cells keyed by column id.
struct DBRowDTO {
    qint64 id = 0;
    std::optional<qint64> database_id;
    qint64 position = 0;
    JSONObject data;
    std::optional<qint64> linked_page_id;
    std::optional<QString> created_at;
    std::optional<QString> updated_at;

    static constexpr std::tuple kFields{
        json::Field{"id", &DBRowDTO::id},
        json::Field{"database_id", &DBRowDTO::database_id},
        json::Field{"position", &DBRowDTO::position},
        json::Field{"data", &DBRowDTO::data},
        json::Field{"linked_page_id", &DBRowDTO::linked_page_id},
        json::Field{"created_at", &DBRowDTO::created_at},
        json::Field{"updated_at", &DBRowDTO::updated_at},
    };
};

// One inline database with its columns and rows, in order.
struct DatabaseDTO {
    qint64 id = 0;
    qint64 page_id = 0;
    QString name;
    std::vector<DBColumnDTO> columns;
    std::vector<DBRowDTO> rows;

    static constexpr std::tuple kFields{
        json::Field{"id", &DatabaseDTO::id},     json::Field{"page_id", &DatabaseDTO::page_id},
        json::Field{"name", &DatabaseDTO::name}, json::Field{"columns", &DatabaseDTO::columns},
        json::Field{"rows", &DatabaseDTO::rows},
    };
};

// Body that creates a database in a page.
struct DBCreateReq {
    qint64 page_id = 0;
    std::optional<QString> name;
    std::optional<std::vector<DBColumnDTO>> columns;

    static constexpr std::tuple kFields{
        json::Field{"page_id", &DBCreateReq::page_id},
        json::Field{"name", &DBCreateReq::name},
        json::Field{"columns", &DBCreateReq::columns},
    };
};

// Body that adds a row.
struct DBRowCreateReq {
    qint64 database_id = 0;
    JSONObject data;
    qint64 position = 0;

    static constexpr std::tuple kFields{
        json::Field{"database_id", &DBRowCreateReq::database_id},
        json::Field{"data", &DBRowCreateReq::data},
        json::Field{"position", &DBRowCreateReq::position},
    };
};

// Body that changes a row; `data` is the row's whole map after the edit.
struct DBRowPatchReq {
    qint64 row_id = 0;
    std::optional<JSONObject> data;
    std::optional<qint64> position;

    static constexpr std::tuple kFields{
        json::Field{"row_id", &DBRowPatchReq::row_id},
        json::Field{"data", &DBRowPatchReq::data},
        json::Field{"position", &DBRowPatchReq::position},
    };
};

// Reply of adding a row.
struct DBRowResp {
    DBRowDTO row;

    static constexpr std::tuple kFields{
        json::Field{"row", &DBRowResp::row},
    };
};

// Reply of a database create.
struct DatabaseResp {
    DatabaseDTO database;

    static constexpr std::tuple kFields{
        json::Field{"database", &DatabaseResp::database},
    };
};

// Reply listing every database of one page.
struct DatabasesResp {
    std::vector<DatabaseDTO> databases;

    static constexpr std::tuple kFields{
        json::Field{"databases", &DatabasesResp::databases},
    };
};
