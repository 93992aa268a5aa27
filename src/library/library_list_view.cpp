#include "library/library_list_view.h"

#include "library/library_mover.h"
#include "library/library_row_delegate.h"
#include "library/library_row_model.h"

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QHelpEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>

namespace {

using Kind = LibraryTree::Row::Kind;

constexpr int kRootMarkWidth = 2;

Kind kindOf(const QModelIndex &index)
{
    return Kind(index.data(LibraryRowModel::KindRole).toInt());
}

} // namespace

LibraryListView::LibraryListView(QWidget *parent)
    : QListView(parent)
{
    setDragEnabled(false); // rows are dragged by their handle only, with a text payload
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    viewport()->setAttribute(Qt::WA_Hover); // the hovered row shows its handle
}

LibraryRowModel *LibraryListView::rowModel() const
{
    return qobject_cast<LibraryRowModel *>(model());
}

int LibraryListView::contentBottom() const
{
    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    const int lastRowEnd = rows > 0 ? visualRect(model()->index(rows - 1, 0, rootIndex())).bottom() + 1 : 0;
    return lastRowEnd + kTrailingSpace;
}

LibraryListView::DropSpot LibraryListView::dropSpotAt(const QPoint &viewportPos) const
{
    const QModelIndex index = indexAt(viewportPos);
    DropSpot spot;
    spot.kind = DropSpot::Kind::Root;
    if (!index.isValid())
        return spot;
    const Kind kind = kindOf(index);
    if (kind == Kind::Folder)
        spot.kind = DropSpot::Kind::Folder;
    else if (kind == Kind::Page)
        spot.kind = DropSpot::Kind::Page;
    else
        return spot;
    spot.localID = index.data(LibraryRowModel::LocalIDRole).toString();
    return spot;
}

QString LibraryListView::toolTipAt(const QPoint &viewportPos) const
{
    const QModelIndex index = indexAt(viewportPos);
    if (!index.isValid())
        return QString();
    const LibraryRowDelegate::Parts parts = LibraryRowDelegate::layout(visualRect(index), index);
    if (parts.handle.contains(viewportPos))
        return QString::fromLatin1(LibraryMover::kHandleToolTip);
    if (parts.globe.contains(viewportPos))
        return QString::fromLatin1(LibraryRowDelegate::kPublishedToolTip);
    if (parts.share.contains(viewportPos))
        return QString::number(index.data(LibraryRowModel::SharedCountRole).toLongLong()) +
               QLatin1String(LibraryRowDelegate::kSharedToolTipSuffix);
    return QString();
}

void LibraryListView::mousePressEvent(QMouseEvent *event)
{
    m_dragRowID.clear();
    m_swallowRelease = false;
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    if (index.isValid() && event->button() == Qt::LeftButton) {
        const LibraryRowDelegate::Parts parts = LibraryRowDelegate::layout(visualRect(index), index);
        if (parts.handle.contains(pos)) {
            // The handle only drags: pressing it neither opens nor selects the row.
            m_dragRowID = index.data(LibraryRowModel::RowIDRole).toString();
            m_pressPos = pos;
            m_swallowRelease = true;
            event->accept();
            return;
        }
        if (kindOf(index) == Kind::Page && parts.chevron.contains(pos)) {
            m_swallowRelease = true;
            event->accept();
            Q_EMIT pageChevronClicked(index);
            return;
        }
    }
    QListView::mousePressEvent(event);
}

void LibraryListView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragRowID.isEmpty() || !(event->buttons() & Qt::LeftButton)) {
        QListView::mouseMoveEvent(event);
        return;
    }
    if ((event->position().toPoint() - m_pressPos).manhattanLength() < QApplication::startDragDistance())
        return;
    auto *mime = new QMimeData;
    mime->setText(m_dragRowID);
    m_dragRowID.clear();
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(Qt::MoveAction);
}

void LibraryListView::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragRowID.clear();
    if (m_swallowRelease) {
        m_swallowRelease = false;
        event->accept();
        return;
    }
    QListView::mouseReleaseEvent(event);
}

void LibraryListView::highlight(const DropSpot &spot)
{
    const bool root = spot.kind == DropSpot::Kind::Root;
    if (root != m_rootDropShown) {
        m_rootDropShown = root;
        viewport()->update();
    }
    if (LibraryRowModel *m = rowModel()) {
        m->setDropTargets(spot.kind == DropSpot::Kind::Folder ? std::optional(spot.localID) : std::nullopt,
                          spot.kind == DropSpot::Kind::Page ? std::optional(spot.localID) : std::nullopt);
    }
}

void LibraryListView::clearHighlight()
{
    if (m_rootDropShown) {
        m_rootDropShown = false;
        viewport()->update();
    }
    if (LibraryRowModel *m = rowModel())
        m->setDropTargets(std::nullopt, std::nullopt);
}

void LibraryListView::dragEnterEvent(QDragEnterEvent *event)
{
    dragMoveEvent(event);
}

void LibraryListView::dragMoveEvent(QDragMoveEvent *event)
{
    const DropSpot spot = event->mimeData() && event->mimeData()->hasText()
                              ? dropSpotAt(event->position().toPoint())
                              : DropSpot{};
    highlight(spot);
    if (spot.kind == DropSpot::Kind::None)
        event->ignore();
    else
        event->acceptProposedAction();
}

void LibraryListView::dragLeaveEvent(QDragLeaveEvent *event)
{
    clearHighlight();
    event->accept();
}

void LibraryListView::dropEvent(QDropEvent *event)
{
    clearHighlight();
    const QString payload = event->mimeData() ? event->mimeData()->text() : QString();
    const DropSpot spot = dropSpotAt(event->position().toPoint());
    if (payload.isEmpty() || spot.kind == DropSpot::Kind::None) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    switch (spot.kind) {
    case DropSpot::Kind::None:
        break;
    case DropSpot::Kind::Folder:
        Q_EMIT droppedOnFolder(payload, spot.localID);
        break;
    case DropSpot::Kind::Page:
        Q_EMIT droppedOnPage(payload, spot.localID);
        break;
    case DropSpot::Kind::Root:
        Q_EMIT droppedOnRoot(payload);
        break;
    }
}

bool LibraryListView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const QString text = toolTipAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, viewport());
        return true;
    }
    return QListView::viewportEvent(event);
}

void LibraryListView::paintEvent(QPaintEvent *event)
{
    QListView::paintEvent(event);
    if (!m_rootDropShown)
        return;
    // The top level: a line under the last row, the way a drop between rows is shown.
    QPainter painter(viewport());
    const int y = std::min(contentBottom() - kTrailingSpace, viewport()->height() - kRootMarkWidth);
    painter.fillRect(QRect(0, y, viewport()->width(), kRootMarkWidth), palette().color(QPalette::Highlight));
}

void LibraryListView::updateGeometries()
{
    QListView::updateGeometries();
    // The strip below the last row stays reachable when the rows fill the list.
    QScrollBar *bar = verticalScrollBar();
    if (bar->maximum() > 0)
        bar->setMaximum(bar->maximum() + kTrailingSpace);
}
