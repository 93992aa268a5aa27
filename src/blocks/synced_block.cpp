#include "blocks/synced_block.h"

#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "store/local_store.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kTextKey = QStringLiteral("text");
constexpr auto kPlaceholder = "Search a block to mirror…";
constexpr auto kEmpty = "(empty)";
constexpr auto kDeleted = "Synced source was deleted";
constexpr auto kUnlink = "Unlink";
constexpr auto kRelink = "Re-link";
constexpr auto kUntitled = "Untitled";

QColor faded(const QColor &color, qreal opacity)
{
    QColor c = color;
    c.setAlphaF(c.alphaF() * opacity);
    return c;
}

QPushButton *borderless(const QString &text, const QFont &font)
{
    auto *button = new QPushButton(text);
    button->setFlat(true);
    button->setFont(font);
    button->setCursor(Qt::PointingHandCursor);
    // As wide as its word: a flat button's usual minimum leaves a gap after the text before it.
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0 2px; }"));
    return button;
}

QFont smallest()
{
    QFont font = AppStyle::caption();
    font.setPointSizeF(font.pointSizeF() - 1);
    return font;
}

} // namespace

namespace SyncedBlock {

const FNBlock *source(const LocalStore &store, qint64 sourceServerID)
{
    return store.liveBlockWithServerID(sourceServerID);
}

QString blockPreviewText(const FNBlock &block)
{
    return BlockContent::readString(BlockContent::decode(block.contentJSON), kTextKey);
}

QString pageTitle(const LocalStore &store, const FNBlock &block)
{
    const FNPage *page = store.page(block.pageLocalID);
    return page ? page->title : QString::fromLatin1(kUntitled);
}

bool isSearchable(const QString &type)
{
    static const QSet<QString> kinds{"text",   "h1",   "h2",    "h3",      "bullet",
                                     "number", "todo", "quote", "callout", "code"};
    return kinds.contains(type);
}

size_t searchSlice(const LocalStore &store, const QString &query, size_t from, size_t count,
                   std::vector<const FNBlock *> &found)
{
    const auto &blocks = store.state().blocks;
    const size_t end = std::min(blocks.size(), from + count);
    size_t i = from;
    for (; i < end && found.size() < size_t(kMaxResults); ++i) {
        const FNBlock &block = blocks[i];
        if (block.deletedAt || block.serverID == 0 || !isSearchable(block.type))
            continue;
        // Decoding every block would cost dearly: the stored text must hold the query as it is,
        // unless an escape could be hiding it.
        if (!block.contentJSON.contains(query, Qt::CaseInsensitive) &&
            !block.contentJSON.contains(QLatin1Char('\\')))
            continue;
        if (blockPreviewText(block).contains(query, Qt::CaseInsensitive))
            found.push_back(&block);
    }
    return found.size() == size_t(kMaxResults) ? blocks.size() : i;
}

std::vector<const FNBlock *> searchResults(const LocalStore &store, const QString &query)
{
    std::vector<const FNBlock *> found;
    if (!query.isEmpty())
        searchSlice(store, query, 0, store.state().blocks.size(), found);
    return found;
}

BlockView *makeView(BlockHost &host)
{
    return new SyncedBlockView(host);
}

} // namespace SyncedBlock

SyncedBlockView::SyncedBlockView(BlockHost &host, QWidget *parent)
    : BlockView(host, BlockType::synced, parent)
{
    m_searchSlices.setSingleShot(true);
    m_searchSlices.setInterval(0);
    connect(&m_searchSlices, &QTimer::timeout, this, &SyncedBlockView::searchNextSlice);
    if (const LocalStore *store = host.store()) {
        connect(store, &LocalStore::blockChanged, this, &SyncedBlockView::onBlockChanged);
        connect(store, &LocalStore::pageChanged, this, &SyncedBlockView::onPageChanged);
        connect(store, &LocalStore::batchApplied, this, [this](const BatchChange &change) {
            for (const QString &localID : change.pages)
                onPageChanged(localID);
            for (const QString &localID : change.blocks)
                onBlockChanged(localID);
        });
        connect(store, &LocalStore::recordsChanged, this, [this] {
            // A search keeps what the user typed and starts over on the new records.
            if (m_state == State::Search && m_field && m_built) {
                refresh();
                startSearch();
                return;
            }
            m_built = false;
            refresh();
        });
    }
    refresh();
}

