#include "editor/page_view.h"

#include "editor/auto_height_text_view.h"
#include "editor/block_drop_target.h"
#include "editor/block_focus.h"
#include "editor/block_row.h"
#include "editor/cover_image.h"
#include "editor/emoji_picker.h"
#include "editor/export_actions.h"
#include "editor/format_toolbar.h"
#include "platform/dialog_confirmer.h"
#include "platform/dialog_file_picker.h"
#include "store/local_store.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"
#include "ui/quiet_teardown.h"
#include "ui/shown_text.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr auto kTitlePlaceholder = "Untitled";
constexpr auto kAddIcon = "Add icon";
constexpr auto kChangeIcon = "Change icon";
constexpr auto kAddBlock = "Add block";
constexpr auto kSelectBlocks = "Select blocks to delete";
constexpr auto kDoneSelecting = "Done selecting";
constexpr auto kExportTemplate = "Export / Template";
constexpr auto kExportMarkdown = "Export as Markdown";
constexpr auto kSaveAsTemplate = "Save as Template";
constexpr auto kAI = "Derud AI";
constexpr auto kComments = "Comments";
constexpr auto kSuggestions = "Suggestions";
constexpr auto kShare = "Share";
constexpr auto kPublish = "Publish to web";
constexpr auto kHistory = "Version History";
constexpr auto kSelectedCount = "%1 selected";
constexpr auto kCancel = "Cancel";
constexpr auto kDeleteCount = "Delete (%1)";
constexpr auto kConfirmTitle = "Delete %1 blocks?";
constexpr auto kConfirmAction = "Delete %1 blocks";
constexpr auto kFirstBlockType = "text";

constexpr int kHeaderTopPad = 8;
constexpr int kHeaderBottomPad = 28;
constexpr int kAddBlockTopPad = 6;
constexpr int kBottomSpace = 200;
constexpr int kIconFontSize = 38;
constexpr int kIconFrame = 50;
constexpr int kPlaceholderIconSize = 22;
constexpr int kPlaceholderFrame = 38;
constexpr int kSelectionBarPad = 12;

} // namespace

QPushButton *PageView::symbolButton(const QString &symbol, const QString &text, const QString &colourCss)
{
    auto *button = new QPushButton;
    button->setFlat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    const QIcon icon = EditorSymbols::icon(symbol);
    if (!icon.isNull()) {
        button->setIcon(icon);
        button->setText(text);
    } else {
        const QString glyph = EditorSymbols::glyph(symbol);
        button->setText(text.isEmpty() ? glyph : glyph + QLatin1Char(' ') + text);
    }
    button->setStyleSheet(
        QStringLiteral("QPushButton { color: %1; border: none; text-align: left; padding: 0; }")
            .arg(colourCss));
    return button;
}

