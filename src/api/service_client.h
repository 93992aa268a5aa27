#pragma once

#include "api/api_client.h"
#include "api/cancel_token.h"
#include "api/remote_image_loader.h"
#include "api/wire/ai.h"
#include "api/wire/auth.h"
#include "api/wire/blocks.h"
#include "api/wire/collab.h"
#include "api/wire/common.h"
#include "api/wire/databases.h"
#include "api/wire/folders.h"
#include "api/wire/library.h"
#include "api/wire/pages.h"
#include "api/wire/sync.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

class AppEvents;
class Connectivity;
class SessionStore;

// How long ServiceClient lets an exchange run.
struct ServiceTimeouts {
    std::chrono::milliseconds request = APIClient::kRequestTimeout;   // no progress for this long
    std::chrono::milliseconds resource = APIClient::kResourceTimeout; // whole exchange
    // An upload may take as long as it needs while bytes move; only this much silence ends it.
    std::chrono::milliseconds uploadSilence = APIClient::kUploadSilenceTimeout;
};

// The app's one way to the service. It owns the origin, the time-outs and the request layer, and
// takes the token from the session for every call, so no caller reads or passes one. Every call
// fails with APIError; a call that needs a session fails with APIError::noToken() without one.
class ServiceClient : public QObject
{
    Q_OBJECT
public:
    using Timeouts = ServiceTimeouts;

    // Which sign-in a call went out under, without showing its token. A caller that runs long (the
    // sync cycle) keeps one to tell a refusal of the current session from one of a replaced session.
    class Credential
    {
    public:
        explicit operator bool() const { return m_token.has_value(); }
        bool operator==(const Credential &) const = default;

    private:
        friend class ServiceClient;
        std::optional<QString> m_token;
    };

    // `events` hears "fnAuthExpired" when a call that ends the session is refused.
    ServiceClient(const QString &origin, SessionStore &session, AppEvents &events, Connectivity &connectivity,
                  Timeouts timeouts = {}, QObject *parent = nullptr);

    QUrl origin() const { return m_api.baseURL(); }
    // The origin followed by `path`, for pages the browser opens on the service.
    QUrl pageURL(const QString &path) const { return QUrl(m_api.baseURLText() + path); }
    // The request layer: its network manager and reply limits (remote images, tests of the exchange).
    APIClient &transport() { return m_api; }
    // The process's remote images, fetched without the session's token.
    RemoteImageLoader &images() { return m_images; }

    bool isSignedIn() const;
    Credential credential() const;
    // Posts "fnAuthExpired" for a refused sign-in, unless the session has moved on since.
    void endSession(const Credential &refused);

    // A free-text query value: everything but A-Z a-z 0-9 - . _ ~ is percent-encoded as UTF-8,
    // so '&', '=', '+' and '#' arrive as typed instead of splitting or ending the query.
    static QString encodeQueryValue(const QString &text);

    // Accounts. Sign-in and sign-up need no session; logout revokes the token it is given, which
    // the session has already forgotten by then.
    QCoro::Task<AuthResp> login(AuthLoginReq body);
    QCoro::Task<AuthResp> signup(AuthSignupReq body);
    QCoro::Task<EmptyReply> logout(QString token);

    // Pages, blocks and sync
    QCoro::Task<PageResp> createPage(PageCreateReq body, QPointer<CancelToken> cancel = {});
    QCoro::Task<PageResp> patchPage(PagePatchReq body, QPointer<CancelToken> cancel = {});
    // PATCH of the page's parent page alone; 0 moves it to the top level ("parent_page_id": null).
    QCoro::Task<PageResp> patchPageParent(qint64 pageId, qint64 parentPageId, QPointer<CancelToken> cancel = {});
    QCoro::Task<EmptyReply> deletePage(qint64 pageId, QPointer<CancelToken> cancel = {});
    QCoro::Task<BlocksUpsertResp> upsertBlocks(BlocksUpsertReq body, QPointer<CancelToken> cancel = {});
    QCoro::Task<EmptyReply> deleteBlock(qint64 blockId, QPointer<CancelToken> cancel = {});
    QCoro::Task<SyncResp> sync(SyncReq body, QPointer<CancelToken> cancel = {});
    QCoro::Task<BlocksResp> fetchBlocks(qint64 pageId, QPointer<CancelToken> cancel = {});
    QCoro::Task<BookmarkPreviewResp> fetchBookmark(QString url);

