#include "blocks/breadcrumbs_block.h"

#include "blocks/block_host.h"
#include "store/local_store.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"

#include <QHBoxLayout>
#include <QLabel>

namespace {

constexpr auto kUntitled = "Untitled";

} // namespace

namespace BreadcrumbsBlock {

Trail trail(const LocalStore &store, const QString &pageLocalID)
{
    Trail t;
    const FNPage *page = store.page(pageLocalID);
    if (!page)
        return t;
    std::vector<const FNPage *> upward{page};
    QSet<qint64> seen{page->serverID};
    qint64 parent = page->parentPageServerID;
    for (int n = 0; n < kMaxAncestors && parent != 0; ++n) {
        t.parentIDs.insert(parent);
        const FNPage *ancestor = store.pageWithServerID(parent);
        if (!ancestor || seen.contains(ancestor->serverID))
            break;
        seen.insert(ancestor->serverID);
        upward.push_back(ancestor);
        parent = ancestor->parentPageServerID;
    }
    t.pages.assign(upward.rbegin(), upward.rend());
    return t;
}

QString title(const FNPage &page)
{
    return page.title.isEmpty() ? QString::fromLatin1(kUntitled) : page.title;
}

BlockView *makeView(BlockHost &host)
{
    return new BreadcrumbsBlockView(host);
}

} // namespace BreadcrumbsBlock

BreadcrumbsBlockView::BreadcrumbsBlockView(BlockHost &host, QWidget *parent)
    : BlockView(host, BlockType::breadcrumbs, parent)
{
    if (const LocalStore *store = host.store()) {
        connect(store, &LocalStore::pageChanged, this, &BreadcrumbsBlockView::onPageChanged);
        connect(store, &LocalStore::batchApplied, this, [this](const BatchChange &change) {
            for (const QString &localID : change.pages)
                onPageChanged(localID);
        });
        connect(store, &LocalStore::recordsChanged, this, &BreadcrumbsBlockView::refresh);
    }
    refresh();
}

void BreadcrumbsBlockView::onPageChanged(const QString &localID)
{
    if (m_trailIDs.contains(localID)) {
        refresh();
        return;
    }
    // A page that now answers one of the ids the walk asked for: a parent loaded, or an id learnt.
    const FNPage *page = host().store()->page(localID);
    if (page && m_parentIDs.contains(page->serverID))
        refresh();
}

void BreadcrumbsBlockView::refresh()
{
    const LocalStore *store = host().store();
    if (!store)
        return;
    const BreadcrumbsBlock::Trail t = BreadcrumbsBlock::trail(*store, host().currentBlock().pageLocalID);
    QStringList titles;
    m_trailIDs.clear();
    for (const FNPage *page : t.pages) {
        titles << BreadcrumbsBlock::title(*page);
        m_trailIDs.insert(page->localID);
    }
    m_parentIDs = t.parentIDs;
    if (m_built && titles == m_titles)
        return;
    m_titles = titles;
    m_built = true;
    rebuild();
}

void BreadcrumbsBlockView::rebuild()
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(6);
    const QString secondary = QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this)));
    auto *house = new QLabel;
    EditorSymbols::apply(*house, QStringLiteral("house"), 13);
    house->setStyleSheet(secondary);
    layout->addWidget(house);
    for (qsizetype i = 0; i < m_titles.size(); ++i) {
        const bool last = i == m_titles.size() - 1;
        auto *title = new QLabel(m_titles[i]);
        title->setObjectName(QStringLiteral("crumb"));
        title->setTextFormat(Qt::PlainText);
        title->setFont(AppStyle::caption());
        if (!last)
            title->setStyleSheet(secondary);
        layout->addWidget(title);
        if (!last) {
            auto *chevron = new QLabel;
            EditorSymbols::apply(*chevron, QStringLiteral("chevron.right"), 9);
            chevron->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this))));
            layout->addWidget(chevron);
        }
    }
    layout->addStretch(1);
    setBody(row);
}
