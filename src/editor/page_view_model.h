#pragma once

#include "editor/block_focus.h"
#include "editor/page_block_list.h"
#include "editor/page_outbox.h"
#include "store/debouncer.h"
#include "ui/app_context.h"

#include <QCoroTask>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

// The page editor without a window: which page and blocks it shows, its header, toolbar and
// selection state, the edits of the block structure, and how edits reach the outbox (the 0.7 s
// block flush, the title debounce, the icon) and the service (the fetch of the page's blocks on
// open). The view lays it out and forwards to it.
class PageViewModel : public QObject
{
    Q_OBJECT
public:
    struct Timing {
        std::chrono::milliseconds blockFlush{700};
        std::chrono::milliseconds title = Debouncer::kDelay;
        std::chrono::milliseconds focusRetry{20};
        std::chrono::milliseconds rowText = Debouncer::kDelay; // each row's own text commit
    };
    static constexpr int kFocusAttempts = 6;

    // Needs the context's store; the sync engine, the client and the events may be absent (no sync,
    // no fetch, no AI prompts).
    PageViewModel(const AppContext &context, const QString &pageLocalID, QObject *parent = nullptr);
    PageViewModel(const AppContext &context, const QString &pageLocalID, Timing timing,
                  QObject *parent = nullptr);
    // A page still shown is left as on disappearing: pending edits are queued.
    ~PageViewModel() override;

    const AppContext &context() const { return m_context; }
    LocalStore &store() const { return *m_context.store; }
    const QString &pageLocalID() const { return m_list.pageLocalID(); }
    const Timing &timing() const { return m_timing; }
    const PageBlockList &blocks() const { return m_list; }
    const PageOutbox &outbox() const { return m_outbox; }
    BlockFocus &focus() { return m_focus; }

    std::optional<FNPage> page() const { return m_list.page(); }
    // The page's title, or "Untitled" without a page or title.
    QString navigationTitle() const;
    // Share, publish and history need the page on the service.
    bool isPageOnServer() const;

    // Editing: each change of the structure schedules the block flush.
    // The new block gets the focus; its localID, none without a page.
    std::optional<QString> insertBlockAfter(const FNBlock &after,
                                            const QString &type = QStringLiteral("text"),
                                            const QString &text = {});
    // Return at a line's start: the new block goes before it and the focus stays on the line.
    std::optional<QString> insertBlockBefore(const FNBlock &before,
                                             const QString &type = QStringLiteral("text"));
    // False, with nothing changed, for the page's last top-level block.
    bool deleteBlockIfEmpty(const FNBlock &block);
    void addChildBlock(const FNBlock &parent);
    void moveBlockOnDrop(const QString &droppedLocalID, int targetIndex);
    // The new block's localID; none without a page. The focus is not moved.
    std::optional<QString> appendBlock(const QString &type);
    void deleteSelectedBlocks();
    // Gives a row keyboard focus on a later turn, retried until its row exists (at most 6 tries).
    void focusBlock(const QString &localID, int attempt = 0);
    // The view's answer to "does this block's row exist yet"; without one, focus takes at once.
    void setRowReady(std::function<bool(const QString &)> ready) { m_rowReady = std::move(ready); }
    // Restarts the flush timer; when it fires the page's blocks are queued.
    void scheduleBlockFlush();
    bool isBlockFlushPending() const { return m_flushTimer.isActive(); }
    // Queues one "block"/"upsert" with every block the service can take now, and asks for a sync.
    void queueBlockUpserts();

    // Header.
    const QString &title() const { return m_title; }
    const QString &iconValue() const { return m_iconValue; }
    // The title field's change handler: the page changes now, its operation follows the debounce.
    void scheduleTitleSave(const QString &title);
    void savePageTitle(qint64 pageServerID, const QString &title);
    // A title typed that the run of keys has not finished with yet.
    bool hasUnsentTitle() const { return m_unsentTitle.has_value(); }
    // The icon picker's choice ("" removes the icon): stored and queued at once.
    void setPageIcon(const QString &icon);
    bool showEmojiPicker() const { return m_showEmojiPicker; }
    void setShowEmojiPicker(bool shown);

    // Selection.
    bool selectMode() const { return m_selectMode; }
    const QSet<QString> &selectedBlocks() const { return m_selectedBlocks; }
    void toggleSelectMode();
    void cancelSelection();
    void toggleSelected(const QString &localID);
    // The selection bar's delete: one block goes at once, more ask first.
    void requestDeleteSelected();
    bool showMultiDeleteConfirm() const { return m_showMultiDeleteConfirm; }
    void setShowMultiDeleteConfirm(bool shown);

