#pragma once

#include "json/json_writer.h"

#include <QString>

#include <rapidjson/document.h>

// The service's acknowledgement of one stored block.
struct BlockUpsertAck {
    QString client_id;
    qint64 id = 0;
    qint64 position = 0;

    static BlockUpsertAck fromJson(const rapidjson::Value &v);
    void toJson(JsonWriter &w) const;
};
