#include "editor/block_row.h"

#include "blocks/block_view.h"
#include "collab/inline_comment_form.h"
#include "editor/auto_height_text_view.h"
#include "editor/block_focus.h"
#include "editor/comment_button.h"
#include "editor/editable_text.h"
#include "editor/format_toolbar.h"
#include "editor/link_sheet.h"
#include "editor/marker_spans.h"
#include "editor/raw_text.h"
#include "editor/rich_text_editor.h"
#include "editor/selection_edit.h"
#include "editor/slash_menu.h"
#include "ui/app_menu.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"
#include "ui/quiet_teardown.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr auto kDeleteBlock = "Delete block";
constexpr int kChromeTopPadding = 6;
constexpr int kPopoverWidth = 320;

} // namespace

BlockRow::BlockRow(LocalStore &store, const FNBlock &block, BlockFocus *focusedBlock,
                   BlockRowModel::Hooks hooks, QWidget *parent, std::chrono::milliseconds textDelay)
    : QWidget(parent)
    , m_model(new BlockRowModel(store, block, focusedBlock, std::move(hooks), textDelay, this))
    , m_focus(focusedBlock)
    , m_outer(new QVBoxLayout(this))
    , m_line(new QHBoxLayout)
{
    m_outer->setSpacing(4);
    m_outer->setAlignment(Qt::AlignTop);
    m_line->setSpacing(6);
    m_outer->addLayout(m_line);

    m_selectBox = chromeButton(this);
    connect(m_selectBox, &QToolButton::clicked, this, [this] {
        if (m_model->hooks().onToggleSelected)
            m_model->hooks().onToggleSelected();
    });
    m_line->addWidget(padded(m_selectBox, kChromeTopPadding));
    m_selectBox->parentWidget()->hide();

    m_menuButton = chromeButton(this);
    EditorSymbols::apply(*m_menuButton, QStringLiteral("ellipsis"));
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    m_menuButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    m_blockMenu = new AppMenu(m_menuButton);
    for (const BlockType kind : BlockType::allCases())
        m_blockMenu->addAction(kind.label(), this, [this, kind] { chooseKind(kind); });
    m_blockMenu->addSeparator();
    AppStyle::markDestructive(
        m_blockMenu->addAction(QString::fromLatin1(kDeleteBlock), this, [this] { m_model->deleteBlock(); }));
    m_menuButton->setMenu(m_blockMenu);
    m_line->addWidget(padded(m_menuButton, kChromeTopPadding));

    m_commentButton = new CommentButton(this);
    connect(m_commentButton, &QToolButton::clicked, m_model, &BlockRowModel::toggleInlineComment);
    m_line->addWidget(padded(m_commentButton, kChromeTopPadding));

    connect(m_model, &BlockRowModel::typeChanged, this, &BlockRow::rebuildContent);
    connect(m_model, &BlockRowModel::indentChanged, this, &BlockRow::applyIndent);
    connect(m_model, &BlockRowModel::contentChanged, this, &BlockRow::refreshContent);
    connect(m_model, &BlockRowModel::textChanged, this, &BlockRow::showText);
    connect(m_model, &BlockRowModel::slashMenuChanged, this, &BlockRow::updateSlashMenu);
    connect(m_model, &BlockRowModel::showLinkSheetChanged, this, &BlockRow::updateLinkSheet);
    connect(m_model, &BlockRowModel::showInlineCommentChanged, this, &BlockRow::updateCommentPopover);
    connect(m_model, &BlockRowModel::blockCommentCountChanged, this,
            [this] { m_commentButton->setCount(m_model->blockCommentCount()); });
    if (m_focus)
        connect(m_focus, &BlockFocus::focusedBlockChanged, this, &BlockRow::applyFocus);

    m_model->loadText();
    applyIndent();
    rebuildContent();
    updateSelectBox();
    applyFocus();
}

QToolButton *BlockRow::chromeButton(QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(kChromeSize, kChromeSize);
    return button;
}

QWidget *BlockRow::padded(QWidget *widget, int top)
{
    auto *holder = new QWidget;
    auto *layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, top, 0, 0);
    layout->addWidget(widget);
    layout->addStretch(1);
    return holder;
}

