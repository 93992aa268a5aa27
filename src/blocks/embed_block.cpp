#include "blocks/embed_block.h"

#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "platform/url_opener.h"
#include "ui/app_style.h"
#include "ui/clickable_frame.h"
#include "ui/editor_symbols.h"
#include "ui/shown_text.h"

#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include <optional>

namespace {

const QString kURLKey = QStringLiteral("url");
constexpr auto kPlaceholder = "Paste YouTube / Vimeo / iframe URL";
constexpr auto kEmbed = "Embed";
constexpr auto kChangeURL = "Change URL";
constexpr auto kNote = "Renders inline on the published page.";
constexpr auto kBlank = "about:blank";

// One line, elided in the middle to the width it is given.
class MiddleElidedLabel : public QLabel
{
public:
    explicit MiddleElidedLabel(const QString &text)
        : m_full(text)
    {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        setToolTip(ShownText::toolTip(text));
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        setText(fontMetrics().elidedText(m_full, Qt::ElideMiddle, width()));
    }
    QSize sizeHint() const override
    {
        return {fontMetrics().horizontalAdvance(m_full) + 2, QLabel::sizeHint().height()};
    }
    // It may shrink to a few characters; the elision shows what is left out.
    QSize minimumSizeHint() const override { return {40, QLabel::sizeHint().height()}; }

private:
    QString m_full;
};

} // namespace

namespace EmbedBlock {

Content Content::read(const JSONObject &content)
{
    return {BlockContent::readString(content, kURLKey)};
}

void Content::write(JSONObject &content) const
{
    content[kURLKey] = url;
}

QString hostLabel(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (url.isEmpty() || !parsed.isValid() || parsed.host().isEmpty())
        return QString::fromLatin1(kEmbed);
    return parsed.host().remove(QStringLiteral("www."));
}

QUrl linkTarget(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    return url.isEmpty() || !parsed.isValid() ? QUrl(QString::fromLatin1(kBlank)) : parsed;
}

BlockView *makeView(BlockHost &host)
{
    return new EmbedBlockView(host);
}

} // namespace EmbedBlock

EmbedBlockView::EmbedBlockView(BlockHost &host, QWidget *parent)
    : BlockView(host, BlockType::embed, parent)
{
    refresh();
}

void EmbedBlockView::refresh()
{
    const QString url = host().read<EmbedBlock::Content>().url;
    if (m_built && url == m_url)
        return;
    // Typing in the field is the user's own until "Embed" stores it: an address arriving from
    // elsewhere leaves it be. A field as it was given shows the new address.
    std::optional<QString> typed;
    const int caret = m_field ? m_field->cursorPosition() : -1;
    if (m_field && m_field->text() != m_url) {
        typed = m_field->text();
        m_editing = true;
    }
    m_url = url;
    m_built = true;
    rebuild();
    if (m_field && typed)
        m_field->setText(*typed);
    if (m_field && caret >= 0)
        m_field->setCursorPosition(caret);
}

void EmbedBlockView::commit()
{
    const QString url = m_field ? BlockContent::trimmedEntry(m_field->text()) : QString();
    m_editing = false;
    // The field's text is what gets stored: the refresh the write brings has nothing to keep.
    m_url = url;
    host().write(EmbedBlock::Content{url});
    // The stored address may be the same: the entry row goes all the same.
    m_url = host().read<EmbedBlock::Content>().url;
    rebuild();
    if (!m_url.isEmpty())
        host().passKeyboardOn();
}

void EmbedBlockView::toggleEditing()
{
    m_editing = !m_editing;
    rebuild();
    if (m_field)
        m_field->setFocus();
}

void EmbedBlockView::openLink()
{
    if (UrlOpener *opener = host().services().urlOpener)
        opener->openUrl(EmbedBlock::linkTarget(m_url));
}

