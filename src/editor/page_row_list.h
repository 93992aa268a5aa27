#pragma once

#include "store/fn_block.h"

#include <QHash>
#include <QRect>
#include <QWidget>

#include <functional>
#include <limits>
#include <vector>

class BlockRow;
class QLayoutItem;
class QSpacerItem;
class QVBoxLayout;

// A vertical list of block rows kept in step with a list of blocks. Rows are kept by localID,
// made for blocks that came and removed (their waiting text written first) for blocks that left.
// A lazy list makes rows only where they are needed: every other block holds a placeholder of its
// estimated height, and a row is made when its place comes into view or someone asks for it.
class PageRowList : public QWidget
{
    Q_OBJECT
public:
    // A row and the frame it is laid out in (the frame is what the list holds).
    struct Entry {
        QWidget *frame = nullptr;
        BlockRow *row = nullptr;
    };
    using Source = std::function<std::vector<FNBlock>()>;
    using Factory = std::function<Entry(const FNBlock &)>;
    // A placeholder's height for the block at the list's width.
    using Estimate = std::function<int(const FNBlock &, int width)>;

    // A listed block's item in this list's coordinates: its row's frame or its placeholder.
    struct Place {
        QString localID;
        QRect geometry;
    };

    // Without an estimate every block has its row at once.
    PageRowList(Source source, Factory factory, int spacing, QWidget *parent = nullptr,
                Estimate estimate = {});

    // Brings the list in step with the source now.
    void refresh();
    // The block's row; none when it is not listed here or still a placeholder.
    BlockRow *row(const QString &localID) const;
    QWidget *frame(const QString &localID) const;
    // The block's row, made now when it is still a placeholder; none when it is not listed here.
    BlockRow *ensureRow(const QString &localID);
    // Makes the rows of the placeholders that reach into the band [top, bottom) of this list's
    // coordinates, at most `most` of them, nearest the band's top first. The count of rows made.
    int ensureRowsWithin(int top, int bottom, int most = std::numeric_limits<int>::max());
    bool isListed(const QString &localID) const { return m_items.contains(localID); }
    // The block listed last; empty when none is.
    QString lastListed() const { return m_order.empty() ? QString() : m_order.back(); }
    // The rows made whose places reach into the band [top, bottom) of this list's coordinates, found
    // without walking the list.
    std::vector<BlockRow *> rowsWithin(int top, int bottom) const;
    // Every listed block's place, in list order.
    std::vector<Place> places() const;
    int spacing() const;
    // The rows made so far, in list order.
    std::vector<BlockRow *> rows() const;
    int placeholderCount() const { return int(m_order.size()) - int(m_entries.size()); }
    // Its layout is moving its rows now: a row that moved may not be where the rest of this pass
    // puts it, and rows made or laid out from inside the pass would be placed over again by the
    // rest of it.
    bool isPlacing() const { return m_placing > 0; }
    // How many times the list read its source (tests).
    int reads() const { return m_reads; }
    // The placeholders take their estimated height anew (the width changed).
    void reestimate();
    // Changes the rows with the list laid out once afterwards, not once per row that resizes.
    void updateRows(const std::function<void(BlockRow *)> &update);
    // Writes the text still waiting in any row (before the page's own flush).
    void flushRows();

Q_SIGNALS:
    // Rows were made for placeholders: the page may have to place things again.
    void rowsMade();

private:
    void build(QString localID, int at);
    void remove(const QString &localID);
    void discard(const Entry &entry);
    int indexOf(const QString &localID) const;

    Source m_source;
    Factory m_factory;
    Estimate m_estimate;
    int m_placing = 0;
    QVBoxLayout *m_layout;
    // Always the layout's last item: room the list has beyond its rows, while it waits to take its
    // new height, stays below them.
    QSpacerItem *m_end;
    QHash<QString, Entry> m_entries;       // the rows made
    QHash<QString, FNBlock> m_waiting;     // the blocks still shown by placeholders
    QHash<QString, QLayoutItem *> m_items; // every listed block's item: its frame's or its placeholder
    std::vector<QString> m_order;          // the listed blocks, as the layout holds their items
    int m_reads = 0;
};
