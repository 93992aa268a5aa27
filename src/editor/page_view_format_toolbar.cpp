// The page's one format toolbar, floating over the focused row.
#include "editor/page_view.h"

#include "editor/block_focus.h"
#include "editor/block_row.h"
#include "editor/format_toolbar.h"
#include "editor/rich_text_editor.h"
#include "ui/layout_now.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>

namespace {

constexpr int kToolbarGap = 2;
// Room kept between the end of the text and the toolbar beside it.
constexpr int kTextGap = 16;

// Whether `area` (in `column`'s coordinates) keeps clear of every line of the view's text.
bool clearOfText(const QTextEdit &view, const QWidget *column, const QRect &area)
{
    const QTextDocument *document = view.document();
    const QPoint origin = view.viewport()->mapTo(column, QPoint(0, 0)) -
                          QPoint(view.horizontalScrollBar()->value(), view.verticalScrollBar()->value());
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        const QTextLayout *layout = block.layout();
        const QPointF at = document->documentLayout()->blockBoundingRect(block).topLeft() + origin;
        for (int i = 0; layout && i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const QRectF drawn(at.x() + line.x(), at.y() + line.y(), line.naturalTextWidth() + kTextGap,
                               line.height());
            if (drawn.intersects(area))
                return false;
        }
    }
    return true;
}

// Whether the keyboard is in this window but outside the row: a menu, a sheet or another window
// holding it for a while does not count.
bool keyboardLeftRow(const BlockRow &row, const QWidget *toolbar)
{
    const QWidget *keys = QApplication::focusWidget();
    if (!keys || keys->window() != row.window())
        return false;
    return keys != toolbar && !toolbar->isAncestorOf(keys) && !row.isAncestorOf(keys);
}

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
    // The keyboard landing elsewhere in the window takes the toolbar away, even when its row was
    // told of nothing (the keyboard moved while a menu had it).
    connect(qApp, &QApplication::focusChanged, this, [this] {
        if (m_toolbarRow)
            m_formatToolbar->setFocusProxy(m_toolbarRow->richEditor());
        m_placeToolbar.start(0);
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
    // The rows' places are read once the layout pass moving them ends (the scroll follows rows
    // from inside it), and room made in a row would lay them out again from inside it.
    if (m_topLevel->isPlacing()) {
        m_placeToolbar.start(0);
        return;
    }
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
    QTextDocument *document = target && target->richEditor() ? target->richEditor()->document() : nullptr;
    if (document != m_toolbarDocument) {
        disconnect(m_toolbarTextWatch);
        m_toolbarDocument = document;
        if (document)
            m_toolbarTextWatch =
                connect(document, &QTextDocument::contentsChanged, this, [this] { m_placeToolbar.start(0); });
    }
    // Only the toolbar's own row keeps room for it.
    if (m_toolbarRoom && (!target || m_toolbarRoom != target->parentWidget()))
        takeToolbarRoom();
    if (!target || !target->isVisibleTo(column) || keyboardLeftRow(*target, m_formatToolbar)) {
        takeToolbarRoom();
        m_formatToolbar->hide();
        m_formatToolbar->setFocusProxy(nullptr);
        return;
    }
    // A click on the toolbar finds the text view already focused through its proxy, and so leaves
    // the keyboard (and the selection) where the user had it.
    m_formatToolbar->setFocusProxy(target->richEditor());

    const QSize size = m_formatToolbar->sizeHint();
    const QPoint rowAt = target->mapTo(column, QPoint(0, 0));
    // At the row's right end: the lines around mostly end short of it, so it hides the least of them.
    int x = rowAt.x() + target->width() - size.width();
    x = std::clamp(x, 0, std::max(0, column->width() - size.width()));
    // Room made in the row for it stays while the row has the keyboard: its lines would otherwise
    // move down and back as the text around it changes. A row laid out at another width (the page
    // taking the window's size) is placed afresh.
    if (m_toolbarRoom && m_toolbarRoom->width() != m_toolbarRoomWidth)
        takeToolbarRoom();
    if (m_toolbarRoom) {
        showFormatToolbarAt(QRect(QPoint(x, m_toolbarRoom->mapTo(column, QPoint(0, 0)).y()), size));
        return;
    }
    std::vector<QRect> places;
    // Beside the text on the row's first line when the text leaves room there.
    if (RichTextEditor *editor = target->richEditor()) {
        const QPoint editorAt = editor->mapTo(column, QPoint(0, 0));
        const int lineHeight = editor->fontMetrics().height();
        places.emplace_back(QPoint(x, std::max(rowAt.y(), editorAt.y() + (lineHeight - size.height()) / 2)),
                            size);
    }
    // Above the row, over the space before it, or below it, unless the view's edge would cut it off.
    const int viewTop = -column->y();
    const int viewBottom = viewTop + m_scroll->viewport()->height();
    const int above = rowAt.y() - size.height() - kToolbarGap;
    if (above >= viewTop)
        places.emplace_back(QPoint(x, above), size);
    const int below = rowAt.y() + target->height() + kToolbarGap;
    if (below + size.height() <= viewBottom)
        places.emplace_back(QPoint(x, below), size);
    for (const QRect &place : places) {
        if (coversNoText(place)) {
            showFormatToolbarAt(place);
            return;
        }
    }
    // Every line around it reaches its place: the row makes room for it above its content.
    makeToolbarRoom(target->parentWidget(), size.height() + kToolbarGap);
    placeFormatToolbar();
}

bool PageView::coversNoText(const QRect &area) const
{
    const QWidget *column = m_scroll->widget();
    if (!clearOfText(*m_titleField, column, area))
        return false;
    for (const auto &list : m_lists) {
        if (!list || !list->isVisible())
            continue;
        const QRect listArea = area.translated(-list->mapTo(column, QPoint(0, 0)));
        if (!list->rect().intersects(listArea))
            continue;
        for (const BlockRow *row : list->rowsWithin(listArea.top(), listArea.bottom() + 1)) {
            if (row->textView() && !clearOfText(*row->textView(), column, area))
                return false;
        }
    }
    return true;
}

void PageView::makeToolbarRoom(QWidget *frame, int height)
{
    if (m_toolbarRoom == frame)
        return;
    takeToolbarRoom();
    if (!frame || !frame->layout())
        return;
    m_toolbarRoom = frame;
    m_toolbarRoomWidth = frame->width();
    QMargins margins = frame->layout()->contentsMargins();
    m_toolbarRoomHeight = height;
    margins.setTop(margins.top() + height);
    frame->layout()->setContentsMargins(margins);
    layOutNow(frame);
}

void PageView::takeToolbarRoom()
{
    if (m_toolbarRoom && m_toolbarRoom->layout()) {
        QMargins margins = m_toolbarRoom->layout()->contentsMargins();
        margins.setTop(margins.top() - m_toolbarRoomHeight);
        m_toolbarRoom->layout()->setContentsMargins(margins);
    }
    m_toolbarRoom = nullptr;
    m_toolbarRoomHeight = 0;
}

void PageView::showFormatToolbarAt(const QRect &where)
{
    m_formatToolbar->setGeometry(where);
    // Raised only when something covers it: a raise repaints it, and its shadow renders it afresh.
    const QObjectList &siblings = m_scroll->widget()->children();
    if (siblings.isEmpty() || siblings.last() != m_formatToolbar)
        m_formatToolbar->raise();
    m_formatToolbar->show();
}
