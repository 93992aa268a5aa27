#include "blocks/image_block.h"

#include "api/service_client.h"
#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "blocks/block_upload.h"
#include "blocks/image_element.h"
#include "ui/app_menu.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"
#include "ui/growing_text_edit.h"

#include <QEnterEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kURLKey = QStringLiteral("url");
const QString kLayoutKey = QStringLiteral("layout");
const QString kCaptionKey = QStringLiteral("caption");
constexpr auto kUploadImage = "Upload image";
constexpr int kInlineSpacing = 6;
constexpr int kFloatSpacing = 14;
constexpr qreal kBehindOpacity = 0.18;
constexpr int kBehindPadding = 20;
constexpr int kCardInset = 12;
constexpr int kCardPadding = 10;
constexpr int kControlsPadding = 6;

QColor faded(QColor color, qreal alpha)
{
    color.setAlphaF(color.alphaF() * alpha);
    return color;
}

// The platform's "regular material": the window's colour, mostly opaque.
QString materialCss(const QWidget *widget)
{
    return AppStyle::css(faded(widget->palette().color(QPalette::Window), 0.88));
}

QToolButton *chipButton(const QString &objectName, const QString &symbol, const QString &text, QWidget *owner)
{
    auto *button = new QToolButton;
    button->setObjectName(objectName);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(AppStyle::caption());
    button->setIconSize(QSize(14, 14));
    button->setIcon(EditorSymbols::icon(symbol));
    button->setText(text);
    button->setStyleSheet(
        QStringLiteral("#%1 { background: %2; border: none; border-radius: 11px; padding: 3px "
                       "8px; } #%1::menu-indicator { image: none; width: 0; }")
            .arg(objectName, materialCss(owner)));
    return button;
}

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

const Layout &layoutOf(const QString &id)
{
    for (const Layout &layout : kLayouts) {
        if (id == QLatin1String(layout.id))
            return layout;
    }
    return kLayouts.front();
}

QString readLayout(const JSONObject &content)
{
    return BlockContent::readString(content, kLayoutKey, QString::fromLatin1(kLayouts.front().id));
}

