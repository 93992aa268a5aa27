#include "blocks/file_block.h"

#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "blocks/block_upload.h"
#include "blocks/block_view.h"

namespace {

const QString kURLKey = QStringLiteral("url");
const QString kFilenameKey = QStringLiteral("filename");
const QString kSizeKey = QStringLiteral("size");
constexpr auto kAnyKind = "any";

} // namespace

namespace FileBlock {

Content Content::read(const JSONObject &content)
{
    return {BlockContent::readString(content, kURLKey), BlockContent::readString(content, kFilenameKey),
            BlockContent::readInt(content, kSizeKey)};
}

void Content::write(JSONObject &content) const
{
    content[kURLKey] = url;
    content[kFilenameKey] = filename;
    content[kSizeKey] = size;
}

void attach(BlockHost &host)
{
    if (host.isSignedIn())
        pickAndAttach(host, QString::fromLatin1(kAnyKind));
}

QCoro::Task<> pickAndAttach(BlockHost &host, QString uploadKind)
{
    const BlockHost::ContentWriter writer = host.laterWriter();
    const std::optional<UploadedFile> file = co_await BlockUpload::pickAndSend(
        host.services(), FilePicker::Filter::AnyFile, uploadKind, QString::fromLatin1(kUploadFailed));
    if (file)
        writer([&](JSONObject &content) { Content{file->url, file->filename, file->size}.write(content); });
}

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::file);
}

} // namespace FileBlock
