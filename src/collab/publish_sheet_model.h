#pragma once

#include "api/wire/collab.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <optional>

class Clipboard;
class LocalStore;
class ServiceClient;
class UrlOpener;

// What the publish sheet shows and does for one page, without a window. Publish and unpublish run
// to their end when the sheet goes; the page's publish badge is written all the same.
class PublishSheetModel : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kCopiedFor{1500};
    static constexpr const char *kPublishFailed = "Publish failed";
    static constexpr const char *kTryAgain = "Try Again";

    struct Services {
        ServiceClient *client = nullptr;
        LocalStore *store = nullptr; // the badge; none in tests that do not look at it
        Clipboard *clipboard = nullptr;
        UrlOpener *urlOpener = nullptr;
    };

    PublishSheetModel(Services services, qint64 pageServerID,
                      std::chrono::milliseconds copiedFor = kCopiedFor, QObject *parent = nullptr);

    qint64 pageServerID() const { return m_pageServerID; }
    bool loading() const { return m_loading; }
    bool published() const { return m_published; }
    const std::optional<QString> &slug() const { return m_slug; }
    const std::optional<QString> &url() const { return m_url; }
    bool hasPassword() const { return m_hasPassword; }
    const QString &password() const { return m_password; }
    bool allowComments() const { return m_allowComments; }
    bool includeSubpages() const { return m_includeSubpages; }
    qint64 viewCount() const { return m_viewCount; }
    const std::optional<QString> &error() const { return m_error; }
    // Why the page's publish settings could not be read; until a read succeeds nothing can be sent,
    // as the form would hold defaults, not the live page's settings.
    const std::optional<QString> &loadError() const { return m_loadError; }
    bool saving() const { return m_saving; }
    bool copied() const { return m_copied; }
    // The hint that a password is already set shows only while the field is empty.
    bool showsPasswordHint() const { return m_hasPassword && m_password.isEmpty(); }
    bool canPublish() const { return !m_saving && m_pageServerID != 0 && !m_loadError; }

    void setPassword(const QString &password);
    void setAllowComments(bool on);
    void setIncludeSubpages(bool on);

    // "1 view", "12 views"; nothing below one.
    static std::optional<QString> viewLine(qint64 count);
    // The iframe to paste elsewhere; a '"' in the URL is written as "&quot;" so it stays inside src.
    static QString embedSnippet(const QString &url);
    // The request the current form makes; an empty password field leaves the key out.
    PublishReq request() const;

    QCoro::Task<> loadStatus();
    QCoro::Task<> publish();
    QCoro::Task<> unpublish();
    void copyURL(const QString &url);
    void copyEmbed(const QString &url);
    void openInBrowser(const QString &url);

Q_SIGNALS:
    void changed();

private:
    static QCoro::Task<> sendPublish(QPointer<PublishSheetModel> self, QPointer<ServiceClient> client,
                                     QPointer<LocalStore> store, PublishReq request);
    static QCoro::Task<> sendUnpublish(QPointer<PublishSheetModel> self, QPointer<ServiceClient> client,
                                       QPointer<LocalStore> store, qint64 pageServerID);
    static void writeBadge(LocalStore *store, qint64 pageServerID, bool published);
    void applyPublished(const PublishResp &reply, bool sentPassword);
    void applyUnpublished();
    void failed(const QString &message);

    QPointer<ServiceClient> m_client;
    QPointer<LocalStore> m_store;
    Clipboard *m_clipboard;
    UrlOpener *m_urlOpener;
    qint64 m_pageServerID;
    std::chrono::milliseconds m_copiedFor;
    bool m_loading = true;
    bool m_published = false;
    std::optional<QString> m_slug;
    std::optional<QString> m_url;
    bool m_hasPassword = false;
    QString m_password;
    bool m_allowComments = false;
    bool m_includeSubpages = false;
    qint64 m_viewCount = 0;
    std::optional<QString> m_error;
    std::optional<QString> m_loadError;
    bool m_saving = false;
    bool m_copied = false;
};
