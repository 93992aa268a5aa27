#include "editor/block_drop_target.h"

#include "editor/draggable_block_modifier.h"
#include "editor/page_row_list.h"
#include "ui/app_style.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace BlockDropPlace {

int gapAt(const std::vector<Extent> &rows, int y)
{
    for (size_t i = 0; i < rows.size(); ++i) {
        if (2 * y < rows[i].top + rows[i].bottom)
            return int(i);
    }
    return int(rows.size());
}

std::optional<int> targetIndex(int from, int gap)
{
    if (from < 0 || gap == from || gap == from + 1)
        return std::nullopt;
    return gap > from ? gap - 1 : gap;
}

int scrollStep(int y, int height, int band, int fastest)
{
    if (band <= 0 || height <= 0)
        return 0;
    // A view too low for two bands splits itself between them.
    band = std::min(band, height / 2);
    const auto depth = [&](int distance) {
        const double share = double(band - std::max(distance, 0)) / band;
        return std::max(1, int(std::ceil(share * fastest)));
    };
    if (y < band)
        return -depth(y);
    if (y >= height - band)
        return depth(height - 1 - y);
    return 0;
}

} // namespace BlockDropPlace

namespace {

QString draggedBlock(const QMimeData *mime)
{
    const QString format = QString::fromLatin1(DraggableBlockModifier::kBlockDragFormat);
    if (!mime || !mime->hasFormat(format))
        return {};
    return QString::fromUtf8(mime->data(format));
}

} // namespace

BlockDropTarget::BlockDropTarget(QScrollArea *scroll, PageRowList *list, Move move, QObject *parent,
                                 std::chrono::milliseconds scrollTick)
    : QObject(parent)
    , m_scroll(scroll)
    , m_list(list)
    , m_move(std::move(move))
    , m_line(new QWidget(list))
{
    m_line->setObjectName(QStringLiteral("dropLine"));
    m_line->setAttribute(Qt::WA_StyledBackground);
    m_line->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_line->setStyleSheet(QStringLiteral("#dropLine { background: %1; border-radius: 1px; }")
                              .arg(AppStyle::css(AppStyle::accent(list))));
    m_line->hide();
    // The view itself takes a drag over the gaps between rows and around them.
    m_scroll->viewport()->setAcceptDrops(true);
    m_scrollTimer.setInterval(scrollTick);
    connect(&m_scrollTimer, &QTimer::timeout, this, &BlockDropTarget::scrollOnce);
    // Widgets inside rows (a block's text) would take or refuse the drag before any row sees it.
    qApp->installEventFilter(this);
}

BlockDropTarget::~BlockDropTarget()
{
    qApp->removeEventFilter(this);
}

bool BlockDropTarget::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::DragLeave &&
        type != QEvent::Drop)
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || !m_scroll || !m_list)
        return false;
    QWidget *viewport = m_scroll->viewport();
    if (widget != viewport && !viewport->isAncestorOf(widget))
        return false;
    if (type == QEvent::DragLeave) {
        leave();
        return false;
    }
    auto *drag = static_cast<QDropEvent *>(event);
    const QString localID = draggedBlock(drag->mimeData());
    if (localID.isEmpty())
        return false;
    m_dragged = localID;
    const QPoint inView = widget->mapTo(viewport, drag->position().toPoint());
    if (landingAt(inView).from < 0) {
        // A block of another page: not for this one.
        leave();
        drag->ignore();
        return true;
    }
    if (type == QEvent::Drop)
        drop(inView);
    else
        hover(inView);
    drag->setDropAction(Qt::MoveAction);
    drag->accept();
    return true;
}

std::vector<BlockDropPlace::Extent> BlockDropTarget::rowExtents() const
{
    std::vector<BlockDropPlace::Extent> extents;
    for (const PageRowList::Place &place : m_list->places())
        extents.push_back({place.geometry.top(), place.geometry.bottom() + 1});
    return extents;
}

BlockDropTarget::Landing BlockDropTarget::landingAt(const QPoint &inView) const
{
    Landing landing;
    const std::vector<PageRowList::Place> places = m_list->places();
    for (size_t i = 0; i < places.size(); ++i) {
        if (places[i].localID == m_dragged)
            landing.from = int(i);
    }
    const QPoint inList = m_list->mapFrom(m_scroll->viewport(), inView);
    landing.gap = BlockDropPlace::gapAt(rowExtents(), inList.y());
    landing.to = BlockDropPlace::targetIndex(landing.from, landing.gap);
    return landing;
}

void BlockDropTarget::hover(const QPoint &inView)
{
    m_pointer = inView;
    const Landing landing = landingAt(inView);
    if (landing.to && m_line) {
        const std::vector<BlockDropPlace::Extent> rows = rowExtents();
        const int spacing = m_list->spacing();
        int centre = 0;
        if (rows.empty())
            centre = 0;
        else if (landing.gap == 0)
            centre = rows.front().top - spacing / 2;
        else if (landing.gap == int(rows.size()))
            centre = rows.back().bottom + spacing / 2;
        else
            centre = (rows[size_t(landing.gap) - 1].bottom + rows[size_t(landing.gap)].top) / 2;
        centre = std::clamp(centre, kLineHeight / 2,
                            std::max(kLineHeight / 2, m_list->height() - kLineHeight / 2));
        m_line->setGeometry(0, centre - kLineHeight / 2, m_list->width(), kLineHeight);
        m_line->show();
        m_line->raise();
    } else if (m_line) {
        m_line->hide();
    }
    const int step =
        BlockDropPlace::scrollStep(inView.y(), m_scroll->viewport()->height(), kEdgeBand, kFastestStep);
    const QScrollBar *bar = m_scroll->verticalScrollBar();
    const bool canMove = step < 0 ? bar->value() > bar->minimum() : bar->value() < bar->maximum();
    if (step == 0 || (!m_scrollTimer.isActive() && !canMove))
        m_scrollTimer.stop();
    else if (!m_scrollTimer.isActive())
        m_scrollTimer.start();
}

void BlockDropTarget::drop(const QPoint &inView)
{
    const Landing landing = landingAt(inView);
    const QString dragged = m_dragged;
    leave();
    if (landing.to && m_move)
        m_move(dragged, *landing.to);
}

void BlockDropTarget::leave()
{
    m_scrollTimer.stop();
    if (m_line)
        m_line->hide();
}

void BlockDropTarget::scrollOnce()
{
    if (!m_scroll || !m_list) {
        m_scrollTimer.stop();
        return;
    }
    QScrollBar *bar = m_scroll->verticalScrollBar();
    const int step =
        BlockDropPlace::scrollStep(m_pointer.y(), m_scroll->viewport()->height(), kEdgeBand, kFastestStep);
    if (step == 0) {
        m_scrollTimer.stop();
        return;
    }
    // Kept going at the page's end: rows made as they come in can still lengthen the page.
    const int before = bar->value();
    bar->setValue(before + step);
    // The rows moved under a pointer that stayed: the line follows the row now beneath it.
    if (bar->value() != before)
        hover(m_pointer);
}
