#include "blocks/database_block.h"

#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "blocks/block_view.h"

namespace {

const QString kDatabaseIDKey = QStringLiteral("database_id");

} // namespace

namespace DatabaseBlock {

Content Content::read(const JSONObject &content)
{
    return {BlockContent::readOptionalInt(content, kDatabaseIDKey)};
}

void Content::write(JSONObject &content) const
{
    if (databaseID)
        content[kDatabaseIDKey] = *databaseID;
}

void setDatabaseID(BlockHost &host, std::optional<qint64> databaseID)
{
    if (databaseID)
        host.write(Content{databaseID});
}

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::database);
}

} // namespace DatabaseBlock