void SyncedBlockView::startSearch()
{
    m_query = m_field ? m_field->text() : QString();
    m_searchFrom = 0;
    m_found.clear();
    if (m_query.isEmpty()) {
        m_searchSlices.stop();
        showResults();
        return;
    }
    searchNextSlice();
}

void SyncedBlockView::searchNextSlice()
{
    const LocalStore *store = host().store();
    if (!store)
        return;
    std::vector<const FNBlock *> found;
    for (const QString &id : std::as_const(m_found)) {
        if (const FNBlock *b = store->block(id))
            found.push_back(b);
    }
    const size_t before = found.size();
    m_searchFrom = SyncedBlock::searchSlice(*store, m_query, m_searchFrom, SyncedBlock::kSliceBlocks, found);
    for (size_t i = before; i < found.size(); ++i)
        m_found << found[i]->localID;
    if (m_searchFrom < store->state().blocks.size()) {
        m_searchSlices.start();
        return;
    }
    showResults();
}

void SyncedBlockView::onBlockChanged(const QString &localID)
{
    if (m_state == State::Search) {
        if (m_resultIDs.contains(localID))
            startSearch();
        return;
    }
    const FNBlock *block = host().store()->block(localID);
    if (localID == m_sourceLocalID || (block && block->serverID == m_target))
        refresh();
}

void SyncedBlockView::onPageChanged(const QString &localID)
{
    if (m_state == State::Linked && localID == m_sourcePageLocalID)
        refresh();
}

void SyncedBlockView::refresh()
{
    const LocalStore *store = host().store();
    if (!store)
        return;
    const qint64 target = host().read<SyncedBlock::Content>().serverID;
    const FNBlock *source = target == 0 ? nullptr : SyncedBlock::source(*store, target);
    const State state = target == 0 ? State::Search : source ? State::Linked : State::Broken;
    if (m_built && state == m_state && target == m_target) {
        if (state != State::Linked)
            return;
        // Only the texts change: the widgets stay.
        const QString preview = SyncedBlock::blockPreviewText(*source);
        m_sourceLocalID = source->localID;
        m_sourcePageLocalID = source->pageLocalID;
        if (m_preview)
            m_preview->setText(preview.isEmpty() ? QString::fromLatin1(kEmpty) : preview);
        if (m_line)
            m_line->setText(QStringLiteral("Synced from “%1”").arg(SyncedBlock::pageTitle(*store, *source)));
        return;
    }
    m_built = true;
    m_state = state;
    m_target = target;
    rebuild(source);
}

void SyncedBlockView::rebuild(const FNBlock *source)
{
    const LocalStore *store = host().store();
    m_field.clear();
    m_results.clear();
    m_searchSlices.stop();
    m_found.clear();
    m_preview.clear();
    m_line.clear();
    m_resultIDs.clear();
    m_sourceLocalID = source ? source->localID : QString();
    m_sourcePageLocalID = source ? source->pageLocalID : QString();

    const QColor accent = AppStyle::accent(this);
    auto *frame = new QFrame;
    frame->setObjectName(QStringLiteral("syncedFrame"));
    frame->setStyleSheet(
        QStringLiteral("#syncedFrame { background: %1; border: 1px solid %2; border-radius: 6px; }")
            .arg(AppStyle::css(faded(accent, 0.06)), AppStyle::css(faded(accent, 0.3))));
    auto *row = new QHBoxLayout(frame);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(8);
    auto *symbol = new QLabel;
    const QIcon icon = EditorSymbols::icon(QStringLiteral("arrow.triangle.2.circlepath"), accent);
    if (icon.isNull())
        EditorSymbols::apply(*symbol, QStringLiteral("arrow.triangle.2.circlepath"), 14);
    else
        symbol->setPixmap(icon.pixmap(QSize(14, 14), devicePixelRatioF()));
    row->addWidget(symbol, 0, Qt::AlignTop);

    auto *column = new QVBoxLayout;
    column->setSpacing(4);
    const QString tertiary = QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this)));
    switch (m_state) {
    case State::Linked: {
        const QString preview = SyncedBlock::blockPreviewText(*source);
        m_preview = new QLabel(preview.isEmpty() ? QString::fromLatin1(kEmpty) : preview);
        m_preview->setObjectName(QStringLiteral("syncedPreview"));
        m_preview->setTextFormat(Qt::PlainText);
        m_preview->setWordWrap(true);
        column->addWidget(m_preview);
        auto *line = new QHBoxLayout;
        line->setSpacing(6);
        m_line = new QLabel(QStringLiteral("Synced from “%1”").arg(SyncedBlock::pageTitle(*store, *source)));
        m_line->setObjectName(QStringLiteral("syncedFrom"));
        m_line->setTextFormat(Qt::PlainText);
        m_line->setFont(smallest());
        m_line->setStyleSheet(tertiary);
        line->addWidget(m_line);
        auto *unlink = borderless(QString::fromLatin1(kUnlink), smallest());
        unlink->setObjectName(QStringLiteral("unlink"));
        connect(unlink, &QPushButton::clicked, this, [this] { pick(0); });
        line->addWidget(unlink);
        line->addStretch(1);
        column->addLayout(line);
        break;
    }
    case State::Broken: {
        auto *line = new QHBoxLayout;
        auto *text = new QLabel(QString::fromLatin1(kDeleted));
        QFont italic = text->font();
        italic.setItalic(true);
        text->setFont(italic);
        text->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
        line->addWidget(text);
        line->addStretch(1);
        auto *relink = borderless(QString::fromLatin1(kRelink), AppStyle::caption());
        relink->setObjectName(QStringLiteral("relink"));
        connect(relink, &QPushButton::clicked, this, [this] { pick(0); });
        line->addWidget(relink);
        column->addLayout(line);
        break;
    }
    case State::Search: {
        m_field = new QLineEdit;
        m_field->setObjectName(QStringLiteral("syncedQuery"));
        m_field->setFrame(false);
        m_field->setStyleSheet(QStringLiteral("background: transparent;"));
        m_field->setPlaceholderText(QString::fromUtf8(kPlaceholder));
        connect(m_field, &QLineEdit::textEdited, this, &SyncedBlockView::startSearch);
        column->addWidget(m_field);
        m_results = new QWidget;
        auto *results = new QVBoxLayout(m_results);
        results->setContentsMargins(0, 0, 0, 0);
        results->setSpacing(0);
        m_results->hide();
        column->addWidget(m_results);
        break;
    }
    }
    row->addLayout(column, 1);
    setBody(frame);
}