PageView::PageView(const AppContext &context, const QString &pageLocalID, QWidget *parent,
                   PageViewModel::Timing timing)
    : QWidget(parent)
    , m_model(new PageViewModel(context, pageLocalID, timing, this))
    , m_ownConfirmer(std::make_unique<DialogConfirmer>(AppStyle::makeDestructive))
    , m_confirmer(m_ownConfirmer.get())
    , m_filePicker(std::make_shared<DialogFilePicker>())
{
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    buildToolbar();
    stack->addWidget(m_toolbar);
    auto *body = new QHBoxLayout;
    body->setSpacing(0);
    body->addWidget(buildColumn(), 1);
    stack->addLayout(body, 1);
    stack->addWidget(buildSelectionBar());
    buildFormatToolbar();
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget *, QWidget *now) { watchTypedText(now); });

    m_refresh.setSingleShot(true);
    connect(&m_refresh, &QTimer::timeout, this, &PageView::refreshScheduled);
    m_revealTypedCaret.setSingleShot(true);
    connect(&m_revealTypedCaret, &QTimer::timeout, this, [this] {
        if (!m_followTypedCaret)
            return;
        settleLayout();
        keepTypedCaretInView(true);
    });
    connect(&m_model->store(), &LocalStore::stateChanged, this, &PageView::storeChanged);
    connect(&m_model->store(), &LocalStore::batchApplied, this, &PageView::takeBatch);
    connect(&m_model->store(), &LocalStore::blockChanged, this, &PageView::takeStoredBlock);
    // A record changed outside a batch may be one of this page's blocks: the next `stateChanged`
    // reads the rows again, whatever batch came before it.
    const auto notElsewhere = [this] { m_batchElsewhere = false; };
    connect(&m_model->store(), &LocalStore::blockChanged, this, notElsewhere);
    connect(&m_model->store(), &LocalStore::pageChanged, this, notElsewhere);
    connect(&m_model->store(), &LocalStore::recordsChanged, this, [this] {
        m_batchElsewhere = false;
        m_listedRevision.reset();
    });
    connect(m_model, &PageViewModel::headerChanged, this, &PageView::refreshHeader);
    connect(m_model, &PageViewModel::selectionChanged, this, &PageView::refreshSelection);
    connect(m_model, &PageViewModel::panelsChanged, this, &PageView::refreshToolbar);
    connect(m_model, &PageViewModel::multiDeleteConfirmRequested, this, &PageView::confirmMultiDelete);
    connect(m_model, &PageViewModel::focusApplied, this, &PageView::applyFocus);
    connect(m_model, &PageViewModel::emojiPickerRequested, this, &PageView::showEmojiPicker);
    connect(m_model, &PageViewModel::titleEntryRequested, this, &PageView::beginTitleEntry);
    connect(m_model, &PageViewModel::pageEntryRequested, this, &PageView::enterPage);
    connect(m_model, &PageViewModel::blocksLoaded, this, &PageView::enterLoadedPage);
    connect(m_model, &PageViewModel::storedContentTaken, this, &PageView::takeStoredContent);
    connect(this, &PageView::exportMarkdownRequested, this, &PageView::exportMarkdown);
    connect(this, &PageView::saveAsTemplateRequested, this, &PageView::saveAsTemplate);
    m_model->setRowReady([this](const QString &localID) { return row(localID) != nullptr; });

    refresh();
    refreshSelection();
}

PageView::~PageView()
{
    // What the page holds goes to the store while all of it is whole.
    leave();
    delete m_dropTarget;
    // Then nothing may reach this view while QWidget's destructor takes its children: what outlives
    // its members is cut off, and the keyboard leaves before a row's comment button or the format
    // toolbar (whose focus proxy is a row's text) would take it away from half-destroyed rows. (The
    // store is left alone: a view deleted later may outlive it.)
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(m_model, nullptr, this, nullptr);
    disconnect(m_toolbarTextWatch);
    disconnect(m_typedTextWatch);
    m_scroll->verticalScrollBar()->disconnect(this);
    m_scroll->viewport()->removeEventFilter(this);
    m_topLevel->removeEventFilter(this);
    m_model->focus().disconnect(this);
    releaseKeyboardQuietly(*this);
    m_placeToolbar.stop();
    m_makeVisibleRows.stop();
    m_makeMarginRows.stop();
    for (const auto &anchor : m_toolbarAnchors) {
        if (anchor)
            anchor->removeEventFilter(this);
    }
}

EmojiPicker *PageView::emojiPicker() const
{
    return m_emojiPicker;
}

void PageView::setFilePicker(std::shared_ptr<FilePicker> picker)
{
    m_filePicker = std::move(picker);
    m_cover->model().setFilePicker(m_filePicker);
    updateRows([this](BlockRow *row) {
        BlockServices services = row->model().services();
        services.filePicker = m_filePicker;
        row->setMediaServices(std::move(services));
    });
}

QCoro::Task<bool> PageView::exportMarkdown()
{
    // Words typed in the last moments are part of the page the user sees.
    storePendingRowText();
    return ExportActions::exportMarkdown(m_model->context(), m_filePicker, m_model->pageLocalID(), this);
}

