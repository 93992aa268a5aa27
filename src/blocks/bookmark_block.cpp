#include "blocks/bookmark_block.h"

#include "api/service_client.h"
#include "api/wire/blocks.h"
#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "blocks/block_view.h"

namespace {

const QString kURLKey = QStringLiteral("url");
const QString kTitleKey = QStringLiteral("title");
const QString kDescriptionKey = QStringLiteral("description");
const QString kImageKey = QStringLiteral("image");

} // namespace

namespace BookmarkBlock {

Content Content::read(const JSONObject &content)
{
    return {BlockContent::readString(content, kURLKey), BlockContent::readOptionalString(content, kTitleKey),
            BlockContent::readOptionalString(content, kDescriptionKey),
            BlockContent::readOptionalString(content, kImageKey)};
}

void Content::write(JSONObject &content) const
{
    content[kURLKey] = url;
    if (title)
        content[kTitleKey] = *title;
    if (description)
        content[kDescriptionKey] = *description;
    if (image)
        content[kImageKey] = *image;
}

void Content::dropPreview(JSONObject &content)
{
    content.erase(kTitleKey);
    content.erase(kDescriptionKey);
    content.erase(kImageKey);
}

void resolve(BlockHost &host, const QString &url)
{
    if (!host.isSignedIn())
        return;
    host.editContent([&url](JSONObject &content) {
        // The old address's preview must not stand under the new one while its own is fetched,
        // nor for good when that fetch fails.
        if (Content::read(content).url != url)
            Content::dropPreview(content);
        Content{url, {}, {}, {}}.write(content);
    });
    fetchPreview(host, url);
}

QCoro::Task<> fetchPreview(BlockHost &host, QString url)
{
    const BlockHost::ContentWriter writer = host.laterWriter();
    ServiceClient *client = host.services().client;
    if (!client)
        co_return;
    try {
        const BookmarkPreviewResp preview = co_await client->fetchBookmark(url);
        writer([&](JSONObject &content) {
            // A reply for an address the block has since left belongs to no preview it shows.
            if (Content::read(content).url != url)
                return;
            Content{url, preview.title, preview.description, preview.image}.write(content);
        });
    } catch (const std::exception &) {
        // A preview is a nicety: the stored address stays as it is.
    }
}

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::bookmark);
}

} // namespace BookmarkBlock
