#pragma once

#include "json/json_value.h"

#include <QString>

class BlockHost;
class BlockView;

// A button: its label, its action and the action's target.
namespace ButtonBlock {

struct Content {
    QString label;
    QString action;
    QString target;

    static Content read(const JSONObject &content);
    void write(JSONObject &content) const;
};

BlockView *makeView(BlockHost &host);

} // namespace ButtonBlock