void PageView::saveAsTemplate()
{
    storePendingRowText();
    ExportActions::saveAsTemplate(m_model->context(), m_model->pageLocalID());
}

void PageView::buildToolbar()
{
    m_toolbar = new QToolBar(this);
    m_toolbar->setFocusPolicy(Qt::NoFocus);
    const auto add = [this](const char *symbol, const char *tooltip) {
        auto *button = new QToolButton(m_toolbar);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        EditorSymbols::apply(*button, QString::fromLatin1(symbol));
        button->setToolTip(QString::fromLatin1(tooltip));
        m_toolbar->addWidget(button);
        return button;
    };
    m_selectButton = add("checklist", kSelectBlocks);
    connect(m_selectButton, &QToolButton::clicked, m_model, &PageViewModel::toggleSelectMode);

    m_exportButton = add("square.and.arrow.up", kExportTemplate);
    m_exportButton->setPopupMode(QToolButton::InstantPopup);
    m_exportButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    m_exportMenu = new QMenu(m_exportButton);
    QAction *exportAction = m_exportMenu->addAction(QString::fromLatin1(kExportMarkdown), this,
                                                    &PageView::exportMarkdownRequested);
    exportAction->setIcon(EditorSymbols::icon(QStringLiteral("arrow.down.doc")));
    QAction *templateAction = m_exportMenu->addAction(QString::fromLatin1(kSaveAsTemplate), this,
                                                      &PageView::saveAsTemplateRequested);
    templateAction->setIcon(EditorSymbols::icon(QStringLiteral("doc.on.doc")));
    m_exportButton->setMenu(m_exportMenu);

    m_aiButton = add("sparkles", kAI);
    connect(m_aiButton, &QToolButton::clicked, this, [this] { m_model->setShowAI(!m_model->showAI()); });
    m_commentsButton = add("bubble.left.and.bubble.right", kComments);
    connect(m_commentsButton, &QToolButton::clicked, this,
            [this] { m_model->setShowComments(!m_model->showComments()); });
    m_suggestionsButton = add("checkmark.bubble", kSuggestions);
    connect(m_suggestionsButton, &QToolButton::clicked, this,
            [this] { m_model->setShowSuggestions(!m_model->showSuggestions()); });
    for (QToolButton *panel : {m_aiButton, m_commentsButton, m_suggestionsButton})
        panel->setCheckable(true);

    m_shareButton = add("person.2", kShare);
    connect(m_shareButton, &QToolButton::clicked, this, [this] { m_model->setShowShare(true); });
    m_publishButton = add("globe", kPublish);
    connect(m_publishButton, &QToolButton::clicked, this, [this] { m_model->setShowPublish(true); });
    m_historyButton = add("clock.arrow.circlepath", kHistory);
    connect(m_historyButton, &QToolButton::clicked, this, [this] { m_model->setShowHistory(true); });
}

