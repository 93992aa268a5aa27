#include "blocks/mention_block.h"

#include "blocks/block_view.h"

namespace MentionBlock {

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::mention);
}

} // namespace MentionBlock
