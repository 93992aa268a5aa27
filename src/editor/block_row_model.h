#pragma once

#include "blocks/block_host.h"
#include "blocks/block_type.h"
#include "json/json_value.h"
#include "store/debouncer.h"
#include "store/fn_block.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class ServiceClient;

class BlockFocus;
class LocalStore;

// The state and operations of one block's row, without a window: reading and writing the block's
// content, change of kind, indent and deletion, the text kinds and the text the row's editor shows
// with its debounced commit. Every operation starts from the block as the store holds it at that
// moment. The rich kinds (blocks/) reach their block through it as their `BlockHost`.
class BlockRowModel : public QObject, public BlockHost
{
    Q_OBJECT
public:
    // The page's side of the row; any may be empty.
    struct Hooks {
        std::function<void()> onChange; // after every change the row stores
        // A new block right below: its kind and its text.
        std::function<void(const QString &type, const QString &text)> onInsertNextBlock;
        // A new empty block of the kind right above; the keyboard stays in this row.
        std::function<void(const QString &type)> onInsertBlockAbove;
        std::function<void()> onDeleteSelfIfEmpty;
        // The row has no text to write in any more (a kind without text was picked).
        std::function<void()> onPassKeyboardOn;
        std::function<void()> onToggleSelected;
        // Up on the text's first line or Down on its last: the keyboard goes to the block above or below.
        std::function<void(bool down)> onLeaveText;
    };

    static constexpr int kMaxIndent = 6;

    BlockRowModel(LocalStore &store, const FNBlock &block, BlockFocus *focusedBlock, Hooks hooks,
                  std::chrono::milliseconds textDelay = Debouncer::kDelay, QObject *parent = nullptr);
    // A commit still waiting is written (without calling the page, which may be going away).
    ~BlockRowModel() override;

    const QString &localID() const { return m_block.localID; }
    // The block as the store holds it now (deleted or not); the last value seen when it is gone.
    FNBlock currentBlock() const override;
    bool isStored() const;

    // Content access: a write decodes the stored content, replaces one key and saves the whole
    // object, so keys it does not know are kept.
    JSONObject decodeContent() const override;
    // False, with nothing written, when the content cannot be encoded.
    bool saveContent(const JSONObject &content) override;
    ContentWriter laterWriter() override;
    void setContentString(const QString &value, const QString &key);
    void setContentInt(qint64 value, const QString &key);
    void setContentBool(bool value, const QString &key);
    void setContentDouble(double value, const QString &key);

    // The page's focus names this block.
    bool isFocused() const;
    // One of the row's text views has the keyboard focus (those not tied to the page's focus too).
    void setEditorHasFocus(bool hasFocus);
    bool editorHasFocus() const { return m_editorHasFocus; }

    void changeType(BlockType kind);
    // In or out by `delta` levels, within 0 to 6.
    void changeIndent(int delta);
    // Soft delete; a block the service knows gets a "block"/"delete" operation in the outbox.
    void deleteBlock();

    // The row's text: what its editor shows, markers included.
    const QString &text() const { return m_text; }
    bool didInit() const { return m_didInit; }
    void loadText();
    // A keystroke: shown at once, stored after the quiet delay (only the last of a burst).
    void commitText(const QString &newText);
    // Formatting and links: the waiting commit is dropped and the text stored at once.
    void commitTextNow(const QString &newText);
    bool hasPendingCommit() const { return m_pendingCommit.has_value(); }
    // The text after a leading "/" while it holds no line feed.
    std::optional<QString> slashQuery() const;
    bool isSlashMenuShown() const { return slashQuery() && !m_slashDismissed; }
    // Escape: hidden until the text stops starting with "/".
    void dismissSlashMenu();
    void applySlashPick(BlockType kind);
    void handleBackspaceAtStart();
    void leaveText(bool down);
    // The page moves the keyboard on from a row that no longer has text.
    void passKeyboardOn() override;
    // Return with the text cut at the caret: this block keeps `head`, a new block below gets
    // `tail`; of the same kind for a list item or to-do (unticked), a paragraph otherwise. At the
    // start of a line with text the new block is empty and goes above, and this block keeps its
    // line untouched. An empty list item or to-do becomes a paragraph instead, so the list can be
    // left from the keyboard; true then: the keyboard stays in this row.
    bool handleReturn(const QString &head, const QString &tail);
    // The formatting and link actions when no text view has the focus: added at the end, stored at once.
    void appendMarkers(const QString &prefix, const QString &suffix);
    void appendLink(const QString &url);
    // Takes over the stored text unless a commit of the row's own waits; the caret stays put.
    void syncTextFromStore();
    // Takes over the stored text even while the user is in the row, dropping a waiting commit: the
    // page's content was replaced on purpose (a restored version).
    void takeStoredText();
    // On disappear: the waiting commit is dropped and the row's text stored now.
    void flushText();

