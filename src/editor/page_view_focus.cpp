// Where the keyboard goes when a page opens, a block goes or a row loses its text: always where the
// next keystroke belongs, and at once, since keys typed right after the action are on their way.
#include "editor/page_view.h"

#include "editor/auto_height_text_view.h"
#include "store/local_store.h"

#include <QApplication>
#include <QLayout>
#include <QScrollArea>
#include <QTextCursor>
#include <QTimer>

#include <utility>

namespace {

constexpr auto kNewBlockType = "text";
constexpr int kRevealMargin = 24;

} // namespace

std::vector<FNBlock> PageView::siblingsOf(const FNBlock &block) const
{
    if (PageBlockList::isTopLevel(block))
        return m_model->blocks().topLevelBlocks();
    return PageBlockList::siblingsOf(m_model->blocks().pageBlocks(), block.parentBlockLocalID,
                                     block.parentBlockServerID);
}

bool PageView::focusRow(const QString &localID, BlockRow::Caret caret, Reveal reveal,
                        std::optional<int> goalX)
{
    BlockRow *target = row(localID);
    if (!target || !target->focusEditor(caret))
        return false;
    if (target->takesPageFocus())
        m_model->focus().setFocusedBlock(localID);
    if (goalX) {
        // A row made a moment ago breaks its lines only once it has its width.
        settleLayout();
        target->placeCaretAt(caret, *goalX);
    }
    if (reveal == Reveal::now)
        revealCaret(localID);
    else
        QTimer::singleShot(0, this, [this, localID] { revealCaret(localID); });
    return true;
}

void PageView::settleLayout()
{
    settleNewRows();
    if (QLayout *column = m_scroll->widget()->layout())
        column->activate();
}

void PageView::revealCaret(const QString &localID)
{
    QWidget *frame = rowFrame(localID);
    if (!frame)
        return;
    // A row made a moment ago has its place only once the layouts have run: measured before, it
    // sits at the list's top, and the view would jump there.
    settleLayout();
    QWidget *column = m_scroll->widget();
    BlockRow *target = row(localID);
    AutoHeightTextView *editor = target ? target->textView() : nullptr;
    if (editor && editor->hasFocus()) {
        // The caret's line, not the whole row: in a long block the view stays where the writing is.
        const QRect caret = editor->cursorRect();
        const QPoint centre = editor->viewport()->mapTo(column, caret.center());
        m_scroll->ensureVisible(centre.x(), centre.y(), 0, caret.height() / 2 + kRevealMargin);
        return;
    }
    m_scroll->ensureWidgetVisible(frame);
}

void PageView::focusTitleAtEnd()
{
    m_titleField->setFocus(Qt::OtherFocusReason);
    m_titleField->moveCursor(QTextCursor::End);
    m_scroll->ensureWidgetVisible(m_titleField);
}

void PageView::enterPage()
{
    // Rows for blocks stored a moment ago are made now.
    if (m_refresh.isActive())
        refresh();
    m_enteringPage = false;
    if (!m_model->title().isEmpty()) {
        for (const FNBlock &block : m_model->blocks().topLevelBlocks()) {
            if (focusRow(block.localID, BlockRow::Caret::end, Reveal::afterLayout))
                return;
        }
        m_enteringPage = !m_blocksLoaded;
    }
    focusTitleAtEnd();
}

void PageView::enterLoadedPage()
{
    m_blocksLoaded = true;
    if (!std::exchange(m_enteringPage, false))
        return;
    // Only while the user has neither typed nor moved on.
    const QTextCursor caret = m_titleField->textCursor();
    const bool inTitle = m_titleField->hasFocus() || window()->focusWidget() == m_titleField;
    if (inTitle && m_titleField->toRawText() == m_model->title() && !caret.hasSelection() && caret.atEnd())
        enterPage();
}

