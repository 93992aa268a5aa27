#include "blocks/breadcrumbs_block.h"

#include "blocks/block_view.h"

namespace BreadcrumbsBlock {

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::breadcrumbs);
}

} // namespace BreadcrumbsBlock
