#include "editor/page_row_list.h"

#include "editor/block_row.h"

#include <QSet>
#include <QSpacerItem>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Moves the rows in an order where none is moved onto a row still to move: the window system can
// then shift a row's pixels rather than paint it again (a row moved under a later sibling counts
// as covered). Qt picks the order by whether the list's own rectangle grew; a row growing or
// shrinking in a list not yet resized moves the rows below it down or up all the same.
class RowLayout : public QVBoxLayout
{
public:
    RowLayout(QWidget *parent, int &placing)
        : QVBoxLayout(parent)
        , m_placing(placing)
    {
    }

    void setGeometry(const QRect &rect) override
    {
        const int content = sizeHint().height();
        // Rows never squeezed: in a list not yet as tall as its rows, the last ones lie past its edge
        // until it grows, rather than the tallest rows above giving up the room.
        QRect placed = rect;
        placed.setHeight(std::max(rect.height(), content));
        // The box places from the bottom up when the rectangle's bottom went down.
        if (m_content >= 0 && content != m_content)
            QLayout::setGeometry(placed.adjusted(0, 0, 0, content > m_content ? -1 : 1));
        m_content = content;
        ++m_placing;
        QVBoxLayout::setGeometry(placed);
        --m_placing;
    }

private:
    int m_content = -1;
    int &m_placing;
};

} // namespace

PageRowList::PageRowList(Source source, Factory factory, int spacing, QWidget *parent, Estimate estimate)
    : QWidget(parent)
    , m_source(std::move(source))
    , m_factory(std::move(factory))
    , m_estimate(std::move(estimate))
    , m_layout(new RowLayout(this, m_placing))
    , m_end(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(spacing);
    // A row that shrinks asks the list to lay out before the list is given its new height: the
    // room it leaves would otherwise be shared out over the rows, moving those above it down and
    // back, and the page's whole view with them.
    m_layout->addItem(m_end);
    // Growing at its end leaves what it shows where it was: its rows move themselves.
    setAttribute(Qt::WA_StaticContents);
}