QString readCaption(const JSONObject &content)
{
    return BlockContent::readString(content, kCaptionKey);
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
    , m_captionDebouncer(host.editDelay())
{
    refresh();
}

void ImageBlockView::refresh()
{
    const JSONObject content = host().decodeContent();
    const QString url = ImageBlock::Content::read(content).url;
    // An upload (or a pull) gives the image its address: the prompt gives way, and back.
    bool built = false;
    if (!m_shown || url.isEmpty() != bool(m_uploadButton)) {
        m_shown = true;
        built = true;
        m_uploadButton.clear();
        m_url.clear();
        m_arrangement.clear();
        setBody(url.isEmpty() ? makeUploadButton() : makeImageBody());
    }
    // A caption typed and not yet handed over is newer than the stored one (a pull) and goes out
    // over it; otherwise the field shows what is stored.
    if (m_caption && (built || !m_captionDebouncer.isPending()))
        m_caption->setTextQuietly(ImageBlock::readCaption(content));
    if (url.isEmpty())
        return;
    ServiceClient *client = host().services().client;
    m_image->setLoader(client ? &client->images() : nullptr);
    if (url != m_url) {
        m_url = url;
        m_image->setURL(url);
    }
    const ImageBlock::Layout &layout = ImageBlock::layoutOf(ImageBlock::readLayout(content));
    m_layoutButton->setText(QString::fromLatin1(layout.label));
    if (m_arrangement != QLatin1String(layout.id))
        arrange(QString::fromLatin1(layout.id));
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

QWidget *ImageBlockView::makeImageBody()
{
    m_body = new QWidget;
    auto *layout = new QVBoxLayout(m_body);
    layout->setContentsMargins(0, 0, 0, 0);
    m_image = new ImageElement(nullptr, m_body);
    m_caption = new GrowingTextEdit(1, 0, m_body);
    m_caption->setObjectName(QStringLiteral("imageCaption"));
    m_caption->setPlaceholderText(QString::fromLatin1(kCaptionPlaceholder));
    m_caption->setFont(AppStyle::caption());
    m_caption->setStyleSheet(QStringLiteral("#imageCaption { background: transparent; color: %1; }")
                                 .arg(AppStyle::css(AppStyle::secondary(this))));
    connect(m_caption, &GrowingTextEdit::textEdited, this, &ImageBlockView::scheduleCaption);
    makeControls(m_body);
    return m_body;
}

void ImageBlockView::makeControls(QWidget *parent)
{
    m_controls = new QWidget(parent);
    auto *row = new QHBoxLayout(m_controls);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    m_layoutButton = chipButton(QStringLiteral("imageLayout"), QStringLiteral("rectangle.3.group"),
                                QString::fromLatin1(ImageBlock::kLayouts.front().label), this);
    m_layoutButton->setPopupMode(QToolButton::InstantPopup);
    m_layoutMenu = new AppMenu(m_layoutButton);
    for (const ImageBlock::Layout &layout : ImageBlock::kLayouts) {
        const QString id = QString::fromLatin1(layout.id);
        m_layoutMenu->addAction(EditorSymbols::icon(QString::fromLatin1(layout.icon)),
                                QString::fromLatin1(layout.label), this, [this, id] { chooseLayout(id); });
    }
    m_layoutButton->setMenu(m_layoutMenu);
    row->addWidget(m_layoutButton);
    m_replaceButton =
        chipButton(QStringLiteral("imageReplace"), QStringLiteral("arrow.triangle.2.circlepath"),
                   QString::fromLatin1(kReplace), this);
    connect(m_replaceButton, &QToolButton::clicked, this, [this] { ImageBlock::upload(host()); });
    row->addWidget(m_replaceButton);
    m_controls->setVisible(m_hovering);
}

void ImageBlockView::arrange(const QString &layoutID)
{
    const bool captionFocused = m_caption->hasFocus();
    // The image and the caption move to the new arrangement; the old one goes with its frames.
    m_image->setParent(m_body);
    m_caption->setParent(m_body);
    delete m_arranged;

    m_arrangement = layoutID;
    m_arranged = new QWidget(m_body);
    m_image->setOpacity(1.0);
    m_image->setMinimumWidth(0);
    m_image->setMaximumWidth(QWIDGETSIZE_MAX);
    const auto captionIn = [this](int margin, bool card) {
        auto *holder = new QWidget;
        auto *layout = new QVBoxLayout(holder);
        layout->setContentsMargins(margin, margin, margin, margin);
        if (!card) {
            layout->addWidget(m_caption);
            return holder;
        }
        auto *frame = new QWidget;
        frame->setObjectName(QStringLiteral("captionCard"));
        frame->setAttribute(Qt::WA_StyledBackground);
        frame->setStyleSheet(
            QStringLiteral("#captionCard { background: %1; border-radius: 6px; }").arg(materialCss(this)));
        auto *inner = new QVBoxLayout(frame);
        inner->setContentsMargins(kCardPadding, kCardPadding, kCardPadding, kCardPadding);
        inner->addWidget(m_caption);
        layout->addWidget(frame);
        return holder;
    };

    if (layoutID == QLatin1String("float-left") || layoutID == QLatin1String("float-right")) {
        auto *row = new QHBoxLayout(m_arranged);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(kFloatSpacing);
        m_image->setFixedWidth(kFloatWidth);
        if (layoutID == QLatin1String("float-right"))
            row->addWidget(m_caption, 1, Qt::AlignTop);
        row->addWidget(m_image, 0, Qt::AlignTop);
        if (layoutID == QLatin1String("float-left"))
            row->addWidget(m_caption, 1, Qt::AlignTop);
    } else if (layoutID == QLatin1String("behind") || layoutID == QLatin1String("in-front")) {
        // One cell holds both, the caption drawn over the image.
        auto *stack = new QGridLayout(m_arranged);
        stack->setContentsMargins(0, 0, 0, 0);
        const bool behind = layoutID == QLatin1String("behind");
        if (behind)
            m_image->setOpacity(kBehindOpacity);
        stack->addWidget(m_image, 0, 0, Qt::AlignVCenter);
        QWidget *over = captionIn(behind ? kBehindPadding : kCardInset, !behind);
        stack->addWidget(over, 0, 0, Qt::AlignVCenter);
        over->raise();
    } else {
        auto *column = new QVBoxLayout(m_arranged);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(kInlineSpacing);
        column->addWidget(m_image);
        column->addWidget(m_caption);
    }
    m_image->show();
    m_caption->show();
    static_cast<QVBoxLayout *>(m_body->layout())->addWidget(m_arranged);
    if (captionFocused)
        m_caption->setFocus();
    if (m_controls)
        m_controls->raise();
    placeControls();
}

void ImageBlockView::setHovering(bool hovering)
{
    m_hovering = hovering;
    if (!m_controls)
        return;
    m_controls->setVisible(hovering);
    if (hovering) {
        m_controls->raise();
        placeControls();
    }
}

void ImageBlockView::placeControls()
{
    if (!m_controls || !m_body)
        return;
    m_controls->adjustSize();
    m_controls->move(m_body->width() - m_controls->width() - kControlsPadding, kControlsPadding);
}

void ImageBlockView::enterEvent(QEnterEvent *event)
{
    setHovering(true);
    BlockView::enterEvent(event);
}

void ImageBlockView::leaveEvent(QEvent *event)
{
    setHovering(false);
    BlockView::leaveEvent(event);
}

void ImageBlockView::resizeEvent(QResizeEvent *event)
{
    BlockView::resizeEvent(event);
    placeControls();
}

void ImageBlockView::scheduleCaption(const QString &text)
{
    // The write outlives the view: a caption typed just before the row goes is still kept.
    m_captionDebouncer.schedule([writer = host().laterWriter(), text] {
        writer([&text](JSONObject &content) { content[kCaptionKey] = text; });
    });
}

void ImageBlockView::chooseLayout(const QString &id)
{
    host().editContent([&id](JSONObject &content) { content[kLayoutKey] = id; });
}
