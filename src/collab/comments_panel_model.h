#pragma once

#include "api/wire/collab.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class ServiceClient;

// The state of one page's comment sidebar: the comments the service holds for the page, the
// composer and the one message line shared by load and post failures. Nothing is kept locally.
class CommentsPanelModel : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kLoadFailed = "Couldn't load comments.";
    static constexpr const char *kPostFailed = "Failed to post";
    static constexpr const char *kAnonymous = "Anonymous";
    static constexpr const char *kOnABlock = "On a block";

    // `pageServerID` is asked afresh each time: a page that reaches the service meanwhile can post.
    CommentsPanelModel(ServiceClient &client, std::function<qint64()> pageServerID,
                       QObject *parent = nullptr);

    const std::vector<CommentDTO> &comments() const { return m_comments; }
    bool isLoading() const { return m_loading; }
    bool isPosting() const { return m_posting; }
    const std::optional<QString> &error() const { return m_error; }
    // Grows each time the list changes, so a view redraws its cards only then.
    int listVersion() const { return m_listVersion; }
    const QString &newBody() const { return m_newBody; }
    void setNewBody(const QString &text);
    bool canPost() const;

    QCoro::Task<> loadComments();
    QCoro::Task<> postComment();
    // The page's record changed: it may have reached the service, which lets "Post" post.
    void pageChanged() { Q_EMIT changed(); }

    // What a comment card shows.
    static QString author(const CommentDTO &comment);
    static QString date(const CommentDTO &comment);
    // The quote "“…”", "On a block", or nothing.
    static std::optional<QString> context(const CommentDTO &comment);
    // Leading and trailing spaces and tabs only: line breaks are part of a comment.
    static QString trimmedBody(const QString &text);

Q_SIGNALS:
    void changed();

private:
    // Appends a comment not listed yet.
    void take(const CommentDTO &comment);

    ServiceClient &m_client;
    std::function<qint64()> m_pageServerID;
    std::vector<CommentDTO> m_comments;
    QString m_newBody;
    int m_listVersion = 0;
    bool m_loading = true;
    bool m_posting = false;
    std::optional<QString> m_error;
};
