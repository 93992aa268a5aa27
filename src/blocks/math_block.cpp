#include "blocks/math_block.h"

#include "blocks/block_view.h"

namespace MathBlock {

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::math);
}

} // namespace MathBlock