BlockRow::~BlockRow()
{
    // Its owner flushed the text. Nothing of the row may run once QWidget's destructor takes its
    // parts: its text views tell it nothing more, and the keyboard leaves it before the comment
    // button, whose focus proxy is the text view, would take it away from a half-destroyed row.
    for (QObject *part :
         std::initializer_list<QObject *>{m_richEditor, m_plainEditor, m_bodyField, m_commentPopover}) {
        if (part) {
            part->disconnect(this);
            part->disconnect(m_model);
            part->removeEventFilter(this);
        }
    }
    m_commentButton->setFocusProxy(nullptr);
    releaseKeyboardQuietly(*this);
    // The menu lives on the window, over the neighbouring rows.
    delete m_slashMenu;
}

RichTextEditor *BlockRow::richEditor() const
{
    return m_richEditor;
}

EditableText *BlockRow::plainEditor() const
{
    return m_plainEditor;
}

EditableText *BlockRow::toggleBodyField() const
{
    return m_bodyField;
}

QToolButton *BlockRow::todoBox() const
{
    return m_todoBox;
}

QToolButton *BlockRow::toggleArrow() const
{
    return m_toggleArrow;
}

QLabel *BlockRow::calloutIcon() const
{
    return m_calloutIcon;
}

BlockView *BlockRow::kindView() const
{
    return m_kindView;
}

QLabel *BlockRow::kindLabel() const
{
    return m_kindView ? m_kindView->kindLabel() : nullptr;
}

void BlockRow::setMediaServices(BlockServices services)
{
    services.dialogParent = this;
    m_model->setMediaServices(std::move(services));
    if (m_kindView)
        m_kindView->servicesChanged();
}

SlashMenu *BlockRow::slashMenu() const
{
    return m_slashMenu;
}

LinkSheet *BlockRow::linkSheet() const
{
    return m_linkSheet;
}

QWidget *BlockRow::content() const
{
    return m_content;
}

bool BlockRow::takesPageFocus() const
{
    return m_richEditor != nullptr;
}

void BlockRow::setFormatToolbar(FormatToolbar *toolbar)
{
    m_toolbar = toolbar;
}

FormatToolbar *BlockRow::formatToolbar() const
{
    return m_model->isFocused() && takesPageFocus() ? m_toolbar.data() : nullptr;
}

void BlockRow::setSelectMode(bool on)
{
    m_selectMode = on;
    updateSelectBox();
}

void BlockRow::setSelected(bool selected)
{
    m_selected = selected;
    updateSelectBox();
}

void BlockRow::setChildContent(std::function<QWidget *()> childContent)
{
    m_childContent = std::move(childContent);
    if (m_toggleBody)
        refreshToggle();
}

void BlockRow::setChildColumnContent(std::function<QWidget *(int, int)> childColumnContent)
{
    m_childColumnContent = std::move(childColumnContent);
    m_model->setColumnContent(m_childColumnContent);
    if (m_kindView)
        m_kindView->refresh();
}

void BlockRow::setInlineCommentContent(std::function<QWidget *(BlockRow &)> content)
{
    m_inlineCommentContent = std::move(content);
}

void BlockRow::wrapSelection(const QString &prefix, const QString &suffix)
{
    wrapSelection(qobject_cast<RichTextEditor *>(QApplication::focusWidget()), prefix, suffix);
}

void BlockRow::wrapSelection(RichTextEditor *view, const QString &prefix, const QString &suffix)
{
    if (view)
        view->wrapSelection(prefix, suffix);
    else
        m_model->appendMarkers(prefix, suffix);
}

void BlockRow::captureLinkTarget()
{
    captureLinkTarget(qobject_cast<RichTextEditor *>(QApplication::focusWidget()));
}

void BlockRow::captureLinkTarget(RichTextEditor *view)
{
    // Ctrl+K takes this road as well, so a selection made before it becomes the link's label.
    m_linkTextView = view;
    if (m_linkTextView) {
        const QTextCursor cursor = m_linkTextView->textCursor();
        m_linkSelectionStart = cursor.selectionStart();
        m_linkSelectionLength = cursor.selectionEnd() - cursor.selectionStart();
    }
    m_model->setShowLinkSheet(true);
}

void BlockRow::insertLink()
{
    const QString url = BlockRowModel::trimmedLinkURL(m_model->linkURL());
    // Closed first, so the text view can take the focus back from it.
    m_model->setShowLinkSheet(false);
    m_model->setLinkURL(QString());
    if (url.isEmpty())
        return;
    if (m_linkTextView) {
        m_linkTextView->setFocus(Qt::OtherFocusReason);
        // The text may have changed since the selection was taken.
        selectClamped(*m_linkTextView, m_linkSelectionStart, m_linkSelectionLength);
        m_linkTextView->insertLink(url);
    } else {
        m_model->appendLink(url);
    }
}

