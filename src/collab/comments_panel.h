#pragma once

#include <QWidget>

#include <functional>

class BusyIndicator;
class CommentsPanelModel;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class ServiceClient;

// The page's comment sidebar, 320 wide beside the block list: the comments as cards, the composer
// and its message line. It loads when shown; closing it discards everything.
class CommentsPanel : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 320;
    static constexpr const char *kTitle = "Comments";
    static constexpr const char *kEmptyTitle = "No comments yet";
    static constexpr const char *kEmptySubtitle =
        "Start a thread below \u2014 collaborators and visitors to a published page can reply.";
    static constexpr const char *kPlaceholder = "Add a comment...";
    static constexpr const char *kPost = "Post";

    CommentsPanel(ServiceClient &client, std::function<qint64()> pageServerID, std::function<void()> onClose,
                  QWidget *parent = nullptr);

    CommentsPanelModel &model() const { return *m_model; }
    QPlainTextEdit *composer() const { return m_composer; }
    QPushButton *postButton() const { return m_post; }
    QToolButton *reloadButton() const { return m_reload; }
    QToolButton *closeButton() const { return m_close; }
    QLabel *errorLabel() const { return m_error; }
    // The cards, in list order.
    QList<QWidget *> cards() const;

private:
    void render();
    void renderList();

    CommentsPanelModel *m_model;
    QToolButton *m_reload;
    QToolButton *m_close;
    QStackedWidget *m_area;
    QProgressBar *m_spinner;
    QWidget *m_empty;
    QScrollArea *m_scroll;
    QWidget *m_listHolder;
    QVBoxLayout *m_list;
    QPlainTextEdit *m_composer;
    QLabel *m_error;
    QPushButton *m_post;
    BusyIndicator *m_postBusy;
    int m_renderedVersion = -1;
};
