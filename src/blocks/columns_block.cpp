#include "blocks/columns_block.h"

#include "blocks/block_content.h"
#include "blocks/block_view.h"

#include <algorithm>

namespace {

const QString kCountKey = QStringLiteral("count");

} // namespace

namespace ColumnsBlock {

Content Content::read(const JSONObject &content)
{
    // 2 unless it holds a JSON integer.
    const qint64 count = BlockContent::readInt(content, kCountKey, kMinColumns);
    return {std::clamp<qint64>(count, kMinColumns, kMaxColumns)};
}

void Content::write(JSONObject &content) const
{
    content[kCountKey] = count;
}

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::columns);
}

} // namespace ColumnsBlock
