// The page's rows: each block's row in its frame, and the nested lists of toggles and columns.
#include "editor/page_view.h"

#include "editor/auto_height_text_view.h"
#include "editor/block_row.h"
#include "editor/block_row_comment.h"
#include "editor/drag_handle.h"
#include "editor/draggable_block_modifier.h"
#include "store/local_store.h"
#include "ui/app_style.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr auto kAddInside = "Add inside";
constexpr int kHandleSpacing = 2;
constexpr int kLeastScreen = 600;
constexpr int kMakePasses = 4;
constexpr int kSettleRounds = 3; // row, list, column
constexpr int kAnchorProbeStep = 8;
constexpr int kDividerHeight = 24;
constexpr int kRichKindHeight = 120;
constexpr int kLeastTextWidth = 200;
constexpr int kRowChrome = 60;           // the grip, the menu and the comment button beside the text
constexpr int kContentJSONOverhead = 12; // {"text":""}
constexpr int kRowPadding = 10;
// While the scroll bar's handle is dragged: the rows made in one turn of the event loop.
constexpr int kDragRowsAtOnce = 3;
constexpr int kCaretMargin = 24;

} // namespace

PageRowList::Entry PageView::blockRow(const FNBlock &block, bool dragEnabled)
{
    const QString localID = block.localID;
    BlockRowModel::Hooks hooks;
    hooks.onChange = [model = QPointer<PageViewModel>(m_model)] {
        if (model)
            model->scheduleBlockFlush();
    };
    hooks.onInsertNextBlock = [self = QPointer<PageView>(this), block](const QString &type,
                                                                       const QString &text) {
        if (!self)
            return;
        const auto added =
            self->m_model->insertBlockAfter(self->storedBlock(block.localID).value_or(block), type, text);
        // Keys typed right after Return may be on their way already: the new row is made and
        // takes the keyboard now, not on a later turn.
        if (added) {
            self->refresh();
            if (self->row(*added)) {
                self->m_model->focus().setFocusedBlock(*added);
                self->applyFocus(*added);
            }
        }
    };
    hooks.onInsertBlockAbove = [self = QPointer<PageView>(this), block](const QString &type) {
        // The caret stays at the line's start, as in any editor; Up goes to the new line.
        if (self && self->m_model->insertBlockBefore(self->storedBlock(block.localID).value_or(block), type))
            self->refresh();
    };
    hooks.onDeleteSelfIfEmpty = [self = QPointer<PageView>(this), localID] {
        if (self)
            self->deleteEmptyBlock(localID);
    };
    hooks.onPassKeyboardOn = [self = QPointer<PageView>(this), localID] {
        if (self)
            self->passKeyboardOn(localID);
    };
    hooks.onLeaveText = [self = QPointer<PageView>(this), localID](bool down) {
        if (self)
            self->moveToNeighbour(localID, down);
    };
    hooks.onToggleSelected = [model = QPointer<PageViewModel>(m_model), localID] {
        if (model)
            model->toggleSelected(localID);
    };
    // Made without a parent and then placed: a widget made inside a window that already holds
    // many rows walks the window's whole focus chain for each of its parts.
    auto *row = new BlockRow(m_model->store(), block, &m_model->focus(), std::move(hooks), nullptr,
                             m_model->timing().rowText);
    const AppContext &context = m_model->context();
    BlockServices services;
    services.client = context.client;
    services.toasts = context.toasts;
    services.filePicker = m_filePicker;
    services.urlOpener = context.urlOpener;
    services.events = context.events;
    services.recordings = context.recordings;
    services.databaseRows = context.databaseRows;
    row->setMediaServices(std::move(services));
    if (ServiceClient *client = m_model->context().client)
        installInlineComments(*row, *client);
    row->setSelectMode(m_model->selectMode());
    row->setSelected(m_model->selectedBlocks().contains(localID));
    row->setChildContent([this, localID] { return childContent(localID); });
    row->setChildColumnContent(
        [this, localID](int column, int count) { return columnContent(localID, column, count); });

    row->setFormatToolbar(m_formatToolbar);

    auto *frame = new QWidget;
    auto *layout = new QHBoxLayout(frame);
    layout->setContentsMargins(kRowHPad, 0, kRowHPad, 0);
    DragHandle *handle = nullptr;
    if (dragEnabled) {
        // On the page's own background, an opaque row is moved by copying its pixels when a row
        // above it changes height (nested rows lie on their parent's colours).
        frame->setAutoFillBackground(true);
        // The grip takes the row's start; its room is kept while it is hidden.
        handle = new DragHandle(frame);
        layout->setContentsMargins(0, 0, kRowHPad, 0);
        layout->setSpacing(kHandleSpacing);
        layout->addWidget(handle, 0, Qt::AlignTop);
    }
    layout->addWidget(row);
    auto *modifier = new DraggableBlockModifier(
        frame, dragEnabled, localID, [self = QPointer<PageView>(this), localID](const QString &dropped) {
            if (self)
                self->m_model->moveBlockOnDrop(dropped, self->topLevelIndex(localID));
        });
    modifier->setHandle(handle);
    return {frame, row};
}

