#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

class PageRowList;
class QScrollArea;
class QWidget;

// Where a dragged block would land among the top-level rows, from the rows' extents in list order.
namespace BlockDropPlace {

struct Extent {
    int top = 0;
    int bottom = 0; // one past the last line
};

// The gap the pointer's height picks: 0 before the first row, n after the last. A row's upper half
// means the gap above it, its lower half the gap below.
int gapAt(const std::vector<Extent> &rows, int y);
// The index the dragged row takes once it is out of the list; none when the gap is on either side of
// the row itself (nothing would move).
std::optional<int> targetIndex(int from, int gap);
// How far to scroll per step with the pointer at `y` in a view `height` high: towards the nearer edge
// when within `band` of it, faster the closer it is; 0 elsewhere.
int scrollStep(int y, int height, int band, int fastest);

} // namespace BlockDropPlace

// Takes a block's drag wherever it goes over the page's scrolling view: a line shows the gap between
// rows where the block would land, and the view scrolls while the pointer rests near its top or
// bottom edge, so rows out of view come in as places to drop on. It sees the drag before any widget
// inside the view does, as the text views would refuse it.
class BlockDropTarget : public QObject
{
    Q_OBJECT
public:
    static constexpr int kEdgeBand = 48;
    static constexpr int kFastestStep = 24;
    static constexpr int kLineHeight = 2;
    static constexpr std::chrono::milliseconds kScrollTick{16};

    using Move = std::function<void(const QString &localID, int targetIndex)>;

    BlockDropTarget(QScrollArea *scroll, PageRowList *list, Move move, QObject *parent = nullptr,
                    std::chrono::milliseconds scrollTick = kScrollTick);
    ~BlockDropTarget() override;

    // The line over the list; shown only while a drop would move the dragged block.
    QWidget *line() const { return m_line; }
    bool isScrolling() const { return m_scrollTimer.isActive(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::vector<BlockDropPlace::Extent> rowExtents() const;
    // The move a drop at the view's point would make: the dragged row's index and the target index.
    struct Landing {
        int from = -1;
        std::optional<int> to;
        int gap = 0;
    };
    Landing landingAt(const QPoint &inView) const;
    void hover(const QPoint &inView);
    void drop(const QPoint &inView);
    void leave();
    void scrollOnce();

    QPointer<QScrollArea> m_scroll;
    QPointer<PageRowList> m_list;
    Move m_move;
    QPointer<QWidget> m_line;
    QTimer m_scrollTimer;
    QString m_dragged;
    QPoint m_pointer; // the last place of the drag in the view
};
