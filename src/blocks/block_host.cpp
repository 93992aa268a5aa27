#include "blocks/block_host.h"

bool BlockHost::editContent(const ContentEdit &edit)
{
    JSONObject content = decodeContent();
    edit(content);
    return saveContent(content);
}