void PageView::takeStoredBlock(const QString &localID)
{
    if (m_listParents.contains(localID)) {
        m_listedRevision.reset();
        return;
    }
    for (const auto &list : m_lists) {
        if (list && list->isListed(localID) && !list->row(localID)) {
            m_listedRevision.reset();
            return;
        }
    }
}

QWidget *PageView::childContent(const QString &parentLocalID)
{
    m_listParents.insert(parentLocalID);
    auto *holder = new QWidget;
    auto *layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kSpacing);
    layout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PageRowList *list = addList(
        [this, parentLocalID] {
            const auto parent = storedBlock(parentLocalID);
            return parent ? m_model->blocks().childBlocks(*parent) : std::vector<FNBlock>();
        },
        kSpacing);
    layout->addWidget(list);
    QPushButton *add = symbolButton(QStringLiteral("plus.circle"), QString::fromLatin1(kAddInside),
                                    AppStyle::css(AppStyle::tertiary(this)));
    QFont caption = add->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    add->setFont(caption);
    connect(add, &QPushButton::clicked, this, [this, parentLocalID] { addChildTo(parentLocalID); });
    layout->addWidget(add, 0, Qt::AlignLeft);
    return holder;
}

QWidget *PageView::columnContent(const QString &parentLocalID, int column, int count)
{
    m_listParents.insert(parentLocalID);
    auto *holder = new QWidget;
    auto *layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kSpacing);
    layout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PageRowList *list = addList(
        [this, parentLocalID, column, count] {
            const auto parent = storedBlock(parentLocalID);
            return parent ? m_model->blocks().columnBlocks(*parent, column, count) : std::vector<FNBlock>();
        },
        kSpacing);
    layout->addWidget(list);
    if (column == 0) {
        QPushButton *add =
            symbolButton(QStringLiteral("plus.circle"), QString(), AppStyle::css(AppStyle::tertiary(this)));
        connect(add, &QPushButton::clicked, this, [this, parentLocalID] { addChildTo(parentLocalID); });
        layout->addWidget(add, 0, Qt::AlignLeft);
    }
    return holder;
}

PageRowList *PageView::addList(PageRowList::Source source, int spacing)
{
    // Nested rows can neither be dragged nor take a drop.
    auto *list = new PageRowList(
        std::move(source), [this](const FNBlock &block) { return blockRow(block, false); }, spacing);
    m_lists.emplace_back(list);
    list->refresh();
    return list;
}

std::optional<FNBlock> PageView::storedBlock(const QString &localID) const
{
    if (const FNBlock *block = m_model->store().block(localID))
        return *block;
    return std::nullopt;
}

void PageView::addChildTo(const QString &parentLocalID)
{
    if (const auto parent = storedBlock(parentLocalID))
        m_model->addChildBlock(*parent);
}

int PageView::topLevelIndex(const QString &localID) const
{
    const std::vector<FNBlock> top = m_model->blocks().topLevelBlocks();
    for (size_t i = 0; i < top.size(); ++i) {
        if (top[i].localID == localID)
            return int(i);
    }
    return 0;
}

PageRowList *PageView::listHolding(const QString &localID) const
{
    // A made row wins over a placeholder of the same block in another list.
    PageRowList *listing = nullptr;
    for (const auto &list : m_lists) {
        if (list && list->row(localID))
            return list;
        if (list && !listing && list->isListed(localID))
            listing = list;
    }
    return listing;
}

BlockRow *PageView::row(const QString &localID) const
{
    PageRowList *list = listHolding(localID);
    return list ? list->ensureRow(localID) : nullptr;
}

QWidget *PageView::rowFrame(const QString &localID) const
{
    PageRowList *list = listHolding(localID);
    return list && list->ensureRow(localID) ? list->frame(localID) : nullptr;
}

bool PageView::isLaidOut() const
{
    return !m_refresh.isActive() && !m_makeVisibleRows.isActive() && !m_makeMarginRows.isActive();
}