void SyncedBlockView::showResults()
{
    const LocalStore *store = host().store();
    if (!store || !m_results || !m_field)
        return;
    auto *layout = static_cast<QVBoxLayout *>(m_results->layout());
    while (QLayoutItem *item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_resultIDs.clear();
    std::vector<const FNBlock *> found;
    for (const QString &id : std::as_const(m_found)) {
        if (const FNBlock *b = store->block(id))
            found.push_back(b);
    }
    for (const FNBlock *block : found) {
        m_resultIDs.insert(block->localID);
        auto *button = new QPushButton;
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::PointingHandCursor);
        button->setStyleSheet(QStringLiteral("QPushButton { text-align: left; border: none; }"));
        auto *inner = new QHBoxLayout(button);
        inner->setContentsMargins(8, 4, 8, 4);
        const QString preview = SyncedBlock::blockPreviewText(*block);
        auto *text = new QLabel(preview.isEmpty() ? QString::fromLatin1(kEmpty)
                                                  : preview.section(QLatin1Char('\n'), 0, 0));
        text->setTextFormat(Qt::PlainText);
        text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        inner->addWidget(text, 1);
        auto *page = new QLabel(SyncedBlock::pageTitle(*store, *block));
        page->setTextFormat(Qt::PlainText);
        page->setFont(smallest());
        page->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this))));
        inner->addWidget(page);
        button->setAccessibleName(preview);
        button->setMinimumHeight(inner->sizeHint().height());
        connect(button, &QPushButton::clicked, this, [this, id = block->serverID] { pick(id); });
        layout->addWidget(button);
        button->show(); // into a list already on screen: shown now, so it is measured now
    }
    m_results->setVisible(!found.empty());
}

void SyncedBlockView::pick(qint64 serverID)
{
    if (m_field)
        m_field->clear();
    host().write(SyncedBlock::Content{serverID});
    if (serverID != 0)
        host().passKeyboardOn();
}

QLineEdit *SyncedBlockView::searchField() const
{
    return m_field;
}

QList<QAbstractButton *> SyncedBlockView::resultButtons() const
{
    if (!m_results || m_results->isHidden())
        return {};
    return m_results->findChildren<QAbstractButton *>();
}

QString SyncedBlockView::previewText() const
{
    return m_preview ? m_preview->text() : QString();
}

QString SyncedBlockView::sourceLine() const
{
    return m_line ? m_line->text() : QString();
}

QWidget *SyncedBlockView::entryWidget() const
{
    return m_field;
}
