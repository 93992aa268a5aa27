#include "blocks/mention_block.h"

#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "blocks/record_link.h"
#include "store/local_store.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"
#include "ui/shown_text.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr auto kPlaceholder = "Type to find a page...";
constexpr auto kMissing = "Linked page was deleted";
constexpr auto kRelink = "Re-link";
constexpr auto kUntitled = "Untitled";
constexpr auto kPageIcon = "\U0001F4C4";
constexpr int kResultsOffset = 32;

QColor faded(const QColor &color, qreal opacity)
{
    QColor c = color;
    c.setAlphaF(c.alphaF() * opacity);
    return c;
}

} // namespace

namespace MentionBlock {

Content Content::read(const JSONObject &content)
{
    Content link{RecordLink<kPageIDKey>::read(content).serverID, {}};
    if (link.serverID == 0)
        link.pageLocalID = BlockContent::readString(content, QString::fromLatin1(kPageLocalIDKey));
    return link;
}

void Content::write(JSONObject &content) const
{
    RecordLink<kPageIDKey>{serverID}.write(content);
    if (serverID == 0 && !pageLocalID.isEmpty())
        content[QString::fromLatin1(kPageLocalIDKey)] = pageLocalID;
    else
        content.erase(QString::fromLatin1(kPageLocalIDKey));
}

const FNPage *targetPage(const LocalStore &store, const Content &content)
{
    if (content.serverID != 0)
        return store.pageWithServerID(content.serverID);
    // Another device's local id names no page here.
    return content.pageLocalID.isEmpty() ? nullptr : store.page(content.pageLocalID);
}

std::vector<const FNPage *> searchResults(const LocalStore &store, const QString &query)
{
    std::vector<const FNPage *> found;
    if (query.isEmpty())
        return found;
    for (const FNPage &page : store.state().pages) {
        if (page.deletedAt || !page.title.contains(query, Qt::CaseInsensitive))
            continue;
        found.push_back(&page);
        if (found.size() == size_t(kMaxResults))
            break;
    }
    return found;
}

QString chipText(const FNPage &page)
{
    const QString icon = page.icon.isEmpty() ? QString::fromUtf8(kPageIcon) : page.icon;
    const QString title = page.title.isEmpty() ? QString::fromLatin1(kUntitled) : page.title;
    return icon + QLatin1Char(' ') + title;
}

BlockView *makeView(BlockHost &host)
{
    return new MentionBlockView(host);
}

} // namespace MentionBlock

MentionBlockView::MentionBlockView(BlockHost &host, QWidget *parent)
    : BlockView(host, BlockType::mention, parent)
{
    if (const LocalStore *store = host.store()) {
        connect(store, &LocalStore::pageChanged, this, &MentionBlockView::onPageChanged);
        connect(store, &LocalStore::batchApplied, this, [this](const BatchChange &change) {
            for (const QString &localID : change.pages)
                onPageChanged(localID);
        });
        connect(store, &LocalStore::recordsChanged, this, [this] {
            // A search keeps what the user typed; its list follows the new records.
            if (m_state == State::Search && m_field && m_built) {
                refresh();
                if (m_results && m_results->isVisible())
                    showResults();
                return;
            }
            m_built = false;
            refresh();
        });
    }
    refresh();
}

MentionBlockView::~MentionBlockView()
{
    delete m_results;
}

void MentionBlockView::onPageChanged(const QString &localID)
{
    const LocalStore *store = host().store();
    if (m_state == State::Search) {
        if (m_results)
            showResults();
        return;
    }
    // The chip's own page, or one that now carries (or shares) the linked id.
    const FNPage *page = store->page(localID);
    if (localID == m_shownPage || (page && page->serverID == m_target)) {
        m_built = false;
        refresh();
    }
}

