#pragma once

#include "json/json_value.h"
#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

#include <optional>

// One change recorded by the service.
struct SyncOpDTO {
    QString entity_type;
    qint64 entity_id = 0;
    QString op;
    std::optional<JSONObject> payload;
    qint64 server_ts = 0;

    static SyncOpDTO fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
