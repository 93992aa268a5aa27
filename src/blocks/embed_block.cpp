#include "blocks/embed_block.h"

#include "blocks/block_view.h"

namespace EmbedBlock {

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::embed);
}

} // namespace EmbedBlock