void BlockRow::beginSelectionComment()
{
    if (auto *view = qobject_cast<QTextEdit *>(QApplication::focusWidget())) {
        // Document positions count UTF-16 units of the raw text, hidden markers included, so
        // they point into the stored "text".
        const QTextCursor cursor = view->textCursor();
        if (cursor.hasSelection()) {
            m_model->commentSelectionStart = cursor.selectionStart();
            m_model->commentSelectionLength = cursor.selectionEnd() - cursor.selectionStart();
            m_model->commentSelectionText = InlineCommentForm::quoteOf(rawSelectedText(cursor));
        } else {
            m_model->commentSelectionStart.reset();
            m_model->commentSelectionLength.reset();
            m_model->commentSelectionText.reset();
        }
    }
    m_model->setShowInlineComment(true);
}

bool BlockRow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_commentPopover && event->type() == QEvent::Hide) {
        m_model->setShowInlineComment(false);
        return false;
    }
    const bool keyEvent = event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride;
    if (keyEvent && watched == m_richEditor && m_slashMenu && m_slashMenu->isVisible()) {
        auto *key = static_cast<QKeyEvent *>(event);
        const bool menuKey = key->key() == Qt::Key_Up || key->key() == Qt::Key_Down ||
                             key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                             key->key() == Qt::Key_Escape;
        if (event->type() == QEvent::ShortcutOverride) {
            if (menuKey)
                event->accept();
            return false;
        }
        if (m_slashMenu->handleKey(*key))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void BlockRow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The toolbar coming or going moves the text: the menu follows it.
    if (m_slashMenu && m_slashMenu->isVisible())
        updateSlashMenu();
}

void BlockRow::rebuildContent()
{
    const bool hadFocus = m_model->editorHasFocus() || m_model->isFocused();
    // The caret stays where it was in the text, which the new kind keeps.
    std::optional<int> caret;
    if (AutoHeightTextView *old = textView(); old && hadFocus)
        caret = old->textCursor().position();
    if (m_content) {
        // Hiding the focused text view would hand the keyboard to the next block's.
        if (QWidget *focused = QApplication::focusWidget(); focused && m_content->isAncestorOf(focused))
            focused->clearFocus();
        // Still on the stack when a key or a menu click changed the kind: deleted later.
        m_content->hide();
        m_line->removeWidget(m_content);
        m_content->deleteLater();
    }
    m_richEditor.clear();
    m_plainEditor.clear();
    m_bodyField.clear();
    m_toggleBody.clear();
    m_children.clear();
    m_todoBox.clear();
    m_toggleArrow.clear();
    m_calloutIcon.clear();
    m_kindView.clear();
    m_slashEnabled = false;
    m_model->setEditorHasFocus(false);

    m_content = makeContent(m_model->currentBlock().type);
    // Text starts at the row's top whatever its line count, so a line that wraps leaves the line
    // typed where it was rather than centred beside the chrome.
    m_line->addWidget(m_content, 1, hasTextEditor() ? Qt::AlignTop : Qt::Alignment());
    refreshContent();
    updateSlashMenu();
    if (hadFocus && (m_richEditor || m_plainEditor)) {
        if (m_focus && m_richEditor)
            m_focus->setFocusedBlock(m_model->localID());
        if (caret) {
            QTextCursor cursor = textView()->textCursor();
            cursor.setPosition(std::min(*caret, textView()->document()->characterCount() - 1));
            textView()->setTextCursor(cursor);
        }
        focusEditor();
    }
    applyFocus();
}

bool BlockRow::hasTextEditor() const
{
    return m_richEditor || m_plainEditor;
}

AutoHeightTextView *BlockRow::textView() const
{
    return m_richEditor ? static_cast<AutoHeightTextView *>(m_richEditor)
                        : static_cast<AutoHeightTextView *>(m_plainEditor);
}

std::optional<int> BlockRow::caretGoalX() const
{
    const AutoHeightTextView *editor = textView();
    if (!editor)
        return std::nullopt;
    const QTextCursor cursor = editor->textCursor();
    // The x the cursor keeps over shorter lines, else where it stands.
    const int x = cursor.verticalMovementX() >= 0 ? cursor.verticalMovementX() : editor->cursorRect().left();
    return editor->viewport()->mapToGlobal(QPoint(x, 0)).x();
}