void PageView::deleteEmptyBlock(const QString &localID)
{
    const auto block = storedBlock(localID);
    if (!block)
        return;
    // The nearest block before it that has text to write in, found while its row still stands.
    std::optional<QString> before;
    const std::vector<FNBlock> siblings = siblingsOf(*block);
    const auto at = std::find_if(siblings.begin(), siblings.end(),
                                 [&](const FNBlock &b) { return b.localID == localID; });
    for (auto i = at; i != siblings.begin();) {
        --i;
        if (BlockRow *candidate = row(i->localID); candidate && candidate->hasTextEditor()) {
            before = i->localID;
            break;
        }
    }
    if (!before && !PageBlockList::isTopLevel(*block) && row(block->parentBlockLocalID))
        before = block->parentBlockLocalID;
    if (!m_model->deleteBlockIfEmpty(*block))
        return;
    refresh();
    if (!before || !focusRow(*before, BlockRow::Caret::end))
        focusTitleAtEnd();
}

void PageView::moveToNeighbour(const QString &localID, bool down)
{
    const auto block = storedBlock(localID);
    if (!block)
        return;
    const std::vector<FNBlock> siblings = siblingsOf(*block);
    const auto at = std::find_if(siblings.begin(), siblings.end(),
                                 [&](const FNBlock &b) { return b.localID == localID; });
    if (at == siblings.end())
        return;
    const BlockRow::Caret caret = down ? BlockRow::Caret::start : BlockRow::Caret::end;
    // The caret keeps its place across the line, as it does between the lines of one block.
    BlockRow *from = row(localID);
    const std::optional<int> goalX = from ? from->caretGoalX() : std::nullopt;
    if (down) {
        for (auto i = at + 1; i != siblings.end(); ++i) {
            if (focusRow(i->localID, caret, Reveal::now, goalX))
                return;
        }
        return;
    }
    for (auto i = at; i != siblings.begin();) {
        --i;
        if (focusRow(i->localID, caret, Reveal::now, goalX))
            return;
    }
    if (PageBlockList::isTopLevel(*block))
        focusTitleAtEnd();
}

void PageView::passKeyboardOn(const QString &localID)
{
    const auto block = storedBlock(localID);
    if (!block)
        return;
    const std::vector<FNBlock> siblings = siblingsOf(*block);
    auto i = std::find_if(siblings.begin(), siblings.end(),
                          [&](const FNBlock &b) { return b.localID == localID; });
    if (i != siblings.end()) {
        for (++i; i != siblings.end(); ++i) {
            if (focusRow(i->localID, BlockRow::Caret::start))
                return;
        }
    }
    const auto added = m_model->insertBlockAfter(*block, QString::fromLatin1(kNewBlockType));
    if (!added)
        return;
    refresh();
    focusRow(*added, BlockRow::Caret::start);
}

void PageView::pressOnNoRow(const QPoint &at)
{
    QWidget *viewport = m_scroll->viewport();
    // A press a row let through (on its margin, its label) is the row's own; one outside the view
    // (a view squeezed to nothing) is no user's.
    QWidget *hit = viewport->childAt(at);
    if (!viewport->rect().contains(at) || (hit && hit != m_topLevel && m_topLevel->isAncestorOf(hit)))
        return;
    // Below the last row the writing goes on at the end of the page, which is in sight there.
    const int listBottom = m_topLevel->mapTo(viewport, QPoint(0, m_topLevel->height())).y();
    if (hit != m_topLevel && at.y() >= listBottom) {
        const QString last = m_topLevel->lastListed();
        if (!last.isEmpty() && focusRow(last, BlockRow::Caret::end))
            return;
        // A last block without text (a divider, an image) gets a text block after it to write in.
        if (!last.isEmpty()) {
            passKeyboardOn(last);
            return;
        }
    }
    // Keys go nowhere rather than into a row scrolled out of sight, where nothing on screen would
    // show them landing.
    QWidget *keys = QApplication::focusWidget();
    if (!keys || !m_scroll->widget()->isAncestorOf(keys))
        return;
    const QRect shown(keys->mapTo(viewport, QPoint(0, 0)), keys->size());
    if (!shown.intersects(viewport->rect()))
        m_scroll->setFocus(Qt::MouseFocusReason);
}
