#include "blocks/audio_block.h"

#include "api/service_client.h"
#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "blocks/block_view.h"
#include "blocks/file_block.h"
#include "ui/toast_center.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QString kURLKey = QStringLiteral("url");
const QString kFilenameKey = QStringLiteral("filename");
const QString kSizeKey = QStringLiteral("size");
constexpr auto kAudioKind = "audio";

} // namespace

namespace AudioBlock {

Content Content::read(const JSONObject &content)
{
    return {BlockContent::readString(content, kURLKey),
            BlockContent::readOptionalString(content, kFilenameKey),
            BlockContent::readOptionalInt(content, kSizeKey)};
}

void Content::write(JSONObject &content) const
{
    content[kURLKey] = url;
    if (filename)
        content[kFilenameKey] = *filename;
    if (size)
        content[kSizeKey] = *size;
}

void attach(BlockHost &host)
{
    if (host.isSignedIn())
        FileBlock::pickAndAttach(host, QString::fromLatin1(kAudioKind));
}

void uploadRecording(BlockHost &host, const QString &filePath)
{
    if (host.isSignedIn())
        uploadRecordingFile(host, filePath);
}

QCoro::Task<> uploadRecordingFile(BlockHost &host, QString filePath)
{
    const BlockHost::ContentWriter writer = host.laterWriter();
    const QPointer<ToastCenter> toasts = host.services().toasts;
    const QPointer<ServiceClient> client = host.services().client;
    QByteArray data;
    bool readable = false;
    {
        QFile file(filePath);
        if (file.open(QIODevice::ReadOnly)) {
            data = file.readAll();
            readable = file.error() == QFileDevice::NoError;
        }
    }
    if (readable && client) {
        try {
            const QUrl url =
                co_await client->upload(data, QFileInfo(filePath).fileName(),
                                        QString::fromLatin1(kRecordingMime), QString::fromLatin1(kAudioKind));
            // The recording goes only once its address is kept: a block that is gone keeps it too.
            const bool kept = writer([&](JSONObject &content) {
                Content{url.toString(QUrl::FullyEncoded), {}, {}}.write(content);
            });
            if (kept)
                QFile::remove(filePath);
            co_return;
        } catch (const std::exception &) {
        }
    }
    if (toasts)
        toasts->show(QString::fromUtf8(kUploadFailed));
}

BlockView *makeView(BlockHost &host)
{
    return new BlockView(host, BlockType::audio);
}

} // namespace AudioBlock
