#pragma once

#include "blocks/block_content.h"
#include "json/json_value.h"

#include <QString>

// The content of a kind that links to one record by its server id, kept under the key `Key`
// (0: none; anything but a JSON integer reads as none).
template <const char *Key>
struct RecordLink {
    qint64 serverID = 0;

    static RecordLink read(const JSONObject &content)
    {
        return {BlockContent::readInt(content, QString::fromLatin1(Key))};
    }
    void write(JSONObject &content) const { content[QString::fromLatin1(Key)] = serverID; }
};
