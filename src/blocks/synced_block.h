#pragma once

#include "json/json_value.h"

#include <QString>

class BlockHost;
class BlockView;

// A copy of another block, by the source block's server id (0: none).
namespace SyncedBlock {

struct Content {
    qint64 sourceID = 0;

    static Content read(const JSONObject &content);
    void write(JSONObject &content) const;
};

BlockView *makeView(BlockHost &host);

} // namespace SyncedBlock