void MentionBlockView::refresh()
{
    const LocalStore *store = host().store();
    if (!store)
        return;
    MentionBlock::Content link = host().read<MentionBlock::Content>();
    const FNPage *target = MentionBlock::targetPage(*store, link);
    if (link.serverID == 0 && target && target->serverID != 0) {
        // The page picked before it reached the service has its id now: the link keeps that, and
        // the edit goes out like any other.
        const MentionBlock::Content resolved{target->serverID, {}};
        if (host().write(resolved)) {
            link = resolved;
            target = MentionBlock::targetPage(*store, link);
        }
    }
    const FNPage *page = target && !target->deletedAt ? target : nullptr;
    const State state = link.serverID == 0 && !target ? State::Search : page ? State::Linked : State::Missing;
    if (m_built && state == m_state && link.serverID == m_target &&
        (state != State::Linked ||
         (page->localID == m_shownPage && m_chip && m_chip->text() == MentionBlock::chipText(*page))))
        return;
    m_built = true;
    m_state = state;
    m_target = link.serverID;
    m_shownPage = page ? page->localID : QString();
    hideResults();
    m_field.clear();
    m_chip.clear();
    switch (state) {
    case State::Search:
        setBody(makeSearch());
        break;
    case State::Linked:
        setBody(makeChip(*page));
        break;
    case State::Missing:
        setBody(makeMissing());
        break;
    }
}

QWidget *MentionBlockView::makeSearch()
{
    auto *row = new QFrame;
    row->setObjectName(QStringLiteral("mentionSearch"));
    row->setStyleSheet(QStringLiteral("#mentionSearch { background: %1; border-radius: 5px; }")
                           .arg(AppStyle::css(faded(AppStyle::secondary(this), 0.08))));
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(6);
    auto *at = new QLabel;
    EditorSymbols::apply(*at, QStringLiteral("at"), 14);
    at->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    layout->addWidget(at);
    m_field = new QLineEdit;
    m_field->setObjectName(QStringLiteral("mentionQuery"));
    m_field->setFrame(false);
    m_field->setPlaceholderText(QString::fromLatin1(kPlaceholder));
    m_field->setStyleSheet(QStringLiteral("background: transparent;"));
    m_field->installEventFilter(this);
    connect(m_field, &QLineEdit::textEdited, this, &MentionBlockView::showResults);
    layout->addWidget(m_field, 1);
    return row;
}

QWidget *MentionBlockView::makeChip(const FNPage &page)
{
    m_chip = ShownText::label(MentionBlock::chipText(page));
    m_chip->setObjectName(QStringLiteral("mentionChip"));
    QFont font = m_chip->font();
    font.setUnderline(true);
    m_chip->setFont(font);
    m_chip->setStyleSheet(
        QStringLiteral("color: %1; padding: 2px 0;").arg(AppStyle::css(AppStyle::accent(this))));
    return m_chip;
}

QWidget *MentionBlockView::makeMissing()
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(6);
    auto *warning = new QLabel;
    const QColor orange(0xf0, 0x90, 0x0a);
    const QIcon icon = EditorSymbols::icon(QStringLiteral("exclamationmark.triangle"), orange);
    if (icon.isNull())
        EditorSymbols::apply(*warning, QStringLiteral("exclamationmark.triangle"), 14);
    else
        warning->setPixmap(icon.pixmap(QSize(14, 14), devicePixelRatioF()));
    warning->setStyleSheet(QStringLiteral("color: %1;").arg(orange.name()));
    layout->addWidget(warning);
    auto *text = new QLabel(QString::fromLatin1(kMissing));
    QFont italic = text->font();
    italic.setItalic(true);
    text->setFont(italic);
    text->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    layout->addWidget(text);
    auto *relink = new QPushButton(QString::fromLatin1(kRelink));
    relink->setObjectName(QStringLiteral("relink"));
    relink->setFlat(true);
    relink->setFont(AppStyle::caption());
    relink->setCursor(Qt::PointingHandCursor);
    relink->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0 2px; }"));
    connect(relink, &QPushButton::clicked, this, [this] { pick({}); });
    layout->addWidget(relink);
    layout->addStretch(1);
    return row;
}

