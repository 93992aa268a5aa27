#include "blocks/image_block.h"

#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "blocks/block_upload.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"

#include <QPushButton>

namespace {

const QString kURLKey = QStringLiteral("url");
constexpr auto kUploadImage = "Upload image";

} // namespace

namespace ImageBlock {

Content Content::read(const JSONObject &content)
{
    return {BlockContent::readString(content, kURLKey)};
}

void Content::write(JSONObject &content) const
{
    content[kURLKey] = url;
}

void upload(BlockHost &host)
{
    if (host.isSignedIn())
        pickAndUpload(host);
}

QCoro::Task<> pickAndUpload(BlockHost &host)
{
    const BlockHost::ContentWriter writer = host.laterWriter();
    const std::optional<UploadedFile> file = co_await BlockUpload::pickAndSend(
        host.services(), FilePicker::Filter::Images, std::nullopt, QString::fromLatin1(kUploadFailed));
    if (file)
        writer([&](JSONObject &content) { Content{file->url}.write(content); });
}

BlockView *makeView(BlockHost &host)
{
    return new ImageBlockView(host);
}

} // namespace ImageBlock

ImageBlockView::ImageBlockView(BlockHost &host, QWidget *parent)
    : BlockView(host, BlockType::image, parent)
{
    refresh();
}

void ImageBlockView::refresh()
{
    // An upload (or a pull) gives the image its address: the prompt gives way, and back.
    const bool hasURL = !host().read<ImageBlock::Content>().url.isEmpty();
    if (m_shown && hasURL != bool(m_uploadButton))
        return;
    m_shown = true;
    m_uploadButton.clear();
    setBody(hasURL ? nullptr : makeUploadButton());
}

QPushButton *ImageBlockView::uploadButton() const
{
    return m_uploadButton;
}

QPushButton *ImageBlockView::makeUploadButton()
{
    m_uploadButton = new QPushButton;
    m_uploadButton->setObjectName(QStringLiteral("uploadImage"));
    m_uploadButton->setFlat(true);
    m_uploadButton->setFocusPolicy(Qt::NoFocus);
    const QIcon photo = EditorSymbols::icon(QStringLiteral("photo"));
    if (photo.isNull())
        m_uploadButton->setText(EditorSymbols::glyph(QStringLiteral("photo")) + QLatin1Char(' ') +
                                QString::fromLatin1(kUploadImage));
    else {
        m_uploadButton->setIcon(photo);
        m_uploadButton->setText(QString::fromLatin1(kUploadImage));
    }
    m_uploadButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.55 * 0.08);
    m_uploadButton->setStyleSheet(
        QStringLiteral("#uploadImage { background: %1; border-radius: 6px; padding: 10px; }")
            .arg(AppStyle::css(fill)));
    connect(m_uploadButton, &QPushButton::clicked, this, [this] { ImageBlock::upload(host()); });
    return m_uploadButton;
}