    // To-do, toggle and callout keys.
    bool readChecked() const;
    void toggleChecked(bool checkedAsDrawn);
    bool readToggleExpanded() const;
    void setToggleExpanded(bool expanded);
    QString readToggleBody() const;
    void setToggleBody(const QString &body);
    QString readCalloutIcon() const;

    // The uploads' and the preview's services; they go through its client, under the session.
    void setMediaServices(BlockServices services) { m_media = std::move(services); }
    const BlockServices &services() const override { return m_media; }
    const LocalStore *store() const override;
    bool isSignedIn() const override;
    void setColumnContent(std::function<QWidget *(int, int)> content)
    {
        m_columnContent = std::move(content);
    }
    std::function<QWidget *(int, int)> columnContent() const override { return m_columnContent; }
    std::chrono::milliseconds editDelay() const override { return m_textDelay; }

    // The link sheet's state.
    bool showLinkSheet() const { return m_showLinkSheet; }
    void setShowLinkSheet(bool shown);
    const QString &linkURL() const { return m_linkURL; }
    void setLinkURL(const QString &url) { m_linkURL = url; }
    void cancelLink();
    // Spaces and tabs off both ends; line breaks stay.
    static QString trimmedLinkURL(const QString &url);

    // The comment popover's state, filled in by the comments feature.
    bool showInlineComment() const { return m_showInlineComment; }
    void setShowInlineComment(bool shown);
    void toggleInlineComment() { setShowInlineComment(!m_showInlineComment); }
    int blockCommentCount() const { return m_blockCommentCount; }
    void setBlockCommentCount(int count);
    QString inlineCommentText;
    bool inlineCommentSending = false;
    std::optional<qsizetype> commentSelectionStart;
    std::optional<qsizetype> commentSelectionLength;
    std::optional<QString> commentSelectionText;
    void setInlineCommentText(const QString &text);
    // "Cancel": the popover closes and the typed text goes; the captured selection stays.
    void cancelInlineComment();
    // Posts the typed text on this block (and the captured selection) once the block is on the
    // service; the count rises and the popover closes only when the service took it.
    QCoro::Task<> postInlineComment(ServiceClient &client);

    const Hooks &hooks() const { return m_hooks; }

    // Takes the block as the store holds it now: the store's signal for one edit calls it, the page
    // for the rows a batch of edits changed.
    void onStoreChanged();

Q_SIGNALS:
    void textChanged();
    void slashMenuChanged();
    // The stored block's kind, indent or content differs from the last seen.
    void typeChanged();
    void indentChanged();
    // The content differs, or the page's service id the kinds read beside it (it arrives when the
    // page reaches the service).
    void contentChanged();
    void showLinkSheetChanged();
    void showInlineCommentChanged();
    void blockCommentCountChanged();
    void inlineCommentChanged();

private:
    // Where a background task writes: the row while it lives, else the store by the block's id.
    struct ContentTarget {
        QPointer<BlockRowModel> row;
        QPointer<LocalStore> store;
        QString localID;
        quint64 generation = 0;
    };
    ContentTarget contentTarget();
    // Applies `edit` to the content as stored now; false when the block is no longer stored.
    static bool writeContent(const ContentTarget &target, const ContentEdit &edit);

    void setText(const QString &text);
    QString storedText() const;
    // Stores "text"; a background write (the debounced commit, the flush) is dropped when the
    // store no longer holds the block, so nothing is written back into a store that was reset.
    void writeText(const QString &text, bool onlyIfStored);
    void dropPendingCommit();
    void runCommit(quint64 generation);
    bool keepsTextKey() const;
    void changed();

    QPointer<LocalStore> m_store;
    FNBlock m_block;
    QPointer<BlockFocus> m_focus;
    Hooks m_hooks;
    std::chrono::milliseconds m_textDelay;
    Debouncer m_textDebouncer;

    QString m_text;
    bool m_didInit = false;
    bool m_editorHasFocus = false;
    bool m_slashDismissed = false;
    std::optional<QString> m_pendingCommit;
    quint64 m_commitGeneration = 0;

    bool m_showLinkSheet = false;
    QString m_linkURL;
    bool m_showInlineComment = false;
    int m_blockCommentCount = 0;

    QString m_seenType;
    qint64 m_seenIndent = 0;
    QString m_seenContent;
    qint64 m_seenPageServerID = 0;
    qint64 m_seenServerID = 0;

    BlockServices m_media;
    std::function<QWidget *(int, int)> m_columnContent;
};
