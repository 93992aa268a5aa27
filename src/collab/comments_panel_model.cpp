#include "collab/comments_panel_model.h"

#include "api/api_error.h"
#include "api/service_client.h"
#include "collab/error_message.h"

#include <QPointer>

#include <algorithm>

CommentsPanelModel::CommentsPanelModel(ServiceClient &client, std::function<qint64()> pageServerID,
                                       QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_pageServerID(std::move(pageServerID))
{
    // A comment written on one of the page's blocks shows here without a reload.
    connect(&m_client, &ServiceClient::commentCreated, this, [this](const CommentDTO &comment) {
        const qint64 page = m_pageServerID();
        if (page != 0 && comment.page_id == page)
            take(comment);
    });
}

void CommentsPanelModel::take(const CommentDTO &comment)
{
    const bool listed = std::any_of(m_comments.begin(), m_comments.end(),
                                    [&](const CommentDTO &c) { return c.id == comment.id; });
    if (listed)
        return;
    m_comments.push_back(comment);
    ++m_listVersion;
    Q_EMIT changed();
}

void CommentsPanelModel::setNewBody(const QString &text)
{
    if (m_newBody == text)
        return;
    m_newBody = text;
    Q_EMIT changed();
}

bool CommentsPanelModel::canPost() const
{
    return !m_posting && !trimmedBody(m_newBody).isEmpty() && m_pageServerID() != 0;
}

QString CommentsPanelModel::trimmedBody(const QString &text)
{
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && blank(text.at(begin)))
        ++begin;
    while (end > begin && blank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

QString CommentsPanelModel::author(const CommentDTO &comment)
{
    if (comment.user_name)
        return *comment.user_name;
    if (comment.guest_name)
        return *comment.guest_name;
    return QString::fromUtf8(kAnonymous);
}

QString CommentsPanelModel::date(const CommentDTO &comment)
{
    return comment.created_at.left(16);
}

std::optional<QString> CommentsPanelModel::context(const CommentDTO &comment)
{
    if (comment.selection_text && !comment.selection_text->isEmpty())
        return QStringLiteral("\u201C%1\u201D").arg(*comment.selection_text);
    if (comment.block_id)
        return QString::fromUtf8(kOnABlock);
    return std::nullopt;
}

QCoro::Task<> CommentsPanelModel::loadComments()
{
    const qint64 page = m_pageServerID();
    if (!m_client.isSignedIn() || page == 0) {
        m_loading = false;
        Q_EMIT changed();
        co_return;
    }
    m_loading = true;
    Q_EMIT changed();

    QPointer<CommentsPanelModel> self(this);
    std::optional<CommentsResp> reply;
    try {
        reply = co_await m_client.listComments(page);
    } catch (...) {
    }
    if (!self)
        co_return;
    if (reply) {
        m_comments = std::move(reply->comments);
        ++m_listVersion;
        m_error.reset();
    } else {
        m_error = QString::fromUtf8(kLoadFailed);
    }
    m_loading = false;
    Q_EMIT changed();
}

QCoro::Task<> CommentsPanelModel::postComment()
{
    const qint64 page = m_pageServerID();
    if (!m_client.isSignedIn() || page == 0)
        co_return;
    m_posting = true;
    m_error.reset();
    Q_EMIT changed();

    CommentCreateReq body;
    body.page_id = page;
    body.body = trimmedBody(m_newBody);
    // The client outlives every panel; only the write-back needs the panel still there.
    QPointer<CommentsPanelModel> self(this);
    ServiceClient &client = m_client;
    std::optional<CommentCreateResp> reply;
    QString failure;
    try {
        reply = co_await client.createComment(std::move(body));
    } catch (const APIError &error) {
        failure = error.kind() == APIError::Kind::Http
                      ? errorMessage(error.body()).value_or(QString::fromUtf8(kPostFailed))
                      : error.errorDescription();
    } catch (const std::exception &error) {
        failure = APIError::messageOf(error);
    }
    if (!self)
        co_return;
    if (reply) {
        // Told already when the client heard it: appended once.
        take(reply->comment);
        m_newBody.clear();
    } else {
        m_error = failure;
    }
    m_posting = false;
    Q_EMIT changed();
}