void PageRowList::refresh()
{
    const std::vector<FNBlock> blocks = m_source();
    ++m_reads;
    QSet<QString> wanted;
    wanted.reserve(qsizetype(blocks.size()));
    for (const FNBlock &block : blocks)
        wanted.insert(block.localID);
    for (const QString &localID : std::vector<QString>(m_order)) {
        if (!wanted.contains(localID))
            remove(localID);
    }

    // New blocks get their item first, out of the layout; the layout then takes every item in order.
    std::vector<QString> ids;
    ids.reserve(blocks.size());
    std::vector<QWidget *> shown;
    for (const FNBlock &block : blocks) {
        ids.push_back(block.localID);
        if (m_items.contains(block.localID)) {
            if (const auto waiting = m_waiting.find(block.localID); waiting != m_waiting.end())
                *waiting = block;
            continue;
        }
        if (m_estimate) {
            m_items.insert(block.localID, new QSpacerItem(0, m_estimate(block, width()), QSizePolicy::Minimum,
                                                          QSizePolicy::Fixed));
            m_waiting.insert(block.localID, block);
            continue;
        }
        const Entry entry = m_factory(block);
        entry.frame->setParent(this);
        m_entries.insert(block.localID, entry);
        m_items.insert(block.localID, new QWidgetItem(entry.frame));
        shown.push_back(entry.frame);
    }

    bool inOrder = m_layout->count() == qsizetype(ids.size()) + 1;
    for (int at = 0; inOrder && at < int(ids.size()); ++at)
        inOrder = m_layout->itemAt(at) == m_items.value(ids[size_t(at)]);
    if (!inOrder) {
        // Taken out and put back with the layout switched off, and laid out once after: each row
        // placed into a live layout lays out every row again, which costs the square of the length.
        m_layout->setEnabled(false);
        while (m_layout->count() > 0)
            m_layout->takeAt(m_layout->count() - 1);
        for (const QString &localID : ids)
            m_layout->addItem(m_items.value(localID));
        m_layout->addItem(m_end);
        for (QWidget *frame : shown)
            frame->show();
        m_layout->setEnabled(true);
        m_layout->invalidate();
    }
    m_order = std::move(ids);
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

BlockRow *PageRowList::ensureRow(const QString &localID)
{
    if (BlockRow *made = row(localID))
        return made;
    if (!m_waiting.contains(localID))
        return nullptr;
    build(localID, indexOf(localID));
    Q_EMIT rowsMade();
    return row(localID);
}

int PageRowList::ensureRowsWithin(int top, int bottom, int most)
{
    if (m_waiting.isEmpty())
        return 0;
    // Where the layout put an item, else right after the one before at the height it asks for. A list
    // shorter than its items (not laid out yet, or squeezed) has placed them nowhere they will stay.
    const bool settled = height() >= m_layout->sizeHint().height();
    std::vector<int> due;
    int y = 0;
    for (int at = 0; at < int(m_order.size()) && y < bottom; ++at) {
        QLayoutItem *item = m_layout->itemAt(at);
        if (!item)
            break;
        const QRect placed = item->geometry();
        const bool laidOut = settled && placed.isValid() && placed.height() > 0;
        const int itemTop = laidOut ? placed.top() : y;
        const int itemBottom = laidOut ? placed.bottom() + 1 : y + item->sizeHint().height();
        if (itemBottom >= top && itemTop < bottom && m_waiting.contains(m_order[size_t(at)]))
            due.push_back(at);
        if (int(due.size()) >= most)
            break;
        y = itemBottom + m_layout->spacing();
    }
    if (due.empty())
        return 0;
    m_layout->setEnabled(false);
    for (const int at : due) {
        build(m_order[size_t(at)], at);
    }
    m_layout->setEnabled(true);
    m_layout->invalidate();
    Q_EMIT rowsMade();
    return int(due.size());
}

void PageRowList::build(QString localID, int at)
{
    // Taken out by value: the hash moves its other entries as it shrinks, and the caller's id may
    // live in a container the factory changes.
    const FNBlock block = m_waiting.take(localID);
    const Entry entry = m_factory(block);
    entry.frame->setParent(this);
    m_entries.insert(localID, entry);
    QLayoutItem *placeholder = m_items.value(localID);
    auto *item = new QWidgetItem(entry.frame);
    m_items.insert(localID, item);
    if (at < 0 || m_layout->itemAt(at) != placeholder)
        at = m_layout->indexOf(placeholder);
    if (at >= 0) {
        m_layout->takeAt(at);
        m_layout->insertItem(at, item);
    } else {
        m_layout->insertItem(m_layout->count() - 1, item);
    }
    delete placeholder;
    entry.frame->show();
}

void PageRowList::reestimate()
{
    if (!m_estimate || m_waiting.isEmpty())
        return;
    for (auto waiting = m_waiting.cbegin(); waiting != m_waiting.cend(); ++waiting) {
        if (QSpacerItem *placeholder = m_items.value(waiting.key())->spacerItem())
            placeholder->changeSize(0, m_estimate(waiting.value(), width()), QSizePolicy::Minimum,
                                    QSizePolicy::Fixed);
    }
    m_layout->invalidate();
}

std::vector<PageRowList::Place> PageRowList::places() const
{
    std::vector<Place> places;
    places.reserve(m_order.size());
    for (const QString &localID : m_order) {
        const QLayoutItem *item = m_items.value(localID);
        places.push_back({localID, item ? item->geometry() : QRect()});
    }
    return places;
}

std::vector<BlockRow *> PageRowList::rowsWithin(int top, int bottom) const
{
    // The layout keeps its items in order down the list.
    const auto firstAt = std::partition_point(m_order.begin(), m_order.end(), [&](const QString &localID) {
        const QLayoutItem *item = m_items.value(localID);
        return item && item->geometry().bottom() < top;
    });
    std::vector<BlockRow *> rows;
    for (auto at = firstAt; at != m_order.end(); ++at) {
        const QLayoutItem *item = m_items.value(*at);
        if (!item || item->geometry().top() >= bottom)
            break;
        if (BlockRow *made = row(*at))
            rows.push_back(made);
    }
    return rows;
}

int PageRowList::spacing() const
{
    return m_layout->spacing();
}

std::vector<BlockRow *> PageRowList::rows() const
{
    std::vector<BlockRow *> rows;
    rows.reserve(m_entries.size());
    for (const QString &localID : m_order) {
        if (BlockRow *made = row(localID))
            rows.push_back(made);
    }
    return rows;
}

void PageRowList::updateRows(const std::function<void(BlockRow *)> &update)
{
    m_layout->setEnabled(false);
    // Over the rows as they are now: an update may make rows, or read the list again.
    for (BlockRow *made : rows())
        update(made);
    m_layout->setEnabled(true);
    m_layout->invalidate();
}

void PageRowList::flushRows()
{
    // Over a copy: a row's write reaches the store, whose change may make or drop rows here.
    const QList<Entry> entries = m_entries.values();
    for (const Entry &entry : entries) {
        // Only a waiting commit: writing every row's text again would stamp every block of the
        // page, and would put back text a pull replaced after the user's last commit.
        if (entry.row->model().hasPendingCommit())
            entry.row->flushText();
    }
}

int PageRowList::indexOf(const QString &localID) const
{
    const auto it = std::find(m_order.begin(), m_order.end(), localID);
    return it == m_order.end() ? -1 : int(it - m_order.begin());
}

void PageRowList::remove(const QString &localID)
{
    const int at = indexOf(localID);
    QLayoutItem *item = m_items.take(localID);
    if (at >= 0 && m_layout->itemAt(at) == item)
        m_layout->takeAt(at);
    else if (item)
        m_layout->removeItem(item);
    delete item;
    m_waiting.remove(localID);
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
    entry.frame->deleteLater();
}
