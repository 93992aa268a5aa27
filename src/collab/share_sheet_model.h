#pragma once

#include "api/wire/collab.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>
#include <vector>

class LocalStore;
class ServiceClient;

// What the share sheet shows and does for one page, without a window. Invites and removals run to
// their end when the sheet goes, and their reload still writes the page's share badge.
class ShareSheetModel : public QObject
{
    Q_OBJECT
public:
    struct RoleOption {
        const char *id;
        const char *label;
        const char *hint;
    };
    static const std::vector<RoleOption> &roleOptions();
    static constexpr const char *kShareFailed = "Share failed";
    static constexpr const char *kInviteEmailed = "Invite emailed.";
    static constexpr const char *kShared = "Shared.";

    ShareSheetModel(ServiceClient *client, LocalStore *store, qint64 pageServerID, QObject *parent = nullptr);

    // `Share "<title>"`, "Untitled" for an empty title.
    static QString title(const QString &pageTitle);
    // The role as sent, else the strongest permission: delete, edit, comment, else view.
    static QString effectiveRole(const std::optional<QString> &role, const std::vector<QString> &permissions);
    // The role's label; an id we do not know as it is.
    static QString roleLabel(const QString &roleID);
    static std::optional<QString> roleHint(const QString &roleID);
    // Spaces and tabs only: a line break is the service's to judge.
    static QString trimmedEmail(const QString &text);

    qint64 pageServerID() const { return m_pageServerID; }
    const QString &email() const { return m_email; }
    const QString &role() const { return m_role; }
    bool loading() const { return m_loading; }
    bool sending() const { return m_sending; }
    const std::vector<ShareItemDTO> &shares() const { return m_shares; }
    const std::vector<ShareInviteDTO> &invites() const { return m_invites; }
    // Grows each time the people listed change, so a view redraws its list only then.
    int listVersion() const { return m_listVersion; }
    const std::optional<QString> &error() const { return m_error; }
    const std::optional<QString> &info() const { return m_info; }
    bool canSend() const { return !m_sending && !m_email.isEmpty() && m_pageServerID != 0; }

    void setEmail(const QString &email);
    void setRole(const QString &roleID);

    QCoro::Task<> loadShares();
    QCoro::Task<> sendInvite();
    QCoro::Task<> revokeShare(const ShareItemDTO &share);
    QCoro::Task<> revokeInvite(const ShareInviteDTO &invite);

Q_SIGNALS:
    void changed();

private:
    // Fetches the lists and shows them while the sheet is open; after a change, a successful fetch
    // also writes the badge from them.
    static QCoro::Task<> reload(QPointer<ShareSheetModel> self, QPointer<ServiceClient> client,
                                QPointer<LocalStore> store, qint64 pageServerID);
    static QCoro::Task<> invite(QPointer<ShareSheetModel> self, QPointer<ServiceClient> client,
                                QPointer<LocalStore> store, ShareReq request);
    static QCoro::Task<> revoke(QPointer<ShareSheetModel> self, QPointer<ServiceClient> client,
                                QPointer<LocalStore> store, qint64 pageServerID,
                                std::optional<qint64> shareID, std::optional<qint64> inviteID);
    void inviteEnded(std::optional<QString> info, std::optional<QString> error);

    QPointer<ServiceClient> m_client;
    QPointer<LocalStore> m_store;
    qint64 m_pageServerID;
    QString m_email;
    QString m_role = QStringLiteral("edit");
    bool m_loading = true;
    bool m_sending = false;
    std::vector<ShareItemDTO> m_shares;
    std::vector<ShareInviteDTO> m_invites;
    int m_listVersion = 0;
    std::optional<QString> m_error;
    std::optional<QString> m_info;
};
