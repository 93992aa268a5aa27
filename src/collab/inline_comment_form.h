#pragma once

#include <QString>
#include <QWidget>

#include <optional>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The content of a block row's comment popover: the title, the quote of the captured selection,
// the comment field, "Cancel" and "Post" (Ctrl+Return), and the note shown until the block syncs.
// It only lays out and forwards; the row owns the state and the post.
class InlineCommentForm : public QWidget
{
    Q_OBJECT
public:
    static constexpr const char *kBlockTitle = "Comment on this block";
    static constexpr const char *kSelectionTitle = "Comment on selection";
    static constexpr const char *kPlaceholder = "Your comment...";
    static constexpr const char *kCancel = "Cancel";
    static constexpr const char *kPost = "Post";
    static constexpr const char *kSyncNote = "Will be available once the block syncs.";
    // The captured selection is quoted by at most this many characters.
    static constexpr int kQuoteLength = 120;

    struct State {
        std::optional<QString> selectionText;
        QString text;
        bool sending = false;
        bool blockSynced = false;
    };

    explicit InlineCommentForm(const State &state, QWidget *parent = nullptr);
    void setState(const State &state);

    // "Post" is offered only with text, a synced block and no post in flight.
    static bool canPost(const State &state);
    // The first kQuoteLength user-perceived characters of a selection.
    static QString quoteOf(const QString &selected);

    QLabel *titleLabel() const { return m_title; }
    QLabel *quoteLabel() const { return m_quote; }
    QPlainTextEdit *field() const { return m_field; }
    QPushButton *postButton() const { return m_post; }
    QPushButton *cancelButton() const { return m_cancel; }
    QLabel *syncNote() const { return m_note; }

Q_SIGNALS:
    void textEdited(const QString &text);
    void cancelClicked();
    void postClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    State m_state;
    QLabel *m_title;
    QLabel *m_quote;
    QPlainTextEdit *m_field;
    QPushButton *m_cancel;
    QPushButton *m_post;
    QLabel *m_note;
};
