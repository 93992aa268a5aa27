#include "collab/share_sheet_model.h"

#include "api/api_error.h"
#include "api/service_client.h"
#include "collab/error_message.h"
#include "store/local_store.h"

#include <algorithm>

const std::vector<ShareSheetModel::RoleOption> &ShareSheetModel::roleOptions()
{
    static const std::vector<RoleOption> options{
        {"full", "Full access", "View, edit, delete, share with others"},
        {"edit", "Can edit", "Read and edit anything on the page"},
        {"edit-own", "Edit own only", "Edit blocks they create; can't change yours"},
        {"suggest", "Suggest edits", "Propose changes; you approve or reject them"},
        {"comment", "Comment only", "Read + leave comments; can't edit content"},
        {"view", "View only", "Read-only access"},
    };
    return options;
}

ShareSheetModel::ShareSheetModel(ServiceClient *client, LocalStore *store, qint64 pageServerID,
                                 QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_store(store)
    , m_pageServerID(pageServerID)
{
}

QString ShareSheetModel::title(const QString &pageTitle)
{
    return QStringLiteral("Share \"") + (pageTitle.isEmpty() ? QStringLiteral("Untitled") : pageTitle) + u'"';
}

QString ShareSheetModel::effectiveRole(const std::optional<QString> &role,
                                       const std::vector<QString> &permissions)
{
    if (role)
        return *role;
    const auto has = [&](const char *word) {
        return std::find(permissions.begin(), permissions.end(), QLatin1String(word)) != permissions.end();
    };
    if (has("delete"))
        return QStringLiteral("full");
    if (has("edit"))
        return QStringLiteral("edit");
    if (has("comment"))
        return QStringLiteral("comment");
    return QStringLiteral("view");
}

QString ShareSheetModel::roleLabel(const QString &roleID)
{
    for (const RoleOption &o : roleOptions()) {
        if (roleID == QLatin1String(o.id))
            return QString::fromUtf8(o.label);
    }
    return roleID;
}

std::optional<QString> ShareSheetModel::roleHint(const QString &roleID)
{
    for (const RoleOption &o : roleOptions()) {
        if (roleID == QLatin1String(o.id))
            return QString::fromUtf8(o.hint);
    }
    return std::nullopt;
}

QString ShareSheetModel::trimmedEmail(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (start < end && blank(text[start]))
        ++start;
    while (end > start && blank(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

void ShareSheetModel::setEmail(const QString &email)
{
    m_email = email;
    Q_EMIT changed();
}

void ShareSheetModel::setRole(const QString &roleID)
{
    m_role = roleID;
    Q_EMIT changed();
}

QCoro::Task<> ShareSheetModel::loadShares()
{
    if (!m_client || !m_client->isSignedIn() || m_pageServerID == 0) {
        m_loading = false;
        Q_EMIT changed();
        co_return;
    }
    co_await reload(this, m_client, nullptr, m_pageServerID);
}

QCoro::Task<> ShareSheetModel::reload(QPointer<ShareSheetModel> self, QPointer<ServiceClient> client,
                                      QPointer<LocalStore> store, qint64 pageServerID)
{
    if (self) {
        self->m_loading = true;
        Q_EMIT self->changed();
    }
    std::optional<ShareListResp> reply;
    try {
        if (client)
            reply = co_await client->listShares(pageServerID);
    } catch (...) {
    }
    if (reply && store) {
        // Counted from the reply, so it is right whether or not the sheet is still there.
        FNPageStatus status = store->pageStatus(pageServerID);
        status.sharedCount = qint64(reply->shares.size() + reply->invites.size());
        store->setPageStatus(pageServerID, status);
    }
    if (self) {
        if (reply) {
            self->m_shares = std::move(reply->shares);
            self->m_invites = std::move(reply->invites);
            ++self->m_listVersion;
        }
        self->m_loading = false;
        Q_EMIT self->changed();
    }
}

QCoro::Task<> ShareSheetModel::sendInvite()
{
    if (!m_client || !m_client->isSignedIn() || m_pageServerID == 0)
        return []() -> QCoro::Task<> { co_return; }();
    m_sending = true;
    m_error.reset();
    m_info.reset();
    Q_EMIT changed();
    ShareReq request;
    request.page_id = m_pageServerID;
    request.email = trimmedEmail(m_email);
    request.role = m_role;
    return invite(this, m_client, m_store, request);
}

QCoro::Task<> ShareSheetModel::invite(QPointer<ShareSheetModel> self, QPointer<ServiceClient> client,
                                      QPointer<LocalStore> store, ShareReq request)
{
    std::optional<ShareInviteResp> reply;
    std::optional<QString> failure;
    try {
        reply = co_await client->share(request);
    } catch (const APIError &e) {
        failure = e.kind() == APIError::Kind::Http
                      ? errorMessage(e.body()).value_or(QString::fromLatin1(kShareFailed))
                      : e.errorDescription();
    } catch (const std::exception &e) {
        failure = APIError::messageOf(e);
    }
    if (!reply || reply->ok != true) {
        if (self)
            self->inviteEnded(std::nullopt, reply ? reply->error : failure);
        co_return;
    }
    if (self) {
        self->m_info =
            QString::fromLatin1(reply->kind == QStringLiteral("invite_sent") ? kInviteEmailed : kShared);
        self->m_email.clear();
        Q_EMIT self->changed();
    }
    co_await reload(self, client, store, request.page_id);
    if (self)
        self->inviteEnded(self->m_info, std::nullopt);
}

void ShareSheetModel::inviteEnded(std::optional<QString> info, std::optional<QString> error)
{
    m_info = std::move(info);
    m_error = std::move(error);
    m_sending = false;
    Q_EMIT changed();
}

QCoro::Task<> ShareSheetModel::revokeShare(const ShareItemDTO &share)
{
    if (!m_client || !m_client->isSignedIn())
        return []() -> QCoro::Task<> { co_return; }();
    return revoke(this, m_client, m_store, m_pageServerID, share.id, std::nullopt);
}

QCoro::Task<> ShareSheetModel::revokeInvite(const ShareInviteDTO &invite)
{
    if (!m_client || !m_client->isSignedIn())
        return []() -> QCoro::Task<> { co_return; }();
    return revoke(this, m_client, m_store, m_pageServerID, std::nullopt, invite.id);
}

QCoro::Task<> ShareSheetModel::revoke(QPointer<ShareSheetModel> self, QPointer<ServiceClient> client,
                                      QPointer<LocalStore> store, qint64 pageServerID,
                                      std::optional<qint64> shareID, std::optional<qint64> inviteID)
{
    try {
        if (shareID)
            co_await client->removeShare(pageServerID, *shareID);
        else
            co_await client->removeInvite(pageServerID, *inviteID);
    } catch (...) {
        // A refusal says nothing here: the reload shows what is true now.
    }
    co_await reload(self, client, store, pageServerID);
}