void EmbedBlockView::rebuild()
{
    const bool hadFocus = m_field && m_field->hasFocus();
    m_field.clear();
    m_embed.clear();
    m_pencil.clear();
    m_card.clear();
    m_host.clear();
    auto *body = new QWidget;
    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    if (m_url.isEmpty() || m_editing) {
        auto *entry = new QHBoxLayout;
        entry->setSpacing(6);
        m_field = new QLineEdit(m_url); // a change starts from the stored address
        m_field->setObjectName(QStringLiteral("embedURL"));
        m_field->setPlaceholderText(QString::fromLatin1(kPlaceholder));
        entry->addWidget(m_field, 1);
        m_embed = new QPushButton(QString::fromLatin1(kEmbed));
        m_embed->setObjectName(QStringLiteral("embedButton"));
        connect(m_embed, &QPushButton::clicked, this, &EmbedBlockView::commit);
        entry->addWidget(m_embed);
        column->addLayout(entry);
    }

    if (!m_url.isEmpty()) {
        QColor fill = AppStyle::secondary(this);
        fill.setAlphaF(fill.alphaF() * 0.07);
        auto *card = new QFrame;
        card->setObjectName(QStringLiteral("embedCard"));
        card->setStyleSheet(
            QStringLiteral("#embedCard { background: %1; border-radius: 8px; }").arg(AppStyle::css(fill)));
        auto *inner = new QVBoxLayout(card);
        inner->setContentsMargins(12, 12, 12, 12);
        inner->setSpacing(4);

        auto *header = new QHBoxLayout;
        header->setSpacing(6);
        auto *play = new QLabel;
        const QIcon playIcon =
            EditorSymbols::icon(QStringLiteral("play.rectangle.fill"), AppStyle::accent(this));
        if (playIcon.isNull())
            EditorSymbols::apply(*play, QStringLiteral("play.rectangle.fill"), 16);
        else
            play->setPixmap(playIcon.pixmap(QSize(16, 16), devicePixelRatioF()));
        header->addWidget(play);
        m_host = new QLabel(EmbedBlock::hostLabel(m_url));
        m_host->setObjectName(QStringLiteral("embedHost"));
        m_host->setTextFormat(Qt::PlainText);
        m_host->setFont(AppStyle::callout());
        header->addWidget(m_host);
        header->addStretch(1);
        m_pencil = new QPushButton;
        m_pencil->setObjectName(QStringLiteral("embedPencil"));
        m_pencil->setFlat(true);
        m_pencil->setToolTip(QString::fromLatin1(kChangeURL));
        m_pencil->setCursor(Qt::PointingHandCursor);
        EditorSymbols::apply(*m_pencil, QStringLiteral("pencil"));
        connect(m_pencil, &QPushButton::clicked, this, &EmbedBlockView::toggleEditing);
        header->addWidget(m_pencil);
        inner->addLayout(header);

        const QString link = QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::accent(this)));
        auto *linkRow = new ClickableFrame([this] { openLink(); });
        linkRow->setObjectName(QStringLiteral("embedLink"));
        auto *linkLayout = new QHBoxLayout(linkRow);
        linkLayout->setContentsMargins(0, 0, 0, 0);
        linkLayout->setSpacing(6);
        auto *address = new MiddleElidedLabel(m_url);
        address->setObjectName(QStringLiteral("embedAddress"));
        QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        mono.setPointSizeF(AppStyle::caption().pointSizeF());
        address->setFont(mono);
        address->setStyleSheet(link);
        linkLayout->addWidget(address);
        auto *arrow = new QLabel;
        const QIcon arrowIcon =
            EditorSymbols::icon(QStringLiteral("arrow.up.right.square"), AppStyle::accent(this));
        if (arrowIcon.isNull())
            EditorSymbols::apply(*arrow, QStringLiteral("arrow.up.right.square"), 12);
        else
            arrow->setPixmap(arrowIcon.pixmap(QSize(12, 12), devicePixelRatioF()));
        arrow->setStyleSheet(link);
        linkLayout->addWidget(arrow);
        linkLayout->addStretch(1);
        inner->addWidget(linkRow);

        auto *note = new QLabel(QString::fromLatin1(kNote));
        QFont small = AppStyle::caption();
        small.setPointSizeF(small.pointSizeF() - 1);
        note->setFont(small);
        note->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this))));
        inner->addWidget(note);
        m_card = card;
        column->addWidget(card);
    }
    setBody(body);
    if (m_field && hadFocus)
        m_field->setFocus();
}

QLineEdit *EmbedBlockView::entryField() const
{
    return m_field;
}

QPushButton *EmbedBlockView::embedButton() const
{
    return m_embed;
}

QPushButton *EmbedBlockView::pencilButton() const
{
    return m_pencil;
}

QWidget *EmbedBlockView::card() const
{
    return m_card;
}

QString EmbedBlockView::shownHost() const
{
    return m_host ? m_host->text() : QString();
}

QWidget *EmbedBlockView::entryWidget() const
{
    return m_field;
}