void MentionBlockView::pick(const MentionBlock::Content &link)
{
    hideResults();
    if (m_field)
        m_field->clear();
    host().write(link);
    if (link.serverID != 0 || !link.pageLocalID.isEmpty())
        host().passKeyboardOn();
}

void MentionBlockView::showResults()
{
    const LocalStore *store = host().store();
    if (!store || !m_field || !m_field->hasFocus() || !window()) {
        hideResults();
        return;
    }
    const auto found = MentionBlock::searchResults(*store, m_field->text());
    if (found.empty()) {
        hideResults();
        return;
    }
    if (!m_results) {
        // Over whatever lies below, without moving it: a child of the window, raised.
        m_results = new QFrame(window());
        m_results->setObjectName(QStringLiteral("mentionResults"));
        m_results->setStyleSheet(
            QStringLiteral(
                "#mentionResults { background: palette(base); border: 1px solid %1; border-radius: 6px; }"
                "#mentionResults QPushButton { text-align: left; padding: 4px 8px; border: none; }"
                "#mentionResults QPushButton:hover { background: %2; border-radius: 4px; }")
                .arg(AppStyle::css(faded(AppStyle::secondary(this), 0.35)),
                     AppStyle::css(faded(AppStyle::accent(this), 0.15))));
        new QVBoxLayout(m_results);
        for (QWidget *w = parentWidget(); w && w != window(); w = w->parentWidget())
            w->installEventFilter(this);
    }
    auto *layout = static_cast<QVBoxLayout *>(m_results->layout());
    while (QLayoutItem *item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(2);
    for (const FNPage *page : found) {
        auto *button = new QPushButton(ShownText::mnemonicSafe(MentionBlock::chipText(*page)));
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::PointingHandCursor);
        // A page not on the service yet is linked by its local id until it has its server id.
        MentionBlock::Content link{page->serverID, page->serverID == 0 ? page->localID : QString()};
        connect(button, &QPushButton::clicked, this, [this, link] { pick(link); });
        layout->addWidget(button);
        button->show(); // into a list already on screen: shown now, so it is measured now
    }
    const QWidget *row = m_field->parentWidget();
    // Measured with their style sheet applied, or the list comes out too short for them.
    m_results->ensurePolished();
    for (QWidget *button : m_results->findChildren<QWidget *>())
        button->ensurePolished();
    layout->invalidate();
    layout->activate();
    const QSize hint = m_results->sizeHint(); // with the border
    m_results->resize(std::max(row->width(), hint.width()), hint.height());
    QPoint at = row->mapTo(window(), QPoint(0, kResultsOffset));
    // Near the window's bottom edge the list opens above the field instead.
    const int above = row->mapTo(window(), QPoint(0, 0)).y() - m_results->height() - 4;
    if (at.y() + m_results->height() > window()->height() && above >= 0)
        at.setY(above);
    m_results->move(at);
    m_results->show();
    m_results->raise();
}

void MentionBlockView::hideResults()
{
    if (m_results)
        m_results->hide();
}

QList<QAbstractButton *> MentionBlockView::resultButtons() const
{
    if (!m_results || !m_results->isVisible())
        return {};
    return m_results->findChildren<QAbstractButton *>();
}

QLineEdit *MentionBlockView::searchField() const
{
    return m_field;
}

QString MentionBlockView::chipLabel() const
{
    return m_chip ? m_chip->text() : QString();
}

bool MentionBlockView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field) {
        if (event->type() == QEvent::FocusOut)
            hideResults();
        else if (event->type() == QEvent::FocusIn)
            showResults();
        else if (event->type() == QEvent::KeyPress &&
                 static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
            hideResults();
    } else if (m_results && m_results->isVisible() &&
               (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
        // The page scrolled or laid out anew under the list.
        showResults();
    }
    return BlockView::eventFilter(watched, event);
}

QWidget *MentionBlockView::entryWidget() const
{
    return m_field;
}
