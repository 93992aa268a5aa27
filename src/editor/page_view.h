#pragma once

#include "editor/block_row.h"
#include "editor/page_row_list.h"
#include "editor/page_view_model.h"
#include "ui/app_context.h"

#include <QCoroTask>
#include <QFontMetricsF>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

struct BatchChange;
class AutoHeightTextView;
class BlockDropTarget;
class Confirmer;
class CoverImage;
class EmojiPicker;
class FilePicker;
class FormatToolbar;
class QTextDocument;
class QLabel;
class QMenu;
class QPushButton;
class QScrollArea;
class QToolBar;
class QToolButton;
class QVBoxLayout;
class RichTextEditor;

// The editor of one page: its toolbar, the header (cover band's place, icon, title), the block
// rows with their nested rows, the "Add block" button and, in select mode, the selection bar.
// The state and every operation live in `model()`; this lays them out, keeps the rows in step with
// the store and forwards. The toolbar's panels and sheets belong to the main window: their buttons
// set the model's flags, which announce themselves through the model's signals.
class PageView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kContentHPad = 28;
    static constexpr int kTitleFontSize = 32;
    static constexpr int kRowHPad = 4;
    static constexpr int kSpacing = 8;

    PageView(const AppContext &context, const QString &pageLocalID, QWidget *parent = nullptr,
             PageViewModel::Timing timing = {});
    // Leaving the page queues its pending edits, as hiding it does.
    ~PageView() override;

    PageViewModel &model() { return *m_model; }
    const QString &pageLocalID() const { return m_model->pageLocalID(); }
    // The window title for the page.
    QString navigationTitle() const { return m_model->navigationTitle(); }
    // Asks before deleting several blocks; without one set, a window-modal dialog asks.
    void setConfirmer(Confirmer *confirmer) { m_confirmer = confirmer; }
    // Chooses the files of the uploads and of the export; without one set, dialogs ask.
    void setFilePicker(std::shared_ptr<FilePicker> picker);

    // The "Export / Template" menu's actions. The export resolves once the file is written (true)
    // or the action ended without writing.
    QCoro::Task<bool> exportMarkdown();
    void saveAsTemplate();

    // The row of a block at any level, made now when the block is still a placeholder; none for a
    // block no list shows.
    BlockRow *row(const QString &localID) const;
    QWidget *rowFrame(const QString &localID) const;
    // Every block of the page that is shown has its row or its placeholder, and the rows in view are
    // made.
    bool isLaidOut() const;
    PageRowList *topLevelList() const { return m_topLevel; }

    QToolBar *toolbar() const { return m_toolbar; }
    QToolButton *selectButton() const { return m_selectButton; }
    QToolButton *exportButton() const { return m_exportButton; }
    QToolButton *aiButton() const { return m_aiButton; }
    QToolButton *commentsButton() const { return m_commentsButton; }
    QToolButton *suggestionsButton() const { return m_suggestionsButton; }
    QToolButton *shareButton() const { return m_shareButton; }
    QToolButton *publishButton() const { return m_publishButton; }
    QToolButton *historyButton() const { return m_historyButton; }
    QToolButton *iconButton() const { return m_iconButton; }
    AutoHeightTextView *titleField() const { return m_titleField; }
    QPushButton *addBlockButton() const { return m_addBlockButton; }
    QWidget *coverSlot() const { return m_coverSlot; }
    CoverImage *coverImage() const { return m_cover; }
    // The icon picker while it is open.
    EmojiPicker *emojiPicker() const;
    QWidget *selectionBar() const { return m_selectionBar; }
    QLabel *selectionCount() const { return m_selectionCount; }
    QPushButton *cancelSelectionButton() const { return m_cancelSelection; }
    QPushButton *deleteSelectedButton() const { return m_deleteSelected; }
    QScrollArea *scrollArea() const { return m_scroll; }
    // The one format toolbar of the page; it floats just above the focused row, or below it when
    // the row is at the top of the view, and is hidden while no row holds the focus.
    FormatToolbar *formatToolbar() const { return m_formatToolbar; }
    // Where a dragged block would land, and the scrolling near the view's edges while it is dragged.
    BlockDropTarget *dropTarget() const { return m_dropTarget; }

