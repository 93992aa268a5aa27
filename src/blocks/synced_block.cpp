#include "blocks/synced_block.h"

#include "blocks/block_content.h"
#include "blocks/block_view.h"

namespace {

const QString kSourceIDKey = QStringLiteral("source_id");

} // namespace

namespace SyncedBlock {

Content Content::read(const JSONObject &content)
{
    return {BlockContent::readInt(content, kSourceIDKey)};
}

void Content::write(JSONObject &content) const
{
    content[kSourceIDKey] = sourceID;
}

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::synced);
}

} // namespace SyncedBlock
