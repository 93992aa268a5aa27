#include "blocks/toc_block.h"

#include "blocks/block_view.h"

namespace TocBlock {

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::toc);
}

} // namespace TocBlock