    // Side panels (toggled) and sheets (opened; the sheet closes itself through the setter).
    bool showAI() const { return m_showAI; }
    bool showComments() const { return m_showComments; }
    bool showSuggestions() const { return m_showSuggestions; }
    bool showShare() const { return m_showShare; }
    bool showPublish() const { return m_showPublish; }
    bool showHistory() const { return m_showHistory; }
    const std::optional<QString> &aiSeedPrompt() const { return m_aiSeedPrompt; }
    void setShowAI(bool shown);
    void setShowComments(bool shown);
    void setShowSuggestions(bool shown);
    void setShowShare(bool shown);
    void setShowPublish(bool shown);
    void setShowHistory(bool shown);
    // "fn.runAIPrompt": opens the AI panel with the prompt as its seed.
    void handleRunAIPrompt(const std::optional<QString> &prompt);
    // A saved version of this page replaced its content: the stored header and blocks are shown,
    // whatever the user was in the middle of.
    void handlePageRestored(qint64 pageServerID);

    // Appearing loads the header and runs the open task; disappearing queues pending edits at once.
    void appear();
    void disappear();
    bool isShown() const { return m_shown; }
    // Fills the title and icon from the page. Not an edit: nothing is stored or queued.
    void loadHeaderOnAppear();
    // Takes over the stored title and icon of a page that exists (the view calls it while the
    // title field is not being edited, so a rename made elsewhere shows at once).
    void followStoredHeader();
    // A new page: the view is to put the keyboard in its title with the title selected.
    void beginTitleEntry();
    // A page opened to be read on: the view puts the keyboard where the writing goes on.
    void enterPage();
    // The fetch, then a first block for a page that has none, once it is known to have none.
    QCoro::Task<> loadBlocksOnOpen();
    // Adds the service's blocks of the page that are not local yet; every failure is dropped. True
    // when this device holds every block the service has of the page: the fetch came, or the page
    // is not on the service.
    QCoro::Task<bool> fetchServerBlocks();
    void flushPendingEdits();

Q_SIGNALS:
    void headerChanged();
    void selectionChanged();
    void panelsChanged();
    // A button asked its question while the AI panel was already open.
    void aiPromptSeeded();
    // Two or more blocks are to be deleted: the view asks the user.
    void multiDeleteConfirmRequested(int count);
    // The focus has landed on the block's row.
    void focusApplied(const QString &localID);
    void emojiPickerRequested();
    void titleEntryRequested();
    void pageEntryRequested();
    void shareRequested();
    void publishRequested();
    void historyRequested();
    // The rows are to show the stored text even where the user is typing (a restore).
    void storedContentTaken();
    // The open task has finished (fetched, merged or failed, and seeded).
    void blocksLoaded();

private:
    void applyFocus(const QString &localID, int attempt);
    void retryFocus(const QString &localID, int attempt);
    // A title typed but not queued yet stays in the store whatever a refresh lays over it.
    void keepUnsentTitle();
    void queueTitleAtOnce(const FNPage &page, const QString &title);
    void followUpAfterSync();
    bool setFlag(bool &flag, bool value);

    AppContext m_context;
    Timing m_timing;
    PageBlockList m_list;
    PageOutbox m_outbox;
    BlockFocus m_focus;
    std::function<bool(const QString &)> m_rowReady;
    QTimer m_flushTimer;
    Debouncer m_titleDebouncer;

    QString m_title;
    std::optional<QString> m_unsentTitle; // typed, waiting for the debounce
    std::optional<QString> m_titleOpID;   // the queued update the run of keys rewrites
    QString m_iconValue;
    bool m_showEmojiPicker = false;
    bool m_selectMode = false;
    QSet<QString> m_selectedBlocks;
    bool m_showMultiDeleteConfirm = false;
    bool m_showAI = false;
    bool m_showComments = false;
    bool m_showSuggestions = false;
    bool m_showShare = false;
    bool m_showPublish = false;
    bool m_showHistory = false;
    std::optional<QString> m_aiSeedPrompt;

    bool m_shown = false;
    quint64 m_openGeneration = 0; // a newer value cancels the open task in flight
    // Blocks held back from the last flush until a sync gives the page or their parents server
    // ids; the count of held-back blocks, or -1 while the page itself has none.
    std::optional<int> m_heldBack;
};
