#pragma once

#include "json/json_value.h"

#include <QString>

class BlockHost;
class BlockView;

// Side-by-side columns; the blocks inside name their column. "count" is read within 2 to 4.
namespace ColumnsBlock {

struct Content {
    qint64 count = kMinColumns;

    static constexpr int kMinColumns = 2;
    static constexpr int kMaxColumns = 4;

    static Content read(const JSONObject &content);
    void write(JSONObject &content) const;
};

BlockView *makeView(BlockHost &host);

} // namespace ColumnsBlock