QWidget *PageView::buildColumn()
{
    m_scroll = new QScrollArea(this);
    // Reached by Tab only: a click on a part of the page that takes no keyboard (an upload button, a
    // block's menu) would otherwise give it to the scroll area, where typing goes nowhere.
    m_scroll->setFocusPolicy(Qt::TabFocus);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto *column = new QWidget;
    column->setAttribute(Qt::WA_StaticContents);
    auto *columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);

    // The cover band's place; the band itself is put in by its owner.
    m_coverSlot = new QWidget(column);
    m_coverLayout = new QVBoxLayout(m_coverSlot);
    m_coverLayout->setSpacing(0);
    m_cover = new CoverImage(m_model->context(), m_filePicker, m_model->pageLocalID(), m_coverSlot);
    m_coverLayout->addWidget(m_cover);
    columnLayout->addWidget(m_coverSlot);

    auto *header = new QWidget(column);
    header->setAttribute(Qt::WA_StaticContents);
    auto *headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(kContentHPad, kHeaderTopPad, kContentHPad, kHeaderBottomPad);
    headerLayout->setSpacing(kSpacing);

    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(kSpacing);
    m_iconButton = new QToolButton(header);
    m_iconButton->setAutoRaise(true);
    m_iconButton->setFocusPolicy(Qt::NoFocus);
    connect(m_iconButton, &QToolButton::clicked, this, [this] { m_model->setShowEmojiPicker(true); });
    titleRow->addWidget(m_iconButton, 0, Qt::AlignTop);
    m_titleField = new AutoHeightTextView(header);
    m_titleField->setPlaceholderText(QString::fromLatin1(kTitlePlaceholder));
    QFont titleFont = m_titleField->font();
    titleFont.setPixelSize(kTitleFontSize);
    titleFont.setBold(true);
    m_titleField->setFont(titleFont);
    m_titleField->installEventFilter(this);
    connect(m_titleField, &AutoHeightTextView::textEdited, m_model, &PageViewModel::scheduleTitleSave);
    titleRow->addWidget(m_titleField, 1);
    headerLayout->addLayout(titleRow);

    // A long page makes the rows on screen and holds the place of the rest.
    m_topLevel =
        new PageRowList([this] { return m_model->blocks().topLevelBlocks(); },
                        [this](const FNBlock &block) { return blockRow(block, true); }, kSpacing, header,
                        [this](const FNBlock &block, int) { return estimatedHeight(block); });
    m_lists.emplace_back(m_topLevel);
    m_topLevel->installEventFilter(this);
    connect(m_topLevel, &PageRowList::rowsMade, this, [this] { m_placeToolbar.start(0); });
    headerLayout->addWidget(m_topLevel);

    m_addBlockButton = symbolButton(QStringLiteral("plus.circle"), QString::fromLatin1(kAddBlock),
                                    AppStyle::css(AppStyle::secondary(this)));
    connect(m_addBlockButton, &QPushButton::clicked, this, &PageView::addFocusedBlock);
    auto *addHolder = new QWidget(header);
    auto *addLayout = new QHBoxLayout(addHolder);
    addLayout->setContentsMargins(0, kAddBlockTopPad, 0, 0);
    addLayout->addWidget(m_addBlockButton);
    addLayout->addStretch(1);
    headerLayout->addWidget(addHolder);
    headerLayout->addSpacing(kBottomSpace);

    columnLayout->addWidget(header);
    columnLayout->addStretch(1);
    m_scroll->setWidget(column);
    m_scroll->viewport()->installEventFilter(this);
    m_dropTarget = new BlockDropTarget(
        m_scroll, m_topLevel,
        [this](const QString &localID, int targetIndex) { m_model->moveBlockOnDrop(localID, targetIndex); },
        this);
    m_makeVisibleRows.setSingleShot(true);
    connect(&m_makeVisibleRows, &QTimer::timeout, this, &PageView::makeVisibleRows);
    m_makeMarginRows.setSingleShot(true);
    connect(&m_makeMarginRows, &QTimer::timeout, this,
            [this] { makeRowsAround(std::max(m_scroll->viewport()->height(), 1)); });
    // Rows scrolled into view are made before the frame that shows them.
    connect(m_scroll->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (!m_restoringScroll) {
            const QScrollBar *bar = m_scroll->verticalScrollBar();
            m_scrollAnchor.clear();
            m_scrollAtEnd = bar->maximum() > 0 && bar->value() == bar->maximum();
            m_followTypedCaret = false;
        }
        // A handle dragged moves the view at once, over placeholders; their rows come over the next
        // turns, a few at a time, so that no move waits on a screen of rows.
        if (m_scroll->verticalScrollBar()->isSliderDown())
            m_makeVisibleRows.start(0);
        else
            makeVisibleRows();
    });
    connect(m_scroll->verticalScrollBar(), &QScrollBar::rangeChanged, this, &PageView::restoreScrollAnchor);
    connect(m_scroll->verticalScrollBar(), &QScrollBar::sliderReleased, this,
            [this] { m_makeVisibleRows.start(0); });
    return m_scroll;
}

