#include "blocks/drawing_block.h"

#include "blocks/block_content.h"
#include "blocks/block_view.h"

namespace {

const QString kHeightKey = QStringLiteral("height");

} // namespace

namespace DrawingBlock {

Content Content::read(const JSONObject &content)
{
    // An integer counts as a double.
    return {BlockContent::readDouble(content, kHeightKey, kDefaultHeight)};
}

void Content::write(JSONObject &content) const
{
    content[kHeightKey] = height;
}

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::drawing);
}

} // namespace DrawingBlock
