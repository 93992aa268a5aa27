#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// Body of a page create; also the payload of the outbox operation that sends it.
struct PageCreateReq {
    qint64 workspace_id = 0;
    std::optional<qint64> parent_page_id;
    QString title;
    QString icon;
    qint64 position = 0;

    static PageCreateReq fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
