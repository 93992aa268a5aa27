#include "blocks/synced_block.h"

#include "blocks/block_view.h"

namespace SyncedBlock {

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::synced);
}

} // namespace SyncedBlock