void PageView::makeVisibleRows()
{
    // What is in view before the next frame; a screen around it a turn later, once the drag of the
    // scroll bar's handle, if any, has ended.
    makeRowsAround(0);
    if (m_topLevel && m_topLevel->placeholderCount() > 0 && !m_makeVisibleRows.isActive() &&
        !m_scroll->verticalScrollBar()->isSliderDown())
        m_makeMarginRows.start(0);
}

void PageView::makeRowsAround(int margin)
{
    // Reached from inside a layout pass of the rows (the view following its anchor as the pass moves
    // it): made now, the rows would go into the list under that pass, which would then place the
    // rest from its old sizes over them. Made once it is done.
    if (m_topLevel && m_topLevel->isPlacing()) {
        m_makeVisibleRows.start(0);
        return;
    }
    if (margin > 0)
        m_makeMarginRows.stop();
    if (!m_topLevel || m_topLevel->placeholderCount() == 0) {
        checkLaidOut();
        return;
    }
    QWidget *column = m_scroll->widget();
    // Before the view is shown, a screen of a small window: the rest come when it shows.
    const int screen = isVisible() ? m_scroll->viewport()->height() : kLeastScreen;
    // While the handle is dragged, a turn makes a few rows and leaves the rest to the next ones: the
    // view keeps up with the pointer, and the rows fill in between its moves.
    const bool dragging = margin == 0 && m_scroll->verticalScrollBar()->isSliderDown();
    // Rows that come out shorter than their estimate bring more places into view: again until none.
    for (int pass = 0; pass < (dragging ? 1 : kMakePasses); ++pass) {
        // A row that just grew or shrank has only posted its new height: the margin's places are
        // read after it is taken, or the rows below would be guessed at from their hints and many
        // made for nothing.
        if (margin > 0)
            settleNewRows();
        column->layout()->activate();
        const int top = m_scroll->verticalScrollBar()->value() - m_topLevel->mapTo(column, QPoint(0, 0)).y();
        if (pass == 0 && !m_scrollAnchor)
            holdScrollAnchor();
        if (m_topLevel->ensureRowsWithin(top - margin, top + screen + margin,
                                         dragging ? kDragRowsAtOnce : std::numeric_limits<int>::max()) == 0)
            break;
        settleNewRows();
        if (dragging)
            m_makeVisibleRows.start(0);
    }
    column->layout()->activate();
    restoreScrollAnchor();
    // The anchor holds until the user scrolls: the rows just made settle their heights over later
    // layout passes, and a pass that made nothing (one the restoring itself set off, or a timer that
    // came between two of those layout passes) says nothing about whether they are done.
    checkLaidOut();
}

