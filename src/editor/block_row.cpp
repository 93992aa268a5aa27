#include "editor/block_row.h"

#include "blocks/block_kind.h"
#include "blocks/block_view.h"
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

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTextCursor>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr auto kTextPlaceholder = "Type / for commands, or write...";
constexpr auto kHeadingPlaceholder = "Heading";
constexpr auto kListPlaceholder = "List item";
constexpr auto kTodoPlaceholder = "To-do";
constexpr auto kQuotePlaceholder = "Quote";
constexpr auto kCalloutPlaceholder = "Callout";
constexpr auto kCodePlaceholder = "Code";
constexpr auto kSummaryPlaceholder = "Toggle summary";
constexpr auto kBodyPlaceholder = "Hidden body...";
constexpr auto kDeleteBlock = "Delete block";
constexpr auto kBulletMarker = "\u2022";
constexpr auto kNumberMarker = "1.";
constexpr int kChromeSize = 18;
constexpr int kChromeTopPadding = 6;
constexpr int kBodySize = 13;
constexpr int kPopoverWidth = 320;

QColor faded(const QWidget *widget, qreal alpha)
{
    QColor color = widget->palette().color(QPalette::WindowText);
    color.setAlphaF(alpha);
    return color;
}

QToolButton *chromeButton(QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(kChromeSize, kChromeSize);
    return button;
}

// A top-aligned item of the row's horizontal line, padded from the top like the design's chrome.
QWidget *padded(QWidget *widget, int top)
{
    auto *holder = new QWidget;
    auto *layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, top, 0, 0);
    layout->addWidget(widget);
    layout->addStretch(1);
    return holder;
}

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
        m_blockMenu->addAction(kind.label(), this, [this, kind] { m_model->changeType(kind); });
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

BlockRow::~BlockRow()
{
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
}

void BlockRow::setInlineCommentContent(std::function<QWidget *(BlockRow &)> content)
{
    m_inlineCommentContent = std::move(content);
}

QFont BlockRow::editorFont(int size, QFont::Weight weight, bool italic)
{
    QFont font = QApplication::font();
    font.setPixelSize(size);
    const bool kept = weight == QFont::Bold || weight == QFont::DemiBold || weight == QFont::Medium;
    font.setWeight(kept ? weight : QFont::Normal);
    font.setItalic(italic);
    return font;
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
        const QTextCursor cursor = view->textCursor();
        m_model->commentSelectionStart = cursor.selectionStart();
        m_model->commentSelectionLength = cursor.selectionEnd() - cursor.selectionStart();
        m_model->commentSelectionText = rawSelectedText(cursor);
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
    m_line->addWidget(m_content, 1);
    refreshContent();
    updateSlashMenu();
    if (hadFocus && (m_richEditor || m_plainEditor)) {
        if (m_focus && m_richEditor)
            m_focus->setFocusedBlock(m_model->localID());
        focusEditor();
    }
    applyFocus();
}

bool BlockRow::focusEditor()
{
    QWidget *editor = m_richEditor ? static_cast<QWidget *>(m_richEditor) : m_plainEditor;
    if (!editor)
        return false;
    // Content just made is shown by its layout only on a later turn, and a hidden widget takes
    // no focus.
    if (m_content && isVisible() && !m_content->isVisible())
        m_content->show();
    if (!editor->hasFocus())
        editor->setFocus(Qt::OtherFocusReason);
    return true;
}

void BlockRow::splitAtCaret()
{
    if (!m_richEditor)
        return;
    const QTextCursor cursor = m_richEditor->textCursor();
    QString text = m_richEditor->toRawText();
    text.remove(cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart());
    const MarkerSpans::Split split = MarkerSpans::split(text, cursor.selectionStart());
    m_model->handleReturn(split.head, split.tail);
}

QWidget *BlockRow::makeContent(const QString &type)
{
    const auto kind = BlockType::fromRawValue(type);
    if (!kind || *kind == BlockType::text)
        return makeRichEditor(QString::fromLatin1(kTextPlaceholder), editorFont(14, QFont::Normal), true);
    switch (kind->value()) {
    case BlockType::h1:
        return makeRichEditor(QString::fromLatin1(kHeadingPlaceholder), editorFont(28, QFont::Bold), false);
    case BlockType::h2:
        return makeRichEditor(QString::fromLatin1(kHeadingPlaceholder), editorFont(22, QFont::DemiBold),
                              false);
    case BlockType::h3:
        return makeRichEditor(QString::fromLatin1(kHeadingPlaceholder), editorFont(18, QFont::DemiBold),
                              false);
    case BlockType::bullet:
    case BlockType::number: {
        auto *marker =
            new QLabel(QString::fromUtf8(*kind == BlockType::bullet ? kBulletMarker : kNumberMarker));
        marker->setFont(editorFont(14, QFont::Normal));
        marker->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
        return withMarker(
            padded(marker, 2),
            makeRichEditor(QString::fromLatin1(kListPlaceholder), editorFont(14, QFont::Normal), false), 6);
    }
    case BlockType::todo:
        return makeTodo();
    case BlockType::quote: {
        auto *bar = new QFrame;
        bar->setFixedWidth(3);
        bar->setStyleSheet(QStringLiteral("background: %1;").arg(AppStyle::css(faded(this, 0.55 * 0.6))));
        return withMarker(bar,
                          makeRichEditor(QString::fromLatin1(kQuotePlaceholder),
                                         editorFont(14, QFont::Normal, true), false),
                          8);
    }
    case BlockType::callout:
        return makeCallout();
    case BlockType::code:
        return makeCode();
    case BlockType::divider: {
        auto *holder = new QWidget;
        auto *layout = new QVBoxLayout(holder);
        layout->setContentsMargins(0, 6, 0, 6);
        auto *line = new QFrame(holder);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Plain);
        line->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(faded(this, 0.2))));
        layout->addWidget(line);
        return holder;
    }
    case BlockType::toggle:
        return makeToggle();
    default:
        break;
    }
    // The rich kinds: their own views.
    const BlockKind *rich = BlockKind::of(*kind);
    m_kindView = rich ? rich->makeView(*m_model) : new BlockView(*m_model, *kind);
    return m_kindView;
}

