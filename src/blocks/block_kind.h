#pragma once

#include "blocks/block_type.h"

#include <vector>

class BlockHost;
class BlockView;

// The rich kinds of block, each with the view its row shows. Each kind's typed content, view and
// actions live in its own file pair (`ImageBlock` in blocks/image_block.h). The text kinds (text,
// headings, lists, to-do, quote, callout, code, divider, toggle) are edited by the row itself and
// have no entry.
struct BlockKind {
    using ViewFactory = BlockView *(*)(BlockHost &host);

    BlockType type;
    ViewFactory makeView;

    // None for a text kind.
    static const BlockKind *of(BlockType type);
    static const std::vector<BlockKind> &all();
};