void PageView::settleNewRows()
{
    // New rows learn their height through layout requests posted from row to list to column: taken
    // now, each row has its own height before anything is measured or painted, rather than
    // settling over later turns with the rows below it moving in view.
    for (int round = 0; round < kSettleRounds; ++round)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

void PageView::holdScrollAnchor()
{
    QWidget *viewport = m_scroll->viewport();
    if (!isVisible() || m_scroll->verticalScrollBar()->value() == 0) {
        m_scrollAnchor.clear();
        return;
    }
    // The first row frame under the view's top edge.
    for (int y = 0; y < viewport->height(); y += kAnchorProbeStep) {
        QWidget *hit = viewport->childAt(viewport->width() / 2, y);
        while (hit && hit->parentWidget() != m_topLevel)
            hit = hit->parentWidget();
        if (hit) {
            m_scrollAnchor = hit;
            m_scrollAnchorOffset = hit->mapTo(viewport, QPoint(0, 0)).y();
            // Rows above it settle their heights over several layout passes, each a posted event:
            // the view follows the anchor as each one moves it, so no frame shows it elsewhere.
            hit->installEventFilter(this);
            return;
        }
    }
    m_scrollAnchor.clear();
}

void PageView::restoreScrollAnchor()
{
    if (m_restoringScroll)
        return;
    QScrollBar *bar = m_scroll->verticalScrollBar();
    if (m_scrollAtEnd) {
        if (keepTypedCaretInView())
            return;
        // A handle dragged to the bottom, or a wheel turned to it, means the end.
        m_restoringScroll = true;
        bar->setValue(bar->maximum());
        m_restoringScroll = false;
        return;
    }
    if (m_scrollAnchor) {
        const int drift =
            m_scrollAnchor->mapTo(m_scroll->viewport(), QPoint(0, 0)).y() - m_scrollAnchorOffset;
        if (drift != 0) {
            m_restoringScroll = true;
            bar->setValue(bar->value() + drift);
            m_restoringScroll = false;
        }
    }
    if (m_followTypedCaret)
        keepTypedCaretInView(true);
}

bool PageView::keepTypedCaretInView(bool evenOutOfSight)
{
    // Text typed grows its row downwards: the lines typed stay where they are, and the view moves
    // only to keep the caret in sight. At the page's end, a row with the keyboard out of sight
    // leaves the view at the end.
    auto *editor = qobject_cast<AutoHeightTextView *>(QApplication::focusWidget());
    QWidget *viewport = m_scroll->viewport();
    if (!editor || !m_scroll->widget()->isAncestorOf(editor))
        return false;
    const QRect shown(editor->mapTo(viewport, QPoint(0, 0)), editor->size());
    if (!evenOutOfSight && !shown.intersects(viewport->rect()))
        return false;
    const QRect caret = editor->cursorRect();
    const QPoint centre = editor->viewport()->mapTo(m_scroll->widget(), caret.center());
    m_restoringScroll = true;
    m_scroll->ensureVisible(centre.x(), centre.y(), 0, caret.height() / 2 + kCaretMargin);
    m_restoringScroll = false;
    // The row at the top is held where the view now shows it.
    if (m_scrollAnchor)
        m_scrollAnchorOffset = m_scrollAnchor->mapTo(viewport, QPoint(0, 0)).y();
    return true;
}

void PageView::watchTypedText(QWidget *keyboard)
{
    m_followTypedCaret = false;
    disconnect(m_typedTextWatch);
    auto *editor = qobject_cast<AutoHeightTextView *>(keyboard);
    if (!editor || !m_scroll->widget()->isAncestorOf(editor))
        return;
    m_typedTextWatch = connect(editor, &AutoHeightTextView::textEdited, this, &PageView::followTypedCaret);
}

void PageView::followTypedCaret()
{
    m_followTypedCaret = true;
    // Once the row has taken the height the key gave it.
    m_revealTypedCaret.start(0);
}

int PageView::estimatedHeight(const FNBlock &block) const
{
    struct Face {
        int size;
        QFont::Weight weight;
    };
    // The text kinds' fonts, as their rows set them.
    static const QHash<QString, Face> kFaces = {
        {QStringLiteral("text"), {14, QFont::Normal}},    {QStringLiteral("h1"), {28, QFont::Bold}},
        {QStringLiteral("h2"), {22, QFont::DemiBold}},    {QStringLiteral("h3"), {18, QFont::DemiBold}},
        {QStringLiteral("bullet"), {14, QFont::Normal}},  {QStringLiteral("number"), {14, QFont::Normal}},
        {QStringLiteral("todo"), {14, QFont::Normal}},    {QStringLiteral("quote"), {14, QFont::Normal}},
        {QStringLiteral("callout"), {14, QFont::Normal}}, {QStringLiteral("code"), {14, QFont::Normal}},
        {QStringLiteral("toggle"), {14, QFont::Normal}},
    };
    const auto face = kFaces.constFind(block.type);
    if (face == kFaces.cend())
        return block.type == QLatin1String("divider") ? kDividerHeight : kRichKindHeight;
    const auto metrics = m_faceMetrics.find(block.type);
    const QFontMetricsF &fm =
        metrics != m_faceMetrics.end()
            ? *metrics
            : *m_faceMetrics.insert(block.type,
                                    QFontMetricsF(BlockRow::editorFont(face->size, face->weight)));
    // The stored JSON's length stands for the text's: decoding every block of a long page would
    // cost much of what the placeholders save.
    const int width =
        std::max(kLeastTextWidth, m_scroll->viewport()->width() - 2 * kContentHPad - kRowChrome);
    const int perLine = std::max(1, int(width / std::max(1.0, fm.averageCharWidth())));
    const int chars = std::max(1, int(block.contentJSON.size()) - kContentJSONOverhead);
    const int lines = (chars + perLine - 1) / perLine;
    return int(lines * fm.lineSpacing()) + kRowPadding;
}

void PageView::takeBatch(const BatchChange &change)
{
    // Rows the batch added or removed come and go with the refresh its `stateChanged` schedules.
    m_batchElsewhere = !change.touchesBlocksOf(m_model->pageLocalID());
    if (m_batchElsewhere)
        return;
    m_listedRevision.reset();
    updateRows([&](BlockRow *row) {
        if (change.touchesBlock(row->model().localID()))
            row->model().onStoreChanged();
    });
}

void PageView::updateRows(const std::function<void(BlockRow *)> &update)
{
    // Over a copy: a row that changes may make a nested list of its own, which joins `m_lists`.
    const std::vector<QPointer<PageRowList>> lists = m_lists;
    for (const auto &list : lists) {
        if (list)
            list->updateRows(update);
    }
}