QWidget *PageView::buildSelectionBar()
{
    m_selectionBar = new QWidget(this);
    m_selectionBar->setObjectName(QStringLiteral("selectionBar"));
    m_selectionBar->setAttribute(Qt::WA_StyledBackground);
    m_selectionBar->setStyleSheet(QStringLiteral("#selectionBar { background: palette(window); }"));
    auto *layout = new QHBoxLayout(m_selectionBar);
    layout->setContentsMargins(kSelectionBarPad, kSelectionBarPad, kSelectionBarPad, kSelectionBarPad);
    m_selectionCount = new QLabel(m_selectionBar);
    m_selectionCount->setStyleSheet(
        QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    layout->addWidget(m_selectionCount);
    layout->addStretch(1);
    m_cancelSelection = new QPushButton(QString::fromLatin1(kCancel), m_selectionBar);
    connect(m_cancelSelection, &QPushButton::clicked, m_model, &PageViewModel::cancelSelection);
    layout->addWidget(m_cancelSelection);
    m_deleteSelected = new QPushButton(m_selectionBar);
    m_deleteSelected->setIcon(EditorSymbols::icon(QStringLiteral("trash")));
    AppStyle::makeDestructive(m_deleteSelected);
    connect(m_deleteSelected, &QPushButton::clicked, m_model, &PageViewModel::requestDeleteSelected);
    layout->addWidget(m_deleteSelected);
    m_selectionBar->hide();
    return m_selectionBar;
}

void PageView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    m_model->appear();
    // The first frame shows the rows in view, not their placeholders.
    makeVisibleRows();
    scheduleRefresh();
}

void PageView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        leave();
}

