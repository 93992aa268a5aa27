#include "blocks/bookmark_block.h"

#include "api/remote_image_loader.h"
#include "api/service_client.h"
#include "api/wire/blocks.h"
#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "blocks/block_view.h"
#include "platform/url_opener.h"
#include "ui/app_style.h"
#include "ui/clickable_frame.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kURLKey = QStringLiteral("url");
const QString kTitleKey = QStringLiteral("title");
const QString kDescriptionKey = QStringLiteral("description");
const QString kImageKey = QStringLiteral("image");
constexpr auto kPasteURL = "Paste URL";
constexpr auto kBookmark = "Bookmark";
constexpr auto kBlank = "about:blank";
constexpr QSize kThumbnailSize{90, 70};

QColor faded(const QColor &color, qreal opacity)
{
    QColor c = color;
    c.setAlphaF(c.alphaF() * opacity);
    return c;
}

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

QString hostLabel(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return url;
    return parsed.host();
}

QUrl linkTarget(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    return url.isEmpty() || !parsed.isValid() ? QUrl(QString::fromLatin1(kBlank)) : parsed;
}

BlockView *makeView(BlockHost &host)
{
    return new BookmarkBlockView(host);
}

} // namespace BookmarkBlock

BookmarkBlockView::BookmarkBlockView(BlockHost &host, QWidget *parent)
    : BlockView(host, BlockType::bookmark, parent)
{
    refresh();
}

void BookmarkBlockView::refresh()
{
    const BookmarkBlock::Content content = host().read<BookmarkBlock::Content>();
    if (m_built && content == m_shown)
        return;
    const bool stateChanged = !m_built || content.url.isEmpty() != m_shown.url.isEmpty();
    m_shown = content;
    m_built = true;
    if (stateChanged)
        rebuild();
    else if (m_card)
        rebuild(); // the preview filled in
}

void BookmarkBlockView::commit()
{
    const QString url = m_field ? BlockContent::trimmedEntry(m_field->text()) : QString();
    if (url.isEmpty())
        return;
    // The field or the button: the keyboard is here, and moves on once the address is stored.
    const bool hadFocus = QApplication::focusWidget() && isAncestorOf(QApplication::focusWidget());
    BookmarkBlock::resolve(host(), url);
    if (hadFocus && !host().read<BookmarkBlock::Content>().url.isEmpty())
        host().passKeyboardOn();
}

void BookmarkBlockView::openLink()
{
    if (UrlOpener *opener = host().services().urlOpener)
        opener->openUrl(BookmarkBlock::linkTarget(m_shown.url));
}