void BlockRow::placeCaretAt(Caret line, int globalX)
{
    AutoHeightTextView *editor = textView();
    if (!editor || line == Caret::keep)
        return;
    QTextCursor edge(editor->document());
    edge.movePosition(line == Caret::start ? QTextCursor::Start : QTextCursor::End);
    const int x = editor->viewport()->mapFromGlobal(QPoint(globalX, 0)).x();
    QTextCursor cursor = editor->cursorForPosition(QPoint(x, editor->cursorRect(edge).center().y()));
    cursor.setVerticalMovementX(x);
    editor->setTextCursor(cursor);
}

bool BlockRow::focusEditor(Caret caret)
{
    AutoHeightTextView *editor = textView();
    if (!editor)
        return false;
    if (caret != Caret::keep)
        editor->moveCursor(caret == Caret::start ? QTextCursor::Start : QTextCursor::End);
    showContentNow();
    if (!editor->hasFocus())
        editor->setFocus(Qt::OtherFocusReason);
    return true;
}

void BlockRow::showContentNow()
{
    // Content just made is shown by its layout only on a later turn, and a hidden widget takes
    // no focus.
    if (m_content && isVisible() && !m_content->isVisible())
        m_content->show();
}

void BlockRow::takeKeyboardForKind()
{
    showContentNow();
    if (m_kindView && m_kindView->takeEntry())
        return;
    if (!hasTextEditor()) {
        m_model->passKeyboardOn();
        return;
    }
    const bool here =
        QApplication::focusWidget() && m_content && m_content->isAncestorOf(QApplication::focusWidget());
    if (!here)
        focusEditor(Caret::end);
    if (m_focus && m_richEditor)
        m_focus->setFocusedBlock(m_model->localID());
}

void BlockRow::chooseKind(BlockType kind)
{
    m_model->changeType(kind);
    // The menu had the keyboard while it was open, and a window manager need not hand it back to
    // the window: it goes to the block just changed.
    if (!isActiveWindow())
        window()->activateWindow();
    takeKeyboardForKind();
}

void BlockRow::splitAtCaret()
{
    if (!m_richEditor)
        return;
    const QTextCursor cursor = m_richEditor->textCursor();
    QString text = m_richEditor->toRawText();
    text.remove(cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart());
    const MarkerSpans::Split split = MarkerSpans::split(text, cursor.selectionStart());
    if (m_model->handleReturn(split.head, split.tail))
        takeKeyboardForKind();
    else if (split.head.isEmpty() && m_richEditor)
        m_richEditor->moveCursor(QTextCursor::Start); // out of a hidden marker the cut stepped over
}

void BlockRow::applyIndent()
{
    m_outer->setContentsMargins(int(m_model->currentBlock().indentLevel) * kIndentStep, 0, 0, 0);
}

void BlockRow::applyFocus()
{
    if (!m_model->isFocused())
        return;
    if (!takesPageFocus()) {
        // Nothing here formats text, so the toolbar has nothing to act on: the focus is let go.
        if (m_focus)
            m_focus->setFocusedBlock(std::nullopt);
        return;
    }
    if (!m_richEditor->hasFocus())
        m_richEditor->setFocus(Qt::OtherFocusReason);
}

void BlockRow::showText()
{
    if (m_richEditor)
        m_richEditor->setRawText(m_model->text());
    if (m_plainEditor)
        m_plainEditor->setRawText(m_model->text());
    updateSlashMenu();
}

void BlockRow::updateSlashMenu()
{
    const bool shown = m_slashEnabled && m_richEditor && m_model->isSlashMenuShown();
    if (!shown) {
        if (m_slashMenu)
            m_slashMenu->hide();
        return;
    }
    QWidget *host = window();
    if (m_slashMenu && m_slashMenu->parentWidget() != host)
        delete m_slashMenu;
    if (!m_slashMenu) {
        m_slashMenu = new SlashMenu(host);
        connect(m_slashMenu, &SlashMenu::picked, this, &BlockRow::pickKind);
        connect(m_slashMenu, &SlashMenu::dismissed, m_model, &BlockRowModel::dismissSlashMenu);
    }
    m_slashMenu->setQuery(m_model->slashQuery().value_or(QString()));
    const QSize natural(m_slashMenu->width(), SlashMenu::panelHeight(qsizetype(m_slashMenu->kinds().size())));
    const QRect place = slashMenuGeometry(m_richEditor->mapTo(host, QPoint()), natural, host->size());
    m_slashMenu->setFixedHeight(place.height());
    m_slashMenu->move(place.topLeft());
    m_slashMenu->raise();
    m_slashMenu->show();
}

