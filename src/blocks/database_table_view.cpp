#include "blocks/database_table_view.h"

#include "api/wire/databases.h"
#include "blocks/database_block.h"
#include "blocks/database_table_model.h"
#include "ui/app_style.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

constexpr int kMinRowHeight = 28;
constexpr int kHeaderPadding = 8;
constexpr int kHeaderIconSpacing = 6;
constexpr int kMaxNamedWidth = 240;

const DatabaseTableModel *tableModel(const QModelIndex &index)
{
    return qobject_cast<const DatabaseTableModel *>(index.model());
}

} // namespace

DatabaseTableView::DatabaseTableView(QWidget *parent)
    : QTableView(parent)
{
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::AllEditTriggers);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setSizeAdjustPolicy(QAbstractScrollArea::AdjustIgnored);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(rowHeight());
    QHeaderView *header = horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    header->setSectionsClickable(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setFont(AppStyle::caption());
    header->setMinimumSectionSize(1);
}

int DatabaseTableView::rowHeight() const
{
    return std::max(kMinRowHeight, QFontMetrics(AppStyle::callout()).height() + 12);
}

void DatabaseTableView::updateLayout()
{
    const auto *model = qobject_cast<const DatabaseTableModel *>(this->model());
    if (model) {
        // A narrow type's column still shows its whole name (a checkbox's is only 56 wide).
        const QFontMetrics caption(horizontalHeader()->font());
        const int chrome =
            2 * kHeaderPadding + horizontalHeader()->iconSize().width() + kHeaderIconSpacing + 1;
        for (int c = 0; c < model->columnCount(); ++c) {
            const DBColumnDTO &column = model->column(c);
            const int named = std::min(caption.horizontalAdvance(column.name) + chrome, kMaxNamedWidth);
            horizontalHeader()->resizeSection(c, std::max(DatabaseBlock::columnWidth(column.type), named));
        }
    }
    const int height = neededHeight();
    if (height != this->height() || minimumHeight() != height)
        setFixedHeight(height);
    updateGeometry();
}

int DatabaseTableView::neededHeight() const
{
    int height = horizontalHeader()->sizeHint().height() + verticalHeader()->length() + 2 * frameWidth();
    if (width() - 2 * frameWidth() < horizontalHeader()->length())
        height += horizontalScrollBar()->sizeHint().height();
    return height;
}

QSize DatabaseTableView::sizeHint() const
{
    return {horizontalHeader()->length() + 2 * frameWidth(), neededHeight()};
}

QSize DatabaseTableView::minimumSizeHint() const
{
    return {std::min(sizeHint().width(), 120), neededHeight()};
}

QRect DatabaseTableView::cellRect(const QModelIndex &index) const
{
    return visualRect(index).translated(viewport()->pos());
}

bool DatabaseTableView::act(const QModelIndex &index)
{
    const DatabaseTableModel *model = tableModel(index);
    if (!model)
        return false;
    switch (DatabaseBlock::editorOf(model->column(index.column()).type)) {
    case DatabaseBlock::Editor::checkbox:
        Q_EMIT toggleRequested(index);
        return true;
    case DatabaseBlock::Editor::select:
        Q_EMIT menuRequested(index);
        return true;
    case DatabaseBlock::Editor::text:
        break;
    }
    return false;
}

void DatabaseTableView::mousePressEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    m_pressed = event->button() == Qt::LeftButton ? QPersistentModelIndex(index) : QPersistentModelIndex();
    QTableView::mousePressEvent(event);
    // A text cell is a field: one click puts the caret in it where it was clicked, as in any text
    // field (the view itself would select the whole text).
    if (!index.isValid() || event->button() != Qt::LeftButton || !(index.flags() & Qt::ItemIsEditable))
        return;
    if (state() != QAbstractItemView::EditingState)
        edit(index);
    const QPoint at = event->position().toPoint();
    for (QLineEdit *field : viewport()->findChildren<QLineEdit *>(Qt::FindDirectChildrenOnly)) {
        if (field->isVisible() && field->geometry().contains(at)) {
            field->deselect();
            field->setCursorPosition(field->cursorPositionAt(field->mapFrom(viewport(), at)));
            break;
        }
    }
}

void DatabaseTableView::mouseReleaseEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    const bool click = event->button() == Qt::LeftButton && index.isValid() && index == m_pressed;
    m_pressed = QPersistentModelIndex();
    QTableView::mouseReleaseEvent(event);
    if (click && !(index.flags() & Qt::ItemIsEditable))
        act(index);
}

void DatabaseTableView::keyPressEvent(QKeyEvent *event)
{
    const QModelIndex current = currentIndex();
    const bool press =
        event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (press && current.isValid() && !(current.flags() & Qt::ItemIsEditable) && act(current)) {
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void DatabaseTableView::wheelEvent(QWheelEvent *event)
{
    // The table never scrolls up and down: the page does.
    if (qAbs(event->angleDelta().y()) >= qAbs(event->angleDelta().x())) {
        event->ignore();
        return;
    }
    QTableView::wheelEvent(event);
}

void DatabaseTableView::resizeEvent(QResizeEvent *event)
{
    QTableView::resizeEvent(event);
    // The sideways scroll bar comes and goes with the room the block gives.
    if (neededHeight() != height())
        setFixedHeight(neededHeight());
}
