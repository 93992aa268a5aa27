#pragma once

#include "json/json_value.h"

#include <QString>

class BlockHost;
class BlockView;

// A drawing: its canvas height in points.
namespace DrawingBlock {

struct Content {
    double height = kDefaultHeight;

    static constexpr double kDefaultHeight = 240;

    static Content read(const JSONObject &content);
    void write(JSONObject &content) const;
};

BlockView *makeView(BlockHost &host);

} // namespace DrawingBlock
