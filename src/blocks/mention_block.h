#pragma once

#include "json/json_value.h"

#include <QString>

class BlockHost;
class BlockView;

// A link to another page, by the page's server id (0: none).
namespace MentionBlock {

struct Content {
    qint64 pageID = 0;

    static Content read(const JSONObject &content);
    void write(JSONObject &content) const;
};

BlockView *makeView(BlockHost &host);

} // namespace MentionBlock
