#pragma once

#include "editor/block_row_model.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class AutoHeightTextView;
class BlockFocus;
class BlockView;
class CommentButton;
class EditableText;
class FormatToolbar;
class LinkSheet;
class QBoxLayout;
class QFrame;
class QLabel;
class QMenu;
class QToolButton;
class QVBoxLayout;
class RichTextEditor;
class SlashMenu;

// The view of one block in a page: its indent, the selection box in select mode, the "..." block
// menu, the comment button, and the kind's content. The page's format toolbar floats over it while it
// has the focus and acts on it.
// The logic lives in `model()`; this lays it out and forwards. The owner calls `flushText()` when
// the row goes away, before the page's own flush.
class BlockRow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kIndentStep = 24;
    static constexpr int kSlashMenuOffset = 26;
    static constexpr int kChromeSize = 18;
    // Where the caret goes when the row takes the keyboard.
    enum class Caret { keep, start, end };

    BlockRow(LocalStore &store, const FNBlock &block, BlockFocus *focusedBlock, BlockRowModel::Hooks hooks,
             QWidget *parent = nullptr, std::chrono::milliseconds textDelay = Debouncer::kDelay);
    ~BlockRow() override;

    BlockRowModel &model() { return *m_model; }
    const BlockRowModel &model() const { return *m_model; }

    void setSelectMode(bool on);
    void setSelected(bool selected);
    // Children of the block, shown in an open toggle's body.
    void setChildContent(std::function<QWidget *()> childContent);
    // One column's content of a columns block: (column index, column count).
    void setChildColumnContent(std::function<QWidget *(int, int)> childColumnContent);
    // The comment popover's content, made each time it opens.
    void setInlineCommentContent(std::function<QWidget *(BlockRow &)> content);
    void setBlockCommentCount(int count) { m_model->setBlockCommentCount(count); }
    // The uploads' services; the row itself parents their dialogs.
    void setMediaServices(BlockServices services);

    // Where the slash menu goes in its window: below the text view's first line, or above the
    // text view when there is no room below, and always inside the window (shortened if need be).
    static QRect slashMenuGeometry(QPoint editorTop, QSize menu, QSize host);

    // The system font at `size` points; bold, semibold and medium kept, any other weight regular.
    static QFont editorFont(int size, QFont::Weight weight, bool italic = false);

    // Wraps the focused text view's selection in the markers, else appends them around "text".
    void wrapSelection(const QString &prefix, const QString &suffix);
    // The same on a given text view of the row (the format toolbar's: the view the user left for it).
    void wrapSelection(RichTextEditor *view, const QString &prefix, const QString &suffix);
    // Remembers the focused text view and its selection for the link, then opens the link sheet.
    void captureLinkTarget();
    void captureLinkTarget(RichTextEditor *view);
    void insertLink();
    void cancelLink() { m_model->cancelLink(); }
    void beginSelectionComment();
    void flushText() { m_model->flushText(); }
    // Gives the keyboard to the kind's text view; false for a kind without one.
    bool focusEditor(Caret caret = Caret::keep);
    // Moves the caret of the focused text view to its first line (`Caret::start`) or its last, at
    // the screen's x `globalX` or as near as the line allows; later Up and Down keep that x.
    void placeCaretAt(Caret line, int globalX);
    // The screen's x of the text view's caret, the place Up and Down aim for; none without a view.
    std::optional<int> caretGoalX() const;
    // The text view that takes the keyboard: the rich one, else the plain one.
    AutoHeightTextView *textView() const;
    bool hasTextEditor() const;

    // The page's format toolbar, which it shows over this row while the row has the focus.
    void setFormatToolbar(FormatToolbar *toolbar);
    // Rows without a text view for the page's focus (a toggle, code, a divider) never hold it.
    bool takesPageFocus() const;

    // What the row shows now (tests and the page); the toolbar only while the row holds the focus.
    FormatToolbar *formatToolbar() const;
    RichTextEditor *richEditor() const;
    EditableText *plainEditor() const;
    EditableText *toggleBodyField() const;
    QToolButton *todoBox() const;
    QToolButton *toggleArrow() const;
    QLabel *calloutIcon() const;
    // The view of a rich kind (blocks/), and the kind's name while that view shows it.
    BlockView *kindView() const;
    QLabel *kindLabel() const;
    SlashMenu *slashMenu() const;
    LinkSheet *linkSheet() const;
    QMenu *blockMenu() const { return m_blockMenu; }
    QToolButton *menuButton() const { return m_menuButton; }
    QToolButton *selectBox() const { return m_selectBox; }
    CommentButton *commentButton() const { return m_commentButton; }
    QWidget *content() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void rebuildContent();
    void refreshContent();
    void applyIndent();
    void applyFocus();
    void showText();
    void updateSlashMenu();
    // A kind picked in the slash menu; one without text sends the keyboard on to the page.
    void pickKind(BlockType kind);
    // A kind chosen in the block menu.
    void chooseKind(BlockType kind);
    // After a kind change, the keyboard to the kind's own field, else to its text, else on to the
    // next block.
    void takeKeyboardForKind();
    void showContentNow();
    void updateLinkSheet();
    void updateCommentPopover();
    void updateSelectBox();

    // A chrome button of the row's size.
    static QToolButton *chromeButton(QWidget *parent);
    // A top-aligned item of the row's horizontal line, padded from the top like the row's other chrome.
    static QWidget *padded(QWidget *widget, int top);

    // The text kinds' content and the rich kinds' views (block_row_text_kinds.cpp).
    QWidget *makeContent(const QString &type);
    RichTextEditor *makeRichEditor(const QString &placeholder, const QFont &font, bool withSlashMenu);
    EditableText *makePlainEditor(const QString &placeholder, const QFont &font);
    QWidget *withMarker(QWidget *marker, QWidget *editor, int spacing);
    QWidget *makeTodo();
    QWidget *makeCallout();
    QWidget *makeCode();
    QWidget *makeToggle();
    void refreshToggle();
    void onEditorFocus(bool hasFocus, Qt::FocusReason reason, bool tiedToPage);
    // Return: the text after the caret goes to a new block below; an empty list item ends the list.
    void splitAtCaret();

    BlockRowModel *m_model;
    QPointer<BlockFocus> m_focus;
    std::function<QWidget *()> m_childContent;
    std::function<QWidget *(int, int)> m_childColumnContent;
    std::function<QWidget *(BlockRow &)> m_inlineCommentContent;
    bool m_selectMode = false;
    bool m_selected = false;

    QVBoxLayout *m_outer;
    QBoxLayout *m_line;
    QPointer<FormatToolbar> m_toolbar;
    QToolButton *m_selectBox;
    QToolButton *m_menuButton;
    QMenu *m_blockMenu;
    CommentButton *m_commentButton;
    QPointer<QFrame> m_commentPopover;

    QPointer<QWidget> m_content;
    QPointer<RichTextEditor> m_richEditor;
    QPointer<EditableText> m_plainEditor;
    QPointer<EditableText> m_bodyField;
    QPointer<QWidget> m_toggleBody;
    QPointer<QBoxLayout> m_toggleBodyLayout;
    QPointer<QWidget> m_children;
    QPointer<QToolButton> m_todoBox;
    QPointer<QToolButton> m_toggleArrow;
    QPointer<QLabel> m_calloutIcon;
    QPointer<BlockView> m_kindView;
    bool m_drawnChecked = false;
    bool m_slashEnabled = false;

    QPointer<SlashMenu> m_slashMenu;
    QPointer<LinkSheet> m_linkSheet;
    QPointer<RichTextEditor> m_linkTextView;
    qsizetype m_linkSelectionStart = 0;
    qsizetype m_linkSelectionLength = 0;
};
