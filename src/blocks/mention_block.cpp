#include "blocks/mention_block.h"

#include "blocks/block_content.h"
#include "blocks/block_view.h"

namespace {

const QString kPageIDKey = QStringLiteral("page_id");

} // namespace

namespace MentionBlock {

Content Content::read(const JSONObject &content)
{
    return {BlockContent::readInt(content, kPageIDKey)};
}

void Content::write(JSONObject &content) const
{
    content[kPageIDKey] = pageID;
}

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::mention);
}

} // namespace MentionBlock
