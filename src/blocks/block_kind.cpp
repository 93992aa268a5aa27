#include "blocks/block_kind.h"

#include "blocks/audio_block.h"
#include "blocks/bookmark_block.h"
#include "blocks/breadcrumbs_block.h"
#include "blocks/button_block.h"
#include "blocks/columns_block.h"
#include "blocks/database_block.h"
#include "blocks/drawing_block.h"
#include "blocks/embed_block.h"
#include "blocks/file_block.h"
#include "blocks/image_block.h"
#include "blocks/math_block.h"
#include "blocks/mention_block.h"
#include "blocks/synced_block.h"
#include "blocks/toc_block.h"

#include <algorithm>

const std::vector<BlockKind> &BlockKind::all()
{
    // clang-format off
    static const std::vector<BlockKind> kinds{
        {BlockType::image, &ImageBlock::makeView},
        {BlockType::drawing, &DrawingBlock::makeView},
        {BlockType::audio, &AudioBlock::makeView},
        {BlockType::file, &FileBlock::makeView},
        {BlockType::embed, &EmbedBlock::makeView},
        {BlockType::bookmark, &BookmarkBlock::makeView},
        {BlockType::math, &MathBlock::makeView},
        {BlockType::toc, &TocBlock::makeView},
        {BlockType::mention, &MentionBlock::makeView},
        {BlockType::breadcrumbs, &BreadcrumbsBlock::makeView},
        {BlockType::button, &ButtonBlock::makeView},
        {BlockType::columns, &ColumnsBlock::makeView},
        {BlockType::synced, &SyncedBlock::makeView},
        {BlockType::database, &DatabaseBlock::makeView},
    };
    // clang-format on
    return kinds;
}

const BlockKind *BlockKind::of(BlockType type)
{
    const std::vector<BlockKind> &kinds = all();
    const auto it =
        std::find_if(kinds.begin(), kinds.end(), [type](const BlockKind &kind) { return kind.type == type; });
    return it == kinds.end() ? nullptr : &*it;
}
