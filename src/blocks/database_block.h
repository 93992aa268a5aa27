#pragma once

#include "json/json_value.h"

#include <QString>

#include <optional>

class BlockHost;
class BlockView;

// An inline database, by the database's server id.
namespace DatabaseBlock {

struct Content {
    // None writes nothing and keeps the stored id.
    std::optional<qint64> databaseID;

    static Content read(const JSONObject &content);
    void write(JSONObject &content) const;
};

// The block bound to a database; none writes nothing at all.
void setDatabaseID(BlockHost &host, std::optional<qint64> databaseID);

BlockView *makeView(BlockHost &host);

} // namespace DatabaseBlock
