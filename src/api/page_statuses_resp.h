#pragma once

#include "api/library_server_status.h"
#include "json/json_writer.h"

#include <QMap>
#include <QString>

#include <rapidjson/document.h>

// The library's badge reply: statuses keyed by a page's server id as decimal text.
struct PageStatusesResp {
    QMap<QString, LibraryServerStatus> statuses;

    static PageStatusesResp fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