RichTextEditor *BlockRow::makeRichEditor(const QString &placeholder, const QFont &font, bool withSlashMenu)
{
    auto *editor = new RichTextEditor;
    editor->setPlaceholderText(placeholder);
    editor->setFont(font);
    editor->setRawText(m_model->text());
    connect(editor, &RichTextEditor::textEdited, m_model, &BlockRowModel::commitText);
    connect(editor, &RichTextEditor::markupInserted, m_model, &BlockRowModel::commitTextNow);
    connect(editor, &RichTextEditor::backspaceAtStart, m_model, &BlockRowModel::handleBackspaceAtStart);
    connect(editor, &RichTextEditor::returnPressed, this, &BlockRow::splitAtCaret);
    editor->setTabIndents(true);
    connect(editor, &AutoHeightTextView::indentRequested, m_model, &BlockRowModel::changeIndent);
    connect(editor, &RichTextEditor::boldRequested, this,
            [this] { wrapSelection(QStringLiteral("**"), QStringLiteral("**")); });
    connect(editor, &RichTextEditor::italicRequested, this,
            [this] { wrapSelection(QStringLiteral("*"), QStringLiteral("*")); });
    connect(editor, &RichTextEditor::underlineRequested, this,
            [this] { wrapSelection(QStringLiteral("__"), QStringLiteral("__")); });
    connect(editor, &RichTextEditor::linkRequested, this, [this] { captureLinkTarget(); });
    connect(editor, &RichTextEditor::commentRequested, this, &BlockRow::beginSelectionComment);
    // A click on the comment button leaves the keyboard in this text: without a proxy, Qt hands the
    // click's focus to the page's scroll area.
    m_commentButton->setFocusProxy(editor);
    connect(editor, &AutoHeightTextView::focusChanged, this,
            [this](bool hasFocus, Qt::FocusReason reason) { onEditorFocus(hasFocus, reason, true); });
    connect(editor, &QTextEdit::cursorPositionChanged, this, &BlockRow::updateSlashMenu);
    m_richEditor = editor;
    if (withSlashMenu) {
        m_slashEnabled = true;
        editor->installEventFilter(this);
    }
    return editor;
}

EditableText *BlockRow::makePlainEditor(const QString &placeholder, const QFont &font)
{
    auto *editor = new EditableText(placeholder, font);
    editor->setRawText(m_model->text());
    connect(editor, &EditableText::textEdited, m_model, &BlockRowModel::commitText);
    editor->setTabIndents(true);
    connect(editor, &AutoHeightTextView::indentRequested, m_model, &BlockRowModel::changeIndent);
    connect(editor, &AutoHeightTextView::focusChanged, this,
            [this](bool hasFocus, Qt::FocusReason reason) { onEditorFocus(hasFocus, reason, false); });
    m_plainEditor = editor;
    return editor;
}

QWidget *BlockRow::withMarker(QWidget *marker, QWidget *editor, int spacing)
{
    auto *holder = new QWidget;
    auto *layout = new QHBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    layout->addWidget(marker);
    layout->addWidget(editor, 1);
    return holder;
}

QWidget *BlockRow::makeTodo()
{
    m_todoBox = new QToolButton;
    m_todoBox->setAutoRaise(true);
    m_todoBox->setFocusPolicy(Qt::NoFocus);
    connect(m_todoBox, &QToolButton::clicked, this, [this] { m_model->toggleChecked(m_drawnChecked); });
    return withMarker(
        padded(m_todoBox, 2),
        makeRichEditor(QString::fromLatin1(kTodoPlaceholder), editorFont(14, QFont::Normal), false), 6);
}

