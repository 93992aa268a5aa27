#include "blocks/file_block.h"

#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "blocks/block_upload.h"
#include "platform/url_opener.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"
#include "ui/shown_text.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>

namespace {

const QString kURLKey = QStringLiteral("url");
const QString kFilenameKey = QStringLiteral("filename");
const QString kSizeKey = QStringLiteral("size");
constexpr auto kAnyKind = "any";
constexpr int kIconSize = 22;
constexpr int kArrowSize = 18;

QColor faded(QColor color, qreal alpha)
{
    color.setAlphaF(color.alphaF() * alpha);
    return color;
}

// `value` with at most `decimals` digits after the point, trailing zeros dropped, thousands grouped.
QString decimal(double value, int decimals)
{
    QLocale english(QLocale::English);
    QString text = english.toString(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text;
}

QLabel *symbolLabel(const QString &name, const QColor &color, int size)
{
    auto *label = new QLabel;
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setPixmap(EditorSymbols::icon(name, color).pixmap(size, size));
    return label;
}

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

QString fileIconName(const QString &filename)
{
    const qsizetype dot = filename.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : filename.mid(dot + 1).toLower();
    if (extension == QLatin1String("pdf"))
        return QStringLiteral("doc.richtext");
    if (extension == QLatin1String("doc") || extension == QLatin1String("docx"))
        return QStringLiteral("doc.text");
    if (extension == QLatin1String("xls") || extension == QLatin1String("xlsx") ||
        extension == QLatin1String("csv"))
        return QStringLiteral("tablecells");
    if (extension == QLatin1String("zip"))
        return QStringLiteral("archivebox");
    if (extension == QLatin1String("txt") || extension == QLatin1String("json"))
        return QStringLiteral("doc.plaintext");
    return QStringLiteral("doc");
}

QString sizeLabel(qint64 bytes)
{
    if (bytes <= 0)
        return QStringLiteral("\u2014");
    // Decimal units, as file managers count them; a unit that would round to 1,000 gives the next.
    const double kilobytes = double(bytes) / 1000.0;
    const double wholeKB = std::max(1.0, std::round(kilobytes));
    if (wholeKB < 1000.0)
        return decimal(wholeKB, 0) + QStringLiteral(" KB");
    const double megabytes = std::round(double(bytes) / 1e5) / 10.0;
    if (megabytes < 1000.0)
        return decimal(megabytes, 1) + QStringLiteral(" MB");
    return decimal(std::round(double(bytes) / 1e7) / 100.0, 2) + QStringLiteral(" GB");
}

void open(BlockHost &host, const QString &url)
{
    UrlOpener *opener = host.services().urlOpener;
    if (!opener)
        return;
    const QUrl target(url, QUrl::StrictMode);
    opener->openUrl(target.isValid() ? target : QUrl(QStringLiteral("about:blank")));
}

BlockView *makeView(BlockHost &host)
{
    return new FileBlockView(host);
}

} // namespace FileBlock

FileBlockView::FileBlockView(BlockHost &host, QWidget *parent)
    : BlockView(host, BlockType::file, parent)
{
    refresh();
}

void FileBlockView::refresh()
{
    const FileBlock::Content content = host().read<FileBlock::Content>();
    const bool attached = !content.url.isEmpty();
    if (!m_built || attached != bool(m_fileRow)) {
        m_built = true;
        m_attachButton.clear();
        m_fileRow.clear();
        setBody(attached ? makeFileRow() : makeAttachButton());
    }
    if (!attached)
        return;
    m_iconName = FileBlock::fileIconName(content.filename);
    m_icon->setPixmap(
        EditorSymbols::icon(m_iconName, AppStyle::secondary(this)).pixmap(kIconSize, kIconSize));
    m_name->setText(content.filename.isEmpty() ? QString::fromLatin1(FileBlock::kNoName) : content.filename);
    m_size->setText(FileBlock::sizeLabel(content.size));
    m_fileRow->setToolTip(ShownText::toolTip(content.url));
}

QPushButton *FileBlockView::makeAttachButton()
{
    m_attachButton = new QPushButton;
    m_attachButton->setObjectName(QStringLiteral("attachFile"));
    m_attachButton->setFlat(true);
    m_attachButton->setFocusPolicy(Qt::NoFocus);
    m_attachButton->setCursor(Qt::PointingHandCursor);
    m_attachButton->setIcon(EditorSymbols::icon(QStringLiteral("paperclip")));
    m_attachButton->setText(QString::fromLatin1(FileBlock::kAttach));
    m_attachButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_attachButton->setStyleSheet(
        QStringLiteral("#attachFile { background: %1; border: none; border-radius: 6px; padding: 10px; }")
            .arg(AppStyle::css(faded(AppStyle::secondary(this), 0.08))));
    connect(m_attachButton, &QPushButton::clicked, this, [this] { FileBlock::attach(host()); });
    return m_attachButton;
}

QPushButton *FileBlockView::makeFileRow()
{
    m_fileRow = new QPushButton;
    m_fileRow->setObjectName(QStringLiteral("attachedFile"));
    m_fileRow->setFlat(true);
    m_fileRow->setFocusPolicy(Qt::NoFocus);
    m_fileRow->setCursor(Qt::PointingHandCursor);
    m_fileRow->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_fileRow->setStyleSheet(
        QStringLiteral("#attachedFile { background: %1; border: none; border-radius: 8px; }")
            .arg(AppStyle::css(faded(AppStyle::secondary(this), 0.07))));
    auto *row = new QHBoxLayout(m_fileRow);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(12);
    m_icon = symbolLabel(QStringLiteral("doc"), AppStyle::secondary(this), kIconSize);
    row->addWidget(m_icon, 0, Qt::AlignVCenter);

    auto *column = new QVBoxLayout;
    column->setSpacing(2);
    m_name = ShownText::label();
    m_name->setAttribute(Qt::WA_TransparentForMouseEvents);
    QFont nameFont = AppStyle::body();
    nameFont.setWeight(QFont::Medium);
    m_name->setFont(nameFont);
    m_size = ShownText::label();
    m_size->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_size->setFont(AppStyle::caption());
    m_size->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    column->addWidget(m_name);
    column->addWidget(m_size);
    row->addLayout(column, 1);
    row->addWidget(symbolLabel(QStringLiteral("arrow.down.circle"), AppStyle::secondary(this), kArrowSize), 0,
                   Qt::AlignVCenter);
    // The button's own height follows its contents.
    m_fileRow->setMinimumHeight(row->sizeHint().height());
    connect(m_fileRow, &QPushButton::clicked, this,
            [this] { FileBlock::open(host(), host().read<FileBlock::Content>().url); });
    return m_fileRow;
}