bool PageView::eventFilter(QObject *watched, QEvent *event)
{
    // Rows made or resized move the places below them: those now in view are made once it settles.
    // Text wraps anew at another width: so do the placeholders' estimates.
    if (watched == m_scroll->viewport() && event->type() == QEvent::Resize &&
        static_cast<QResizeEvent *>(event)->size().width() !=
            static_cast<QResizeEvent *>(event)->oldSize().width())
        m_topLevel->reestimate();
    if ((watched == m_scroll->viewport() || watched == m_topLevel) && event->type() == QEvent::Resize) {
        restoreScrollAnchor();
        m_makeVisibleRows.start(0);
    }
    if (watched == m_scrollAnchor && event->type() == QEvent::Move)
        restoreScrollAnchor();
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        for (const auto &anchor : m_toolbarAnchors) {
            if (anchor == watched) {
                // Layout passes move many rows at once: placed once after them.
                m_placeToolbar.start(0);
                break;
            }
        }
        break;
    default:
        break;
    }
    if (watched == m_scroll->viewport() && event->type() == QEvent::MouseButtonPress)
        pressOnNoRow(static_cast<QMouseEvent *>(event)->position().toPoint());
    // A title is one paragraph without tabs: Return and Tab go on to the writing below it.
    if (watched == m_titleField && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Tab || key == Qt::Key_Backtab) {
            if (key != Qt::Key_Backtab)
                enterFirstBlock();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void PageView::scheduleRefresh(bool rows)
{
    // Every store change lands here; a burst of them is one refresh.
    m_rowsStale = m_rowsStale || rows;
    if (!m_refresh.isActive())
        m_refresh.start(0);
}

void PageView::storeChanged()
{
    // A batch elsewhere (a pull's slice, another page's edit) adds and removes no row here: reading
    // every row of a long page again for it would stall each such change.
    scheduleRefresh(!std::exchange(m_batchElsewhere, false));
}

void PageView::refreshScheduled()
{
    if (m_rowsStale) {
        refresh();
        return;
    }
    refreshHeader();
    refreshToolbar();
    refreshCover();
    placeFormatToolbar();
    checkLaidOut();
}

void PageView::refresh()
{
    m_refresh.stop();
    m_rowsStale = false;
    std::erase_if(m_lists, [](const QPointer<PageRowList> &list) { return list.isNull(); });
    // A key typed into a row changes no list: the row shows it itself.
    const quint64 revision = m_model->store().pageBlocksRevision(m_model->pageLocalID());
    const bool listsChanged = m_listedRevision != revision;
    if (listsChanged) {
        // Nested lists made during this pass are refreshed as they are made.
        const std::vector<QPointer<PageRowList>> lists = m_lists;
        for (const auto &list : lists) {
            if (list)
                list->refresh();
        }
        m_listedRevision = revision;
    }
    refreshHeader();
    refreshToolbar();
    refreshCover();
    // Rows moved by a height change are made through the list's resize; a key typed moves none.
    if (listsChanged)
        makeVisibleRows();
    placeFormatToolbar();
    checkLaidOut();
}

void PageView::takeStoredContent()
{
    // Rows of blocks the restore added or removed come and go with this refresh; the rows that stay
    // drop what the user had typed into them.
    refresh();
    updateRows([](BlockRow *row) { row->model().takeStoredText(); });
}

void PageView::refreshHeader()
{
    const QString &icon = m_model->iconValue();
    if (!m_shownIcon || *m_shownIcon != icon) {
        m_shownIcon = icon;
        QFont font = m_iconButton->font();
        if (!icon.isEmpty()) {
            m_iconButton->setIcon(QIcon());
            m_iconButton->setText(ShownText::mnemonicSafe(icon));
            font.setPixelSize(kIconFontSize);
            m_iconButton->setFixedSize(kIconFrame, kIconFrame);
            m_iconButton->setStyleSheet(QString());
            m_iconButton->setToolTip(QString::fromLatin1(kChangeIcon));
        } else {
            m_iconButton->setText(QString());
            m_iconButton->setIcon(
                EditorSymbols::icon(QStringLiteral("face.smiling"), AppStyle::tertiary(this)));
            m_iconButton->setIconSize(QSize(kPlaceholderIconSize, kPlaceholderIconSize));
            font.setPixelSize(kPlaceholderIconSize);
            m_iconButton->setFixedSize(kPlaceholderFrame, kPlaceholderFrame);
            QColor fill = palette().color(QPalette::WindowText);
            fill.setAlphaF(0.08);
            m_iconButton->setStyleSheet(
                QStringLiteral("QToolButton { color: %1; background: %2; border-radius: 6px; }")
                    .arg(AppStyle::css(AppStyle::tertiary(this)), AppStyle::css(fill)));
            m_iconButton->setToolTip(QString::fromLatin1(kAddIcon));
        }
        m_iconButton->setFont(font);
    }
    // A title typed and not yet queued wins; otherwise it is the stored one, also while the field
    // has the keyboard: a rename from elsewhere or the service's copy shows at once.
    if (!m_model->hasUnsentTitle())
        m_model->followStoredHeader();
    if (m_titleField->toRawText() != m_model->title())
        m_titleField->setRawText(m_model->title());

    const QString title = m_model->navigationTitle();
    if (title != m_shownTitle) {
        m_shownTitle = title;
        Q_EMIT navigationTitleChanged(title);
    }
}

void PageView::refreshToolbar()
{
    const bool onServer = m_model->isPageOnServer();
    m_shareButton->setEnabled(onServer);
    m_publishButton->setEnabled(onServer);
    m_historyButton->setEnabled(onServer);
    m_aiButton->setChecked(m_model->showAI());
    m_commentsButton->setChecked(m_model->showComments());
    m_suggestionsButton->setChecked(m_model->showSuggestions());
}

void PageView::refreshSelection()
{
    const bool on = m_model->selectMode();
    const int count = int(m_model->selectedBlocks().size());
    EditorSymbols::apply(*m_selectButton,
                         on ? QStringLiteral("checklist.checked") : QStringLiteral("checklist"));
    m_selectButton->setToolTip(QString::fromLatin1(on ? kDoneSelecting : kSelectBlocks));
    m_selectionBar->setVisible(on);
    m_selectionCount->setText(QString::fromLatin1(kSelectedCount).arg(count));
    m_deleteSelected->setText(QString::fromLatin1(kDeleteCount).arg(count));
    m_deleteSelected->setEnabled(count > 0);
    // Only the rows whose look changes: restyling every row of a long page on each click is slow.
    const QSet<QString> &selected = m_model->selectedBlocks();
    const bool modeChanged = on != m_rowsSelectMode;
    updateRows([&](BlockRow *row) {
        const QString &localID = row->model().localID();
        if (modeChanged)
            row->setSelectMode(on);
        if (modeChanged || selected.contains(localID) != m_rowsSelected.contains(localID))
            row->setSelected(selected.contains(localID));
    });
    m_rowsSelectMode = on;
    m_rowsSelected = selected;
}

void PageView::refreshCover()
{
    const auto page = m_model->page();
    m_coverSlot->setVisible(page.has_value());
    if (!page)
        return;
    // A cover runs edge to edge; without one the band's place is inset like the text.
    const bool hasCover = !page->coverURL.isEmpty();
    const int side = hasCover ? 0 : kContentHPad;
    m_coverLayout->setContentsMargins(side, 0, side, 0);
}

void PageView::checkLaidOut()
{
    if (isLaidOut()) {
        if (!m_reportedLaidOut) {
            m_reportedLaidOut = true;
            Q_EMIT laidOut();
        }
    } else {
        m_reportedLaidOut = false;
    }
}

void PageView::applyFocus(const QString &localID)
{
    BlockRow *target = row(localID);
    if (!target)
        return;
    target->focusEditor();
    revealCaret(localID);
}

void PageView::enterFirstBlock()
{
    const std::vector<FNBlock> top = m_model->blocks().topLevelBlocks();
    if (!top.empty()) {
        m_model->focusBlock(top.front().localID);
        return;
    }
    addFocusedBlock();
}

void PageView::addFocusedBlock()
{
    if (const auto added = m_model->appendBlock(QString::fromLatin1(kFirstBlockType)))
        m_model->focusBlock(*added);
}

void PageView::beginTitleEntry()
{
    m_titleField->setFocus(Qt::OtherFocusReason);
    m_titleField->selectAll();
    m_scroll->ensureWidgetVisible(m_titleField);
}

void PageView::confirmMultiDelete(int count)
{
    Confirmer::Question question;
    question.title = QString::fromLatin1(kConfirmTitle).arg(count);
    question.confirmLabel = QString::fromLatin1(kConfirmAction).arg(count);
    question.cancelLabel = QString::fromLatin1(kCancel);
    question.destructive = true;
    m_confirmer->ask(this, question, [self = QPointer<PageView>(this)](bool confirmed) {
        if (!self)
            return;
        self->m_model->setShowMultiDeleteConfirm(false);
        if (confirmed)
            self->m_model->deleteSelectedBlocks();
    });
}

void PageView::showEmojiPicker()
{
    if (!m_emojiPicker) {
        m_emojiPicker = new EmojiPicker(this);
        connect(m_emojiPicker, &EmojiPicker::picked, m_model, &PageViewModel::setPageIcon);
        connect(m_emojiPicker, &EmojiPicker::removed, m_model, [this] { m_model->setPageIcon(QString()); });
        connect(m_emojiPicker, &EmojiPicker::closed, m_model, [this] { m_model->setShowEmojiPicker(false); });
    }
    m_emojiPicker->setCurrentIcon(m_model->iconValue());
    m_emojiPicker->move(m_iconButton->mapToGlobal(QPoint(0, m_iconButton->height())));
    m_emojiPicker->show();
}

void PageView::storePendingRowText()
{
    updateRows([](BlockRow *row) {
        if (row->model().hasPendingCommit())
            row->flushText();
    });
}

void PageView::leave()
{
    // The rows' waiting text first, so the page's flush carries it.
    const std::vector<QPointer<PageRowList>> lists = m_lists;
    for (const auto &list : lists) {
        if (list)
            list->flushRows();
    }
    m_model->disappear();
}
