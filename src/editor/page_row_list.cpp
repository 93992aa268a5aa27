#include "editor/page_row_list.h"

#include "editor/block_row.h"

#include <QElapsedTimer>
#include <QSet>
#include <QVBoxLayout>

PageRowList::PageRowList(Source source, Factory factory, int spacing, QWidget *parent, int firstBatch)
    : QWidget(parent)
    , m_source(std::move(source))
    , m_factory(std::move(factory))
    , m_firstBatch(std::max(1, firstBatch))
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(spacing);
    m_continue.setSingleShot(true);
    connect(&m_continue, &QTimer::timeout, this, &PageRowList::refresh);
}

void PageRowList::refresh()
{
    const std::vector<FNBlock> blocks = m_source();
    QSet<QString> wanted;
    wanted.reserve(qsizetype(blocks.size()));
    for (const FNBlock &block : blocks)
        wanted.insert(block.localID);
    for (const QString &localID : std::vector<QString>(m_order)) {
        if (!wanted.contains(localID))
            remove(localID);
    }

    // Until the first rows are in, a screenful; after that, what fits in one turn (at least a row).
    const bool wasMissing = m_missing > 0;
    const bool first = m_entries.isEmpty();
    int made = 0;
    QElapsedTimer turn;
    turn.start();
    const auto full = [&] {
        return first ? made >= m_firstBatch : made > 0 && turn.elapsed() >= kTurnBudget.count();
    };
    int missing = 0;
    std::vector<QString> ids;
    ids.reserve(blocks.size());
    for (const FNBlock &block : blocks) {
        auto it = m_entries.find(block.localID);
        if (it == m_entries.end()) {
            if (full()) {
                ++missing;
                continue;
            }
            ++made;
            m_entries.insert(block.localID, m_factory(block));
        }
        ids.push_back(block.localID);
    }

    // Shown with the layout switched off, and laid out once after: each row shown into a live
    // layout lays out every row again, which costs the square of the page's length.
    bool changed = false;
    m_layout->setEnabled(false);
    for (const QString &localID : ids) {
        const Entry &entry = m_entries[localID];
        if (!entry.placed) {
            entry.frame->setParent(this);
            entry.frame->show();
        }
    }
    for (int at = 0; at < int(ids.size()); ++at) {
        Entry *entry = &m_entries[ids[size_t(at)]];
        QLayoutItem *item = m_layout->itemAt(at);
        if (!item || item->widget() != entry->frame) {
            m_layout->removeWidget(entry->frame);
            m_layout->insertWidget(at, entry->frame);
            changed = true;
        }
        entry->placed = true;
    }
    m_layout->setEnabled(true);
    if (changed)
        m_layout->invalidate();
    m_order = std::move(ids);
    m_missing = missing;
    if (missing > 0)
        m_continue.start(0);
    else if (wasMissing)
        Q_EMIT completed();
}

BlockRow *PageRowList::row(const QString &localID) const
{
    const auto it = m_entries.constFind(localID);
    return it == m_entries.cend() ? nullptr : it->row;
}

QWidget *PageRowList::frame(const QString &localID) const
{
    const auto it = m_entries.constFind(localID);
    return it == m_entries.cend() ? nullptr : it->frame;
}

std::vector<BlockRow *> PageRowList::rows() const
{
    std::vector<BlockRow *> rows;
    rows.reserve(m_order.size());
    for (const QString &localID : m_order)
        rows.push_back(m_entries.value(localID).row);
    return rows;
}

void PageRowList::updateRows(const std::function<void(BlockRow *)> &update)
{
    m_layout->setEnabled(false);
    for (const QString &localID : m_order)
        update(m_entries.value(localID).row);
    m_layout->setEnabled(true);
    m_layout->invalidate();
}

void PageRowList::flushRows()
{
    for (const auto &entry : std::as_const(m_entries)) {
        // Only a waiting commit: writing every row's text again would stamp every block of the
        // page, and would put back text a pull replaced after the user's last commit.
        if (entry.row->model().hasPendingCommit())
            entry.row->flushText();
    }
}

void PageRowList::remove(const QString &localID)
{
    discard(m_entries.take(localID));
    std::erase(m_order, localID);
}

void PageRowList::discard(const Entry &entry)
{
    if (!entry.frame)
        return;
    if (entry.row->model().hasPendingCommit())
        entry.row->flushText();
    // The row may be the one whose key press deleted its block: it goes after this event.
    entry.frame->hide();
    m_layout->removeWidget(entry.frame);
    entry.frame->deleteLater();
}