Q_SIGNALS:
    void navigationTitleChanged(const QString &title);
    // The "Export / Template" menu's items.
    void exportMarkdownRequested();
    void saveAsTemplateRequested();
    // Every row the page shows has been made and laid out.
    void laidOut();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A borderless button with the symbol before its text (or the symbol alone).
    static QPushButton *symbolButton(const QString &symbol, const QString &text, const QString &colourCss);
    void buildToolbar();
    QWidget *buildColumn();
    QWidget *buildSelectionBar();
    // A restore replaced the page: every row shows the stored text, even the one being typed in.
    void takeStoredContent();
    // The rows and nested lists (page_view_rows.cpp).
    PageRowList::Entry blockRow(const FNBlock &block, bool dragEnabled);
    QWidget *childContent(const QString &parentLocalID);
    QWidget *columnContent(const QString &parentLocalID, int column, int count);
    PageRowList *addList(PageRowList::Source source, int spacing);
    // Every made row of every list, each list laid out once afterwards.
    void updateRows(const std::function<void(BlockRow *)> &update);
    // The first of the lists that has a row for the block.
    PageRowList *listHolding(const QString &localID) const;
    // The block as the store holds it now (the row's value may predate its server id).
    std::optional<FNBlock> storedBlock(const QString &localID) const;
    void addChildTo(const QString &parentLocalID);
    int topLevelIndex(const QString &localID) const;

    // `rows`: the lists of rows are read again too, not only the header and toolbar.
    void scheduleRefresh(bool rows = true);
    // Re-reads the rows whose blocks a batch of the store changed.
    void takeBatch(const BatchChange &change);
    // A block the store told of alone: the lists read the page again when they hold it only as a
    // placeholder, or when its row holds a list of its own.
    void takeStoredBlock(const QString &localID);
    void storeChanged();
    void refreshScheduled();
    void refresh();
    void showFormatToolbarAt(const QRect &where);
    void refreshHeader();
    void refreshToolbar();
    void refreshSelection();
    void refreshCover();
    void checkLaidOut();
    // Makes the rows whose place is in view now, and those within a screen of it a turn later
    // (page_view_rows.cpp).
    void makeVisibleRows();
    void makeRowsAround(int margin);
    // Brings the rows just made to their own heights in this turn.
    void settleNewRows();
    // The row at the view's top stays where it is on screen while rows made above it grow or
    // shrink from their placeholders' height.
    void holdScrollAnchor();
    void restoreScrollAnchor();
    // The text view being typed into holds its place, the view scrolling only as far as its caret
    // needs; false when no text view of the page has the keyboard, or (unless `evenOutOfSight`) when
    // it is out of sight.
    bool keepTypedCaretInView(bool evenOutOfSight = false);
    // While the user types, the caret stays in sight wherever the view was when typing began, until
    // the user scrolls or the keyboard moves on.
    void followTypedCaret();
    void watchTypedText(QWidget *keyboard);
    // A placeholder's height: the block's text at the column's width, roughly.
    int estimatedHeight(const FNBlock &block) const;
    void applyFocus(const QString &localID);
    // The floating format toolbar (page_view_format_toolbar.cpp).
    void buildFormatToolbar();
    // The focused row when it has a text view to format, else none.
    BlockRow *formatTarget() const;
    // Puts the toolbar over the focused row (or hides it) and watches what moves that row.
    void placeFormatToolbar();
    // Whether the toolbar at `area` (in the column's coordinates) would hide none of the page's text.
    bool coversNoText(const QRect &area) const;
    void makeToolbarRoom(QWidget *frame, int height);
    void takeToolbarRoom();
    // The focused row's text view with the keyboard back, for a toolbar action.
    RichTextEditor *formatEditor(BlockRow &row);
    void beginTitleEntry();
    // The keyboard where an opened page's writing goes on (page_view_focus.cpp): in an empty title,
    // else at the end of the first block with text, else at the end of the title.
    void enterPage();
    // The open task is done: a page entered before it had a block goes on in its first block.
    void enterLoadedPage();
    // The blocks listed with this one, under the same parent.
    std::vector<FNBlock> siblingsOf(const FNBlock &block) const;
    // The keyboard to the row's text; false when it has no row or no text.
    // Scrolling the focused row into view at once, or once the view has its size: a page just
    // opened is laid out a turn later, and scrolling by a not yet sized view's height hides the top.
    enum class Reveal { now, afterLayout };
    // With `goalX`, the caret goes to that screen x on the row's first or last line.
    bool focusRow(const QString &localID, BlockRow::Caret caret, Reveal reveal = Reveal::now,
                  std::optional<int> goalX = std::nullopt);
    // Lays out the rows made or changed this turn, so that they have their places and widths now.
    void settleLayout();
    // Scrolls the row's caret (or the row, without one) into view, once the rows have their places.
    void revealCaret(const QString &localID);
    void focusTitleAtEnd();
    // Backspace in an empty block: it goes, and the keyboard to the end of the writing before it.
    void deleteEmptyBlock(const QString &localID);
    // From a row without text to the next block's text, or to a new text block after it.
    void passKeyboardOn(const QString &localID);
    // The arrow keys past a block's text: the keyboard to the nearest block above or below that has
    // text (its row made if it was not yet), or from the first block up to the title.
    void moveToNeighbour(const QString &localID, bool down);
    // The caret to the start of the page's writing: its first block, or a new one.
    void enterFirstBlock();
    // A press on the page's own ground, at `at` of the viewport, that no row or button took.
    void pressOnNoRow(const QPoint &at);
    // A text block at the end of the page, with the caret in it.
    void addFocusedBlock();
    void confirmMultiDelete(int count);
    void showEmojiPicker();
    // The rows' text still waiting for its commit is stored now.
    void storePendingRowText();
    void leave();

    PageViewModel *m_model;
    std::unique_ptr<Confirmer> m_ownConfirmer;
    Confirmer *m_confirmer;
    std::shared_ptr<FilePicker> m_filePicker;
    QTimer m_refresh;
    bool m_rowsStale = true;       // the scheduled refresh reads the lists of rows again
    bool m_batchElsewhere = false; // the last batch told left this page's blocks alone
    QTimer m_placeToolbar;
    QTimer m_makeVisibleRows;
    QTimer m_makeMarginRows;
    mutable QHash<QString, QFontMetricsF> m_faceMetrics; // by block kind, for the estimates
    QPointer<QWidget> m_scrollAnchor; // a row's frame, and its distance from the view's top
    int m_scrollAnchorOffset = 0;
    // The view showed the page's end: it keeps showing it as the rows made there take their heights.
    bool m_scrollAtEnd = false;
    bool m_restoringScroll = false;
    bool m_followTypedCaret = false;
    QMetaObject::Connection m_typedTextWatch;
    QTimer m_revealTypedCaret;
    std::vector<QPointer<PageRowList>> m_lists; // the top level first
    // The store's revision of the page's blocks the lists last read; none when they must read again.
    std::optional<quint64> m_listedRevision;
    QSet<QString> m_listParents; // blocks whose rows hold lists of their children
    QString m_shownTitle;
    std::optional<QString> m_shownIcon;
    bool m_rowsSelectMode = false; // as the rows were last told
    QSet<QString> m_rowsSelected;
    bool m_reportedLaidOut = false;
    bool m_blocksLoaded = false;
    bool m_enteringPage = false; // entered in the title until the first block comes

    QToolBar *m_toolbar = nullptr;
    QToolButton *m_selectButton = nullptr;
    QToolButton *m_exportButton = nullptr;
    QMenu *m_exportMenu = nullptr;
    QToolButton *m_aiButton = nullptr;
    QToolButton *m_commentsButton = nullptr;
    QToolButton *m_suggestionsButton = nullptr;
    QToolButton *m_shareButton = nullptr;
    QToolButton *m_publishButton = nullptr;
    QToolButton *m_historyButton = nullptr;

    QScrollArea *m_scroll = nullptr;
    QWidget *m_coverSlot = nullptr;
    QVBoxLayout *m_coverLayout = nullptr;
    CoverImage *m_cover = nullptr;
    QPointer<EmojiPicker> m_emojiPicker;
    QToolButton *m_iconButton = nullptr;
    AutoHeightTextView *m_titleField = nullptr;
    PageRowList *m_topLevel = nullptr;
    QPushButton *m_addBlockButton = nullptr;
    BlockDropTarget *m_dropTarget = nullptr;

    FormatToolbar *m_formatToolbar = nullptr;
    QPointer<BlockRow> m_toolbarRow;
    // The toolbar's row and the widgets between it and the page's column: any of them moving moves it.
    std::vector<QPointer<QWidget>> m_toolbarAnchors;
    // The focused row's text: the toolbar moves off it as it grows.
    QPointer<QTextDocument> m_toolbarDocument;
    QMetaObject::Connection m_toolbarTextWatch;
    // The row frame that made room above its content for the toolbar, and how much.
    QPointer<QWidget> m_toolbarRoom;
    int m_toolbarRoomHeight = 0;
    int m_toolbarRoomWidth = 0; // the row's width when it was made

    QWidget *m_selectionBar = nullptr;
    QLabel *m_selectionCount = nullptr;
    QPushButton *m_cancelSelection = nullptr;
    QPushButton *m_deleteSelected = nullptr;
};
