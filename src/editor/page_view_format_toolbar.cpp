// The page's one format toolbar, floating over the focused row.
#include "editor/page_view.h"

#include "editor/block_focus.h"
#include "editor/block_row.h"
#include "editor/format_toolbar.h"
#include "editor/rich_text_editor.h"

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>

namespace {

constexpr int kToolbarGap = 2;

} // namespace

void PageView::buildFormatToolbar()
{
    // Over the rows, in the scrolled column: it scrolls with the row it belongs to.
    m_formatToolbar = new FormatToolbar(
        [this](const QString &prefix, const QString &suffix) {
            if (BlockRow *row = formatTarget())
                row->wrapSelection(formatEditor(*row), prefix, suffix);
        },
        [this] {
            if (BlockRow *row = formatTarget())
                row->captureLinkTarget(formatEditor(*row));
        },
        [this] {
            if (BlockRow *row = formatTarget()) {
                row->model().changeIndent(+1);
                placeFormatToolbar();
            }
        },
        [this] {
            if (BlockRow *row = formatTarget()) {
                row->model().changeIndent(-1);
                placeFormatToolbar();
            }
        },
        m_scroll->widget());
    m_formatToolbar->hide();
    m_placeToolbar.setSingleShot(true);
    connect(&m_placeToolbar, &QTimer::timeout, this, &PageView::placeFormatToolbar);
    connect(&m_model->focus(), &BlockFocus::focusedBlockChanged, this, &PageView::placeFormatToolbar);
    connect(m_scroll->verticalScrollBar(), &QScrollBar::valueChanged, this, &PageView::placeFormatToolbar);
    // A row's text view is made anew when its kind changes: the toolbar's focus goes to the new one.
    connect(qApp, &QApplication::focusChanged, this, [this] {
        if (m_toolbarRow)
            m_formatToolbar->setFocusProxy(m_toolbarRow->richEditor());
    });
}

BlockRow *PageView::formatTarget() const
{
    const std::optional<QString> &focused = m_model->focus().focusedBlock();
    BlockRow *target = focused ? row(*focused) : nullptr;
    return target && target->takesPageFocus() ? target : nullptr;
}

RichTextEditor *PageView::formatEditor(BlockRow &row)
{
    RichTextEditor *editor = row.richEditor();
    // The text view keeps its selection while another widget has the keyboard.
    if (editor && !editor->hasFocus())
        editor->setFocus(Qt::OtherFocusReason);
    return editor;
}

void PageView::placeFormatToolbar()
{
    m_placeToolbar.stop();
    QWidget *column = m_scroll->widget();
    BlockRow *target = formatTarget();
    if (target != m_toolbarRow) {
        for (const auto &anchor : m_toolbarAnchors) {
            if (anchor)
                anchor->removeEventFilter(this);
        }
        m_toolbarAnchors.clear();
        m_toolbarRow = target;
        for (QWidget *anchor = target; anchor && anchor != column; anchor = anchor->parentWidget()) {
            anchor->installEventFilter(this);
            m_toolbarAnchors.emplace_back(anchor);
        }
    }
    if (!target || !target->isVisibleTo(column)) {
        m_formatToolbar->hide();
        m_formatToolbar->setFocusProxy(nullptr);
        return;
    }
    // A click on the toolbar finds the text view already focused through its proxy, and so leaves
    // the keyboard (and the selection) where the user had it.
    m_formatToolbar->setFocusProxy(target->richEditor());

    const QSize size = m_formatToolbar->sizeHint();
    const QPoint rowAt = target->mapTo(column, QPoint(0, 0));
    // At the row's right end: the lines above mostly end short of it, so it hides the least of them.
    int x = rowAt.x() + target->width() - size.width();
    x = std::clamp(x, 0, std::max(0, column->width() - size.width()));
    // Above the row, over the space before it; below it when the view's top edge would cut it off.
    int y = rowAt.y() - size.height() - kToolbarGap;
    const int visibleTop = -column->y();
    if (y < visibleTop)
        y = rowAt.y() + target->height() + kToolbarGap;
    m_formatToolbar->setGeometry(QRect(QPoint(x, y), size));
    m_formatToolbar->raise();
    m_formatToolbar->show();
}
