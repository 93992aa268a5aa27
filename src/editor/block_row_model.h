#pragma once

#include "editor/block_type.h"
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

class BlockFocus;
class FilePicker;
class LocalStore;
class QWidget;
class SecretStore;
class ToastCenter;

// The state and operations of one block's row, without a window: reading and writing the block's
// content, change of kind, indent and deletion, and the text the row's editor shows with its
// debounced commit. Every operation starts from the block as the store holds it at that moment.
class BlockRowModel : public QObject
{
    Q_OBJECT
public:
    // The page's side of the row; any may be empty.
    struct Hooks {
        std::function<void()> onChange; // after every change the row stores
        // A new block right below: its kind and its text.
        std::function<void(const QString &type, const QString &text)> onInsertNextBlock;
        std::function<void()> onDeleteSelfIfEmpty;
        std::function<void()> onToggleSelected;
    };

    // What the uploads and the bookmark preview need; without them those actions do nothing.
    struct MediaServices {
        SecretStore *secrets = nullptr; // the session token
        ToastCenter *toasts = nullptr;
        std::shared_ptr<FilePicker> filePicker;
        QPointer<QWidget> dialogParent;
    };

    static constexpr const char *kAudioUploadFailed = "Audio upload failed \u2014 recording kept, try again.";
    static constexpr const char *kFileUploadFailed = "file upload failed: ";
    static constexpr const char *kImageUploadFailed = "image upload failed: ";
    static constexpr const char *kRecordingMime = "audio/mp4";

    static constexpr int kMaxIndent = 6;

    BlockRowModel(LocalStore &store, const FNBlock &block, BlockFocus *focusedBlock, Hooks hooks,
                  std::chrono::milliseconds textDelay = Debouncer::kDelay, QObject *parent = nullptr);
    // A commit still waiting is written (without calling the page, which may be going away).
    ~BlockRowModel() override;

    const QString &localID() const { return m_block.localID; }
    // The block as the store holds it now (deleted or not); the last value seen when it is gone.
    FNBlock currentBlock() const;
    bool isStored() const;

    // Content access: a write decodes the stored content, replaces one key and saves the whole
    // object, so keys it does not know are kept.
    JSONObject decodeContent() const;
    // False, with nothing written, when the content cannot be encoded.
    bool saveContent(const JSONObject &content);
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
    // Return with the text cut at the caret: this block keeps `head`, a new block below gets
    // `tail`; of the same kind for a list item or to-do (unticked), a paragraph otherwise.
    void handleReturn(const QString &head, const QString &tail);
    // The formatting and link actions when no text view has the focus: added at the end, stored at once.
    void appendMarkers(const QString &prefix, const QString &suffix);
    void appendLink(const QString &url);
    // Takes over the stored text unless the user may be typing (focus or a waiting commit).
    void syncTextFromStore();
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

    // Keys of the kinds shown by block-kind views, read by the typed-read rule.
    QString readContentString(const QString &key, const QString &fallback = {}) const;
    // "count" clamped to 2...4; 2 unless it holds a JSON integer.
    int readColumnCount() const;
    void setColumnCount(qint64 count);
    qint64 readMentionPageID() const;
    void setMentionPageID(qint64 pageServerID);
    qint64 readSyncedSourceID() const;
    void setSyncedSourceID(qint64 blockServerID);
    std::optional<qint64> readDatabaseID() const;
    // None writes nothing and keeps the stored id.
    void setDatabaseID(std::optional<qint64> databaseID);
    void setButtonProps(const QString &label, const QString &action, const QString &target);
    // "height" as a double (an integer taken as one); 240 otherwise.
    double drawingHeight() const;
    void setDrawingHeight(double height);

    // Media and links. Each action reads the session token first and does nothing without one;
    // the work it starts outlives the row and writes into the block as the store holds it when
    // the work ends (nothing once the store no longer holds the block).
    void setMediaServices(MediaServices services) { m_media = std::move(services); }
    const MediaServices &mediaServices() const { return m_media; }
    // The file view's attach ("any") and the audio view's upload ("audio"): any file, its "url",
    // "filename" and "size" stored; a failure is only printed.
    void startUpload(const QString &kind);
    // The image prompt and "Replace": an image file, its "url" stored; a failure is only printed.
    void uploadImage();
    // A finished voice recording: uploaded as "audio/mp4", "url" stored, then the file removed. A
    // failure keeps the file and tells the user.
    void uploadRecording(const QString &filePath);
    // Stores "url" (a different address drops the old preview's keys in the same write), then
    // fetches the preview.
    void resolveBookmark(const QString &url);
    // The tasks behind the actions, with the token already read.
    QCoro::Task<> pickAndUpload(QString kind, QString token);
    QCoro::Task<> pickAndUploadImage(QString token);
    QCoro::Task<> uploadRecordingFile(QString filePath, QString token);
    QCoro::Task<> fetchBookmark(QString url, QString token);

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

    const Hooks &hooks() const { return m_hooks; }

Q_SIGNALS:
    void textChanged();
    void slashMenuChanged();
    // The stored block's kind, indent or content differs from the last seen.
    void typeChanged();
    void indentChanged();
    void contentChanged();
    void showLinkSheetChanged();
    void showInlineCommentChanged();
    void blockCommentCountChanged();

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
    static bool writeContent(const ContentTarget &target, const std::function<void(JSONObject &)> &edit);
    std::optional<QString> sessionToken() const;

    void onStoreChanged();
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

    MediaServices m_media;
};
