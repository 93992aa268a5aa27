#pragma once

#include "store/fn_block.h"

#include <QHash>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <vector>

class BlockRow;
class QVBoxLayout;

// A vertical list of block rows kept in step with a list of blocks. Rows are kept by localID,
// made for blocks that came and removed (their waiting text written first) for blocks that left.
// A long list is made over several turns of the event loop: a first screenful at once, then as
// many rows as fit in a turn's time, so the page shows and answers while the rest are made.
class PageRowList : public QWidget
{
    Q_OBJECT
public:
    // A row and the frame it is laid out in (the frame is what the list holds).
    struct Entry {
        QWidget *frame = nullptr;
        BlockRow *row = nullptr;
        bool placed = false; // shown in the layout
    };
    using Source = std::function<std::vector<FNBlock>()>;
    using Factory = std::function<Entry(const FNBlock &)>;

    static constexpr int kFirstBatch = 30;
    static constexpr std::chrono::milliseconds kTurnBudget{100};

    PageRowList(Source source, Factory factory, int spacing, QWidget *parent = nullptr,
                int firstBatch = kFirstBatch);

    // Brings the rows in step with the source now; rows that do not fit in this turn follow.
    void refresh();
    // Every block of the last refresh has its row in place.
    bool isComplete() const { return !m_continue.isActive() && m_missing == 0; }
    BlockRow *row(const QString &localID) const;
    QWidget *frame(const QString &localID) const;
    // The rows in list order.
    std::vector<BlockRow *> rows() const;
    // Changes the rows with the list laid out once afterwards, not once per row that resizes.
    void updateRows(const std::function<void(BlockRow *)> &update);
    // Writes the text still waiting in any row (before the page's own flush).
    void flushRows();

Q_SIGNALS:
    // The last missing row has been made.
    void completed();

private:
    void remove(const QString &localID);
    void discard(const Entry &entry);

    Source m_source;
    Factory m_factory;
    int m_firstBatch;
    QVBoxLayout *m_layout;
    QHash<QString, Entry> m_entries;
    std::vector<QString> m_order; // the localIDs of the rows in place, in order
    int m_missing = 0;
    QTimer m_continue;
};
