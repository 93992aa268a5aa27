#include "blocks/toc_block.h"

#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "json/json_value.h"
#include "store/local_store.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr auto kContents = "Contents";
constexpr auto kEmpty = "Add headings (Heading 1/2/3) to see them here.";
constexpr auto kUntitledHeading = "Untitled heading";
const QString kTextKey = QStringLiteral("text");

} // namespace

namespace TocBlock {

bool isHeading(const QString &type)
{
    return type == QLatin1String("h1") || type == QLatin1String("h2") || type == QLatin1String("h3");
}

int indent(const QString &type)
{
    if (type == QLatin1String("h2"))
        return 14;
    if (type == QLatin1String("h3"))
        return 28;
    return 0;
}

std::vector<const FNBlock *> headings(const LocalStore &store, const QString &pageLocalID)
{
    std::vector<const FNBlock *> found;
    for (const FNBlock *block : store.blocksOfPage(pageLocalID)) {
        if (!block->deletedAt && isHeading(block->type))
            found.push_back(block);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const FNBlock *a, const FNBlock *b) { return listedBefore(*a, *b); });
    return found;
}

QString headingText(const FNBlock &block)
{
    const JSONObject content = BlockContent::decode(block.contentJSON);
    const auto text = BlockContent::readOptionalString(content, kTextKey);
    return text ? *text : QString::fromLatin1(kUntitledHeading);
}

std::vector<Entry> entries(const LocalStore &store, const QString &pageLocalID)
{
    std::vector<Entry> rows;
    for (const FNBlock *block : headings(store, pageLocalID))
        rows.push_back({block->localID, headingText(*block), indent(block->type)});
    return rows;
}

BlockView *makeView(BlockHost &host)
{
    return new TocBlockView(host);
}

} // namespace TocBlock

TocBlockView::TocBlockView(BlockHost &host, QWidget *parent)
    : BlockView(host, BlockType::toc, parent)
{
    if (const LocalStore *store = host.store()) {
        connect(store, &LocalStore::blockChanged, this, &TocBlockView::onBlockChanged);
        connect(store, &LocalStore::recordsChanged, this, &TocBlockView::refresh);
        connect(store, &LocalStore::batchApplied, this, [this](const BatchChange &change) {
            if (change.touchesBlocksOf(m_pageLocalID) ||
                change.touchesBlock(this->host().currentBlock().localID))
                refresh();
        });
    }
    refresh();
}

void TocBlockView::onBlockChanged(const QString &localID)
{
    if (localID == host().currentBlock().localID) {
        refresh();
        return;
    }
    // A heading of this page, or a row shown here that may have stopped being one.
    const FNBlock *block = host().store()->block(localID);
    const bool heading = block && block->pageLocalID == m_pageLocalID && TocBlock::isHeading(block->type);
    const bool listed = std::any_of(m_shown.begin(), m_shown.end(),
                                    [&](const TocBlock::Entry &e) { return e.localID == localID; });
    if (heading || listed)
        refresh();
}

void TocBlockView::refresh()
{
    const LocalStore *store = host().store();
    if (!store)
        return;
    m_pageLocalID = host().currentBlock().pageLocalID;
    std::vector<TocBlock::Entry> rows = TocBlock::entries(*store, m_pageLocalID);
    if (m_built && rows == m_shown)
        return;
    // Only labels changed (typing in a heading): they change in place.
    const bool sameRows =
        m_built && rows.size() == m_shown.size() && !rows.empty() &&
        std::equal(rows.begin(), rows.end(), m_shown.begin(), [](const auto &a, const auto &b) {
            return a.localID == b.localID && a.indent == b.indent;
        });
    if (sameRows && m_labels.size() == qsizetype(rows.size())) {
        for (size_t i = 0; i < rows.size(); ++i) {
            if (m_labels[qsizetype(i)] && rows[i].label != m_shown[i].label)
                m_labels[qsizetype(i)]->setText(rows[i].label);
        }
        m_shown = std::move(rows);
        return;
    }
    m_shown = std::move(rows);
    m_built = true;
    rebuild();
}

void TocBlockView::rebuild()
{
    QColor fill = AppStyle::secondary(this);
    fill.setAlphaF(fill.alphaF() * 0.05);
    m_labels.clear();
    auto *box = new QFrame;
    box->setObjectName(QStringLiteral("tocBox"));
    box->setStyleSheet(
        QStringLiteral("#tocBox { background: %1; border-radius: 6px; }").arg(AppStyle::css(fill)));
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(6);

    const QString secondary = QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this)));
    const QString tertiary = QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this)));
    auto *header = new QHBoxLayout;
    header->setSpacing(6);
    auto *symbol = new QLabel;
    EditorSymbols::apply(*symbol, QStringLiteral("list.bullet.indent"), 14);
    symbol->setStyleSheet(secondary);
    header->addWidget(symbol);
    auto *title = new QLabel(QString::fromLatin1(kContents));
    title->setFont(AppStyle::caption());
    title->setStyleSheet(secondary);
    header->addWidget(title);
    header->addStretch(1);
    column->addLayout(header);

    if (m_shown.empty()) {
        auto *empty = new QLabel(QString::fromLatin1(kEmpty));
        empty->setObjectName(QStringLiteral("tocEmpty"));
        empty->setFont(AppStyle::callout());
        empty->setStyleSheet(tertiary);
        empty->setWordWrap(true);
        column->addWidget(empty);
    }
    for (const TocBlock::Entry &entry : m_shown) {
        auto *row = new QHBoxLayout;
        row->setContentsMargins(entry.indent, 0, 0, 0);
        row->setSpacing(4);
        auto *bullet = new QLabel(QStringLiteral("\u2022"));
        bullet->setStyleSheet(tertiary);
        row->addWidget(bullet);
        auto *label = new QLabel(entry.label);
        m_labels << label;
        label->setObjectName(QStringLiteral("tocEntry"));
        label->setTextFormat(Qt::PlainText);
        label->setFont(AppStyle::callout());
        label->setWordWrap(true);
        row->addWidget(label, 1);
        column->addLayout(row);
    }
    setBody(box);
}