QRect BlockRow::slashMenuGeometry(QPoint editorTop, QSize menu, QSize host)
{
    // Below the text's first line when it fits, else above the text; failing both, on the roomier
    // side, cut to the room there. Inside the window either way.
    const int below = editorTop.y() + kSlashMenuOffset;
    const int roomBelow = host.height() - below;
    const int roomAbove = editorTop.y();
    int height = menu.height();
    int y = below;
    if (height > roomBelow) {
        if (height <= roomAbove || roomAbove > roomBelow) {
            height = std::min(height, roomAbove);
            y = editorTop.y() - height;
        } else {
            height = roomBelow;
        }
    }
    height = std::min(height, host.height());
    y = std::clamp(y, 0, std::max(0, host.height() - height));
    const int x = std::clamp(editorTop.x(), 0, std::max(0, host.width() - menu.width()));
    return {x, y, menu.width(), height};
}

void BlockRow::pickKind(BlockType kind)
{
    m_model->applySlashPick(kind);
    // Keys typed right after the pick would otherwise land nowhere: a kind's own field takes them.
    takeKeyboardForKind();
}

void BlockRow::updateLinkSheet()
{
    if (!m_model->showLinkSheet()) {
        if (LinkSheet *sheet = m_linkSheet) {
            m_linkSheet.clear();
            sheet->disconnect(this);
            sheet->hide();
            sheet->deleteLater();
        }
        return;
    }
    if (m_linkSheet)
        return;
    m_linkSheet = new LinkSheet(this);
    m_linkSheet->urlField()->setText(m_model->linkURL());
    connect(m_linkSheet->urlField(), &QLineEdit::textChanged, m_model, &BlockRowModel::setLinkURL);
    connect(m_linkSheet, &LinkSheet::cancelClicked, this, &BlockRow::cancelLink);
    connect(m_linkSheet, &LinkSheet::insertClicked, this, &BlockRow::insertLink);
    // Escape or the window's close: the sheet goes, the address typed so far stays.
    connect(m_linkSheet, &QDialog::rejected, this, [this] { m_model->setShowLinkSheet(false); });
    m_linkSheet->open();
}

void BlockRow::updateCommentPopover()
{
    if (!m_model->showInlineComment()) {
        if (QFrame *popover = m_commentPopover) {
            m_commentPopover.clear();
            popover->removeEventFilter(this);
            popover->hide();
            popover->deleteLater();
        }
        return;
    }
    if (m_commentPopover)
        return;
    // Without content there is nothing to show: an empty popup would only swallow the next click
    // and keystrokes.
    QWidget *content = m_inlineCommentContent ? m_inlineCommentContent(*this) : nullptr;
    if (!content)
        return;
    auto *popover = new QFrame(this, Qt::Popup);
    popover->setFixedWidth(kPopoverWidth);
    auto *stack = new QVBoxLayout(popover);
    stack->setContentsMargins(16, 16, 16, 16);
    stack->setSpacing(10);
    stack->addWidget(content);
    m_commentPopover = popover;
    // Clicking outside closes a popup: the flag follows (eventFilter).
    popover->installEventFilter(this);
    popover->move(m_commentButton->mapToGlobal(QPoint(0, m_commentButton->height())));
    popover->show();
    content->setFocus(); // the next keystroke belongs to the comment
}

void BlockRow::updateSelectBox()
{
    m_selectBox->parentWidget()->setVisible(m_selectMode);
    EditorSymbols::apply(*m_selectBox,
                         m_selected ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle"));
    m_selectBox->setStyleSheet(
        QStringLiteral("color: %1;")
            .arg(AppStyle::css(m_selected ? AppStyle::accent(this) : AppStyle::secondary(this))));
}

void BlockRow::onEditorFocus(bool hasFocus, Qt::FocusReason reason, bool tiedToPage)
{
    m_model->setEditorHasFocus(hasFocus);
    if (!tiedToPage || !m_focus)
        return;
    if (hasFocus) {
        m_focus->setFocusedBlock(m_model->localID());
        return;
    }
    // A sheet, a menu or another window taking the keyboard for a moment leaves the block focused.
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
        return;
    if (m_focus->isFocused(m_model->localID()))
        m_focus->setFocusedBlock(std::nullopt);
}