QWidget *BlockRow::makeCallout()
{
    auto *frame = new QFrame;
    frame->setObjectName(QStringLiteral("callout"));
    QColor yellow(Qt::yellow);
    yellow.setAlpha(int(0.1 * 255));
    frame->setStyleSheet(
        QStringLiteral("#callout { background: %1; border-radius: 6px; }").arg(AppStyle::css(yellow)));
    auto *layout = new QHBoxLayout(frame);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);
    m_calloutIcon = new QLabel;
    m_calloutIcon->setFont(editorFont(14, QFont::Normal));
    layout->addWidget(padded(m_calloutIcon, 2));
    layout->addWidget(
        makeRichEditor(QString::fromLatin1(kCalloutPlaceholder), editorFont(14, QFont::Normal), false), 1);
    return frame;
}

QWidget *BlockRow::makeCode()
{
    auto *frame = new QFrame;
    frame->setObjectName(QStringLiteral("code"));
    frame->setStyleSheet(QStringLiteral("#code { background: %1; border-radius: 6px; }")
                             .arg(AppStyle::css(faded(this, 0.55 * 0.08))));
    auto *layout = new QVBoxLayout(frame);
    layout->setContentsMargins(10, 10, 10, 10);
    // The hint makes fontconfig pick a monospaced face even where the theme's fixed font is not one.
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setStyleHint(QFont::Monospace);
    mono.setFixedPitch(true);
    mono.setPixelSize(kBodySize);
    layout->addWidget(makePlainEditor(QString::fromLatin1(kCodePlaceholder), mono));
    return frame;
}

QWidget *BlockRow::makeToggle()
{
    auto *holder = new QWidget;
    auto *stack = new QVBoxLayout(holder);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(4);
    auto *label = new QHBoxLayout;
    label->setSpacing(4);
    m_toggleArrow = chromeButton(holder);
    connect(m_toggleArrow, &QToolButton::clicked, this,
            [this] { m_model->setToggleExpanded(!m_model->readToggleExpanded()); });
    label->addWidget(padded(m_toggleArrow, 2));
    label->addWidget(
        makePlainEditor(QString::fromLatin1(kSummaryPlaceholder), editorFont(kBodySize, QFont::Medium)), 1);
    stack->addLayout(label);

    m_toggleBody = new QWidget(holder);
    auto *body = new QVBoxLayout(m_toggleBody);
    body->setContentsMargins(6 + kChromeSize + 4, 0, 0, 0);
    body->setSpacing(6);
    m_toggleBodyLayout = body;
    stack->addWidget(m_toggleBody);
    return holder;
}

void BlockRow::refreshToggle()
{
    const bool expanded = m_model->readToggleExpanded();
    EditorSymbols::apply(*m_toggleArrow,
                         expanded ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right"));
    m_toggleBody->setVisible(expanded);
    if (!expanded)
        return;
    const QString body = m_model->readToggleBody();
    if (body.isEmpty()) {
        if (m_bodyField) {
            // The field may be the one being typed in: it goes after this event.
            m_bodyField->hide();
            m_toggleBodyLayout->removeWidget(m_bodyField);
            m_bodyField->deleteLater();
            m_bodyField.clear();
        }
    } else {
        if (!m_bodyField) {
            m_bodyField =
                new EditableText(QString::fromLatin1(kBodyPlaceholder), editorFont(kBodySize, QFont::Normal));
            connect(m_bodyField, &EditableText::textEdited, m_model, &BlockRowModel::setToggleBody);
            m_bodyField->setTabIndents(true);
            connect(m_bodyField, &AutoHeightTextView::indentRequested, m_model, &BlockRowModel::changeIndent);
            m_toggleBodyLayout->insertWidget(0, m_bodyField);
        }
        if (!m_bodyField->hasFocus())
            m_bodyField->setRawText(body);
    }
    if (!m_children && m_childContent) {
        m_children = m_childContent();
        if (m_children)
            m_toggleBodyLayout->addWidget(m_children);
    }
}

void BlockRow::refreshContent()
{
    if (m_todoBox) {
        m_drawnChecked = m_model->readChecked();
        EditorSymbols::apply(*m_todoBox, m_drawnChecked ? QStringLiteral("checkmark.square.fill")
                                                        : QStringLiteral("square"));
        m_todoBox->setStyleSheet(
            QStringLiteral("color: %1;")
                .arg(AppStyle::css(m_drawnChecked ? AppStyle::accent(this) : AppStyle::secondary(this))));
        if (m_richEditor)
            m_richEditor->setStrikethrough(m_drawnChecked);
    }
    if (m_calloutIcon)
        m_calloutIcon->setText(m_model->readCalloutIcon());
    if (m_toggleArrow)
        refreshToggle();
    if (m_kindView)
        m_kindView->refresh();
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
        connect(m_slashMenu, &SlashMenu::picked, m_model, &BlockRowModel::applySlashPick);
        connect(m_slashMenu, &SlashMenu::dismissed, m_model, &BlockRowModel::dismissSlashMenu);
    }
    m_slashMenu->setQuery(m_model->slashQuery().value_or(QString()));
    m_slashMenu->move(m_richEditor->mapTo(host, QPoint(0, kSlashMenuOffset)));
    m_slashMenu->raise();
    m_slashMenu->show();
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
