#include "blocks/button_block.h"

#include "blocks/block_content.h"
#include "blocks/block_view.h"

namespace {

const QString kLabelKey = QStringLiteral("label");
const QString kActionKey = QStringLiteral("action");
const QString kTargetKey = QStringLiteral("target");

} // namespace

namespace ButtonBlock {

Content Content::read(const JSONObject &content)
{
    return {BlockContent::readString(content, kLabelKey), BlockContent::readString(content, kActionKey),
            BlockContent::readString(content, kTargetKey)};
}

void Content::write(JSONObject &content) const
{
    content[kLabelKey] = label;
    content[kActionKey] = action;
    content[kTargetKey] = target;
}

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::button);
}

} // namespace ButtonBlock
