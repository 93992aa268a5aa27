#include "collab/publish_sheet_model.h"

#include "api/api_error.h"
#include "api/service_client.h"
#include "collab/error_message.h"
#include "platform/clipboard.h"
#include "platform/url_opener.h"
#include "store/local_store.h"

#include <QTimer>
#include <QUrl>

PublishSheetModel::PublishSheetModel(Services services, qint64 pageServerID,
                                     std::chrono::milliseconds copiedFor, QObject *parent)
    : QObject(parent)
    , m_client(services.client)
    , m_store(services.store)
    , m_clipboard(services.clipboard)
    , m_urlOpener(services.urlOpener)
    , m_pageServerID(pageServerID)
    , m_copiedFor(copiedFor)
{
}

void PublishSheetModel::setPassword(const QString &password)
{
    m_password = password;
    Q_EMIT changed();
}

void PublishSheetModel::setAllowComments(bool on)
{
    m_allowComments = on;
    Q_EMIT changed();
}

void PublishSheetModel::setIncludeSubpages(bool on)
{
    m_includeSubpages = on;
    Q_EMIT changed();
}

std::optional<QString> PublishSheetModel::viewLine(qint64 count)
{
    if (count < 1)
        return std::nullopt;
    return QString::number(count) + (count == 1 ? QStringLiteral(" view") : QStringLiteral(" views"));
}

QString PublishSheetModel::embedSnippet(const QString &url)
{
    QString src = url;
    src.replace(u'"', QStringLiteral("&quot;"));
    return QStringLiteral("<iframe src=\"") + src +
           QStringLiteral("\" width=\"100%\" height=\"700\" frameborder=\"0\" loading=\"lazy\" "
                          "allowfullscreen></iframe>");
}

PublishReq PublishSheetModel::request() const
{
    PublishReq req;
    req.page_id = m_pageServerID;
    if (!m_password.isEmpty())
        req.password = m_password;
    req.allow_comments = m_allowComments;
    req.include_subpages = m_includeSubpages;
    return req;
}

QCoro::Task<> PublishSheetModel::loadStatus()
{
    QPointer<PublishSheetModel> self(this);
    if (!m_client || !m_client->isSignedIn() || m_pageServerID == 0) {
        m_loading = false;
        Q_EMIT changed();
        co_return;
    }
    m_loading = true;
    m_loadError.reset();
    Q_EMIT changed();
    std::optional<PublishResp> reply;
    QString failure;
    try {
        reply = co_await m_client->getPublish(m_pageServerID);
    } catch (const std::exception &e) {
        failure = APIError::messageOf(e);
    } catch (...) {
    }
    if (!self)
        co_return;
    if (reply) {
        m_published = reply->published;
        m_slug = reply->slug;
        m_url = reply->url;
        m_allowComments = reply->commentsAllowed();
        m_includeSubpages = reply->subpagesIncluded();
        m_viewCount = reply->views();
        m_hasPassword = reply->passwordSet();
        m_password.clear();
    } else {
        m_published = false;
        m_loadError = failure;
    }
    m_loading = false;
    Q_EMIT changed();
}

QCoro::Task<> PublishSheetModel::publish()
{
    if (!m_client || !m_client->isSignedIn() || m_pageServerID == 0 || m_loadError)
        return []() -> QCoro::Task<> { co_return; }();
    m_saving = true;
    m_error.reset();
    Q_EMIT changed();
    return sendPublish(this, m_client, m_store, request());
}

QCoro::Task<> PublishSheetModel::sendPublish(QPointer<PublishSheetModel> self, QPointer<ServiceClient> client,
                                             QPointer<LocalStore> store, PublishReq request)
{
    try {
        const PublishResp reply = co_await client->publish(request);
        // The badge follows what the service says it did, not what was asked.
        writeBadge(store, request.page_id, reply.published);
        if (self)
            self->applyPublished(reply, request.password.has_value());
    } catch (const APIError &e) {
        if (self)
            self->failed(e.kind() == APIError::Kind::Http
                             ? errorMessage(e.body()).value_or(QString::fromLatin1(kPublishFailed))
                             : e.errorDescription());
    } catch (const std::exception &e) {
        if (self)
            self->failed(APIError::messageOf(e));
    }
}

QCoro::Task<> PublishSheetModel::unpublish()
{
    if (!m_client || !m_client->isSignedIn() || m_pageServerID == 0 || m_loadError)
        return []() -> QCoro::Task<> { co_return; }();
    m_saving = true;
    m_error.reset();
    Q_EMIT changed();
    return sendUnpublish(this, m_client, m_store, m_pageServerID);
}

QCoro::Task<> PublishSheetModel::sendUnpublish(QPointer<PublishSheetModel> self,
                                               QPointer<ServiceClient> client, QPointer<LocalStore> store,
                                               qint64 pageServerID)
{
    try {
        co_await client->unpublish(pageServerID);
        writeBadge(store, pageServerID, false);
        if (self)
            self->applyUnpublished();
    } catch (const std::exception &e) {
        // The status message for every error here, the service's words only in brackets.
        if (self)
            self->failed(APIError::messageOf(e));
    }
}

void PublishSheetModel::writeBadge(LocalStore *store, qint64 pageServerID, bool published)
{
    if (!store)
        return;
    FNPageStatus status = store->pageStatus(pageServerID);
    status.published = published;
    store->setPageStatus(pageServerID, status);
}

void PublishSheetModel::applyPublished(const PublishResp &reply, bool sentPassword)
{
    m_published = reply.published;
    m_slug = reply.slug;
    m_url = reply.url;
    // Decided by what was sent: text typed while the request was away is a new password to come.
    if (sentPassword) {
        m_hasPassword = true;
        m_password.clear();
    }
    m_saving = false;
    Q_EMIT changed();
}

void PublishSheetModel::applyUnpublished()
{
    m_published = false;
    m_slug.reset();
    m_url.reset();
    m_viewCount = 0;
    m_hasPassword = false;
    m_saving = false;
    Q_EMIT changed();
}

void PublishSheetModel::failed(const QString &message)
{
    m_error = message;
    m_saving = false;
    Q_EMIT changed();
}

void PublishSheetModel::copyURL(const QString &url)
{
    if (m_clipboard)
        m_clipboard->setText(url);
    m_copied = true;
    Q_EMIT changed();
    // Each copy has its own timer: a second copy does not extend the first one's.
    QTimer::singleShot(m_copiedFor, this, [this] {
        m_copied = false;
        Q_EMIT changed();
    });
}

void PublishSheetModel::copyEmbed(const QString &url)
{
    if (m_clipboard)
        m_clipboard->setText(embedSnippet(url));
}

void PublishSheetModel::openInBrowser(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (parsed.isValid() && m_urlOpener)
        m_urlOpener->openUrl(parsed);
}