    // Sends the bytes as a one-part multipart form to "/api/upload.php?kind=" (kind "image" when
    // absent) and returns the URL the service stores them under. A reply that does not decode throws
    // the decoder's DecodeError. A 401 ends the session. A cancelled `cancel` aborts the transfer.
    QCoro::Task<QUrl> upload(QByteArray data, QString filename, QString mime,
                             std::optional<QString> kind = std::nullopt, QPointer<CancelToken> cancel = {});

    // The bytes at a public address (an uploaded recording to play), fetched without the token.
    // Only http and https; the reply size cap applies.
    QCoro::Task<QByteArray> fetchPublicFile(QUrl url, QPointer<CancelToken> cancel = {});

    // Comments. A comment the service stored is told through `commentCreated` as well.
    QCoro::Task<CommentCreateResp> createComment(CommentCreateReq body);
    QCoro::Task<CommentsResp> listComments(qint64 pageId);

    // Library and trash
    QCoro::Task<WorkspacesResp> listWorkspaces();
    QCoro::Task<FoldersResp> listFolders(qint64 workspaceId, QPointer<CancelToken> cancel = {});
    QCoro::Task<LibraryPagesResp> listPages(qint64 workspaceId, QPointer<CancelToken> cancel = {});
    QCoro::Task<PageStatusesResp> pageStatuses(qint64 workspaceId);
    QCoro::Task<SearchResp> search(qint64 workspaceId, QString text);
    QCoro::Task<FolderResp> createFolder(FolderCreateReq body, QPointer<CancelToken> cancel = {});
    // Rename, re-icon or re-parent (drop onto another folder).
    QCoro::Task<EmptyReply> patchFolder(FolderPatchReq body, QPointer<CancelToken> cancel = {});
    QCoro::Task<EmptyReply> movePage(FolderMovePageReq body, QPointer<CancelToken> cancel = {});
    QCoro::Task<EmptyReply> deleteFolder(qint64 folderId, QPointer<CancelToken> cancel = {});
    QCoro::Task<PagesResp> listTrash(qint64 workspaceId);
    QCoro::Task<EmptyReply> purgePage(qint64 pageId);
    // Takes a page out of the trash. Any 2xx reply counts as done; its body is not read.
    QCoro::Task<void> restorePage(qint64 pageId);

    // Inline databases
    QCoro::Task<DatabasesResp> listDatabases(qint64 pageId);
    QCoro::Task<DatabaseResp> createDatabase(DBCreateReq body);
    QCoro::Task<DBRowResp> createRow(DBRowCreateReq body);
    QCoro::Task<EmptyReply> patchRow(DBRowPatchReq body);

    // Sharing and publishing
    QCoro::Task<ShareListResp> listShares(qint64 pageId);
    QCoro::Task<ShareInviteResp> share(ShareReq body);
    QCoro::Task<EmptyReply> removeShare(qint64 pageId, qint64 shareId);
    QCoro::Task<EmptyReply> removeInvite(qint64 pageId, qint64 inviteId);
    QCoro::Task<PublishResp> getPublish(qint64 pageId);
    QCoro::Task<PublishResp> publish(PublishReq body);
    QCoro::Task<EmptyReply> unpublish(qint64 pageId);

    // Suggestions, versions and AI
    QCoro::Task<SuggestionsResp> listSuggestions(qint64 pageId);
    QCoro::Task<EmptyReply> decideSuggestion(SuggestionDecideReq body);
    QCoro::Task<VersionsResp> listVersions(qint64 pageId);
    QCoro::Task<VersionRestoreOK> restoreVersion(VersionRestoreReq body);
    QCoro::Task<AIResp> runAI(AIReq body);

Q_SIGNALS:
    void commentCreated(const CommentDTO &comment);

private:
    // A call under the session's token, read when the call is made.
    template <typename Resp>
    QCoro::Task<Resp> call(QString method, QString path, std::optional<AnyEncodable> body,
                           QPointer<CancelToken> cancel = {});
    template <typename Resp>
    QCoro::Task<Resp> get(QString path, QPointer<CancelToken> cancel = {});
    // Decodes a large reply on a pool thread; this coroutine resumes here with it.
    template <typename Resp>
    static QCoro::Task<Resp> decodedAside(QByteArray data);
    QCoro::Task<EmptyReply> remove(QString path, QPointer<CancelToken> cancel = {});
    QString sessionToken() const; // throws APIError::noToken() without a session

    SessionStore &m_session;
    AppEvents &m_events;
    APIClient m_api;
    RemoteImageLoader m_images{m_api}; // after m_api: its replies go before the network manager
};