void BookmarkBlockView::rebuild()
{
    m_field.clear();
    m_button.clear();
    m_card.clear();
    m_title.clear();
    m_description.clear();
    m_host.clear();
    m_thumbnail.clear();
    if (m_shown.url.isEmpty()) {
        auto *entry = new QWidget;
        auto *layout = new QHBoxLayout(entry);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(6);
        m_field = new QLineEdit;
        m_field->setObjectName(QStringLiteral("bookmarkURL"));
        m_field->setPlaceholderText(QString::fromLatin1(kPasteURL));
        layout->addWidget(m_field, 1);
        m_button = new QPushButton(QString::fromLatin1(kBookmark));
        m_button->setObjectName(QStringLiteral("bookmarkButton"));
        connect(m_button, &QPushButton::clicked, this, &BookmarkBlockView::commit);
        layout->addWidget(m_button);
        setBody(entry);
        return;
    }

    auto *card = new ClickableFrame([this] { openLink(); });
    card->setObjectName(QStringLiteral("bookmarkCard"));
    card->setStyleSheet(QStringLiteral("#bookmarkCard { background: %1; border-radius: 8px; }")
                            .arg(AppStyle::css(faded(AppStyle::secondary(this), 0.07))));
    auto *row = new QHBoxLayout(card);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(12);
    auto *column = new QVBoxLayout;
    column->setSpacing(4);
    const QString title = m_shown.title.value_or(QString());
    m_title = new QLabel(title.isEmpty() ? m_shown.url : title);
    m_title->setObjectName(QStringLiteral("bookmarkTitle"));
    QFont medium = m_title->font();
    medium.setWeight(QFont::Medium);
    m_title->setFont(medium);
    column->addWidget(m_title);
    const QString description = m_shown.description.value_or(QString());
    if (!description.isEmpty()) {
        m_description = new QLabel(description);
        m_description->setObjectName(QStringLiteral("bookmarkDescription"));
        m_description->setFont(AppStyle::caption());
        m_description->setStyleSheet(
            QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
        column->addWidget(m_description);
    }
    m_host = new QLabel(BookmarkBlock::hostLabel(m_shown.url));
    m_host->setObjectName(QStringLiteral("bookmarkHost"));
    QFont small = AppStyle::caption();
    small.setPointSizeF(small.pointSizeF() - 1);
    m_host->setFont(small);
    m_host->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this))));
    column->addWidget(m_host);
    // At most two lines each of title and description: long ones wrap, then stop.
    for (QLabel *label : {m_title.data(), m_description.data(), m_host.data()}) {
        if (!label)
            continue;
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(label != m_host);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        if (label != m_host)
            label->setMaximumHeight(label->fontMetrics().lineSpacing() * 2 + 2);
    }
    row->addLayout(column, 1);
    if (!m_shown.image.value_or(QString()).isEmpty()) {
        m_thumbnail = new QLabel;
        m_thumbnail->setObjectName(QStringLiteral("bookmarkThumbnail"));
        m_thumbnail->setFixedSize(kThumbnailSize);
        m_thumbnail->setStyleSheet(QStringLiteral("background: %1; border-radius: 4px;")
                                       .arg(AppStyle::css(faded(AppStyle::secondary(this), 0.1))));
        row->addWidget(m_thumbnail, 0, Qt::AlignVCenter);
        showThumbnail();
    }
    m_card = card;
    setBody(card);
}

void BookmarkBlockView::showThumbnail()
{
    // The grey frame stands until the shared loader has the picture, and when it fails.
    ServiceClient *client = host().services().client;
    if (!client || !m_thumbnail)
        return;
    delete m_image;
    m_image = client->images().load(m_shown.image.value_or(QString()), this);
    const auto show = [this, image = QPointer<RemoteImage>(m_image)] {
        if (!image || image != m_image || !m_thumbnail || image->state() != RemoteImage::State::loaded)
            return;
        // Scaled to fill the frame, cropped to it, with its corners rounded.
        const qreal ratio = m_thumbnail->devicePixelRatioF();
        const QSize frame = kThumbnailSize * ratio;
        const QImage scaled =
            image->image().scaled(frame, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
        QPixmap pixmap(frame);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath clip;
        clip.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(frame)), 4 * ratio, 4 * ratio);
        painter.setClipPath(clip);
        painter.drawImage(
            QPoint((frame.width() - scaled.width()) / 2, (frame.height() - scaled.height()) / 2), scaled);
        painter.end();
        pixmap.setDevicePixelRatio(ratio);
        m_thumbnail->setPixmap(pixmap);
        m_thumbnail->setStyleSheet(QString());
    };
    if (m_image->state() == RemoteImage::State::loading)
        connect(m_image, &RemoteImage::stateChanged, this, show);
    else
        show();
}

void BookmarkBlockView::servicesChanged()
{
    // Made before the row had its client, the thumbnail has not been asked for yet.
    if (m_thumbnail && !m_image)
        showThumbnail();
}

bool BookmarkBlockView::isThumbnailLoaded() const
{
    return m_thumbnail && !m_thumbnail->pixmap().isNull();
}

QLineEdit *BookmarkBlockView::entryField() const
{
    return m_field;
}

QPushButton *BookmarkBlockView::bookmarkButton() const
{
    return m_button;
}

QWidget *BookmarkBlockView::card() const
{
    return m_card;
}

QLabel *BookmarkBlockView::thumbnail() const
{
    return m_thumbnail;
}

QStringList BookmarkBlockView::shownLines() const
{
    if (!m_card)
        return {};
    return {m_title ? m_title->text() : QString(), m_description ? m_description->text() : QString(),
            m_host ? m_host->text() : QString()};
}

QWidget *BookmarkBlockView::entryWidget() const
{
    return m_field;
}
