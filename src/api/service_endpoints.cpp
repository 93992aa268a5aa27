#include "api/service_endpoints.h"

#include "api/api_client.h"

#include <QMap>
#include <QNetworkRequest>
#include <QUrl>

namespace {

const QString AuthLoginPath = QStringLiteral("/api/auth/login.php");
const QString AuthSignupPath = QStringLiteral("/api/auth/signup.php");
const QString AuthLogoutPath = QStringLiteral("/api/auth/logout.php");
const QString PagesPath = QStringLiteral("/api/pages.php");
const QString BlocksPath = QStringLiteral("/api/blocks.php");
const QString SyncPath = QStringLiteral("/api/sync.php");
const QString BookmarkFetchPath = QStringLiteral("/api/bookmark-fetch.php");
const QString CommentsPath = QStringLiteral("/api/comments.php");
const QString WorkspacesPath = QStringLiteral("/api/workspaces.php");
const QString FoldersPath = QStringLiteral("/api/folders.php");
const QString PageStatusPath = QStringLiteral("/api/page-status.php");
const QString SearchPath = QStringLiteral("/api/search.php");
const QString DatabasesPath = QStringLiteral("/api/databases.php");
const QString DatabaseRowsPath = QStringLiteral("/api/database-rows.php");
const QString SharePath = QStringLiteral("/api/share.php");
const QString PublishPath = QStringLiteral("/api/publish.php");
const QString SuggestionsPath = QStringLiteral("/api/suggestions.php");
const QString VersionsPath = QStringLiteral("/api/versions.php");
const QString AIPath = QStringLiteral("/api/ai.php");

const QString Get = QStringLiteral("GET");
const QString Post = QStringLiteral("POST");
const QString Patch = QStringLiteral("PATCH");
const QString Delete = QStringLiteral("DELETE");

// "path?name=id": ids go out as plain decimal, never escaped.
QString withId(const QString &path, const char *name, qint64 id)
{
    return path + QLatin1Char('?') + QLatin1String(name) + QLatin1Char('=') + QString::number(id);
}

QString andId(const QString &pathAndQuery, const char *name, qint64 id)
{
    return pathAndQuery + QLatin1Char('&') + QLatin1String(name) + QLatin1Char('=') + QString::number(id);
}

template <typename Resp>
QCoro::Task<Resp> call(const QString &method, const QString &path, std::optional<AnyEncodable> body,
                       std::optional<QString> token, QPointer<CancelToken> cancel = {})
{
    return APIClient::shared().request<Resp>(method, path, std::move(body), std::move(token),
                                             std::move(cancel));
}

template <typename Resp>
QCoro::Task<Resp> get(const QString &path, QString token, QPointer<CancelToken> cancel = {})
{
    return call<Resp>(Get, path, std::nullopt, std::move(token), std::move(cancel));
}

QCoro::Task<EmptyReply> remove(const QString &path, QString token, QPointer<CancelToken> cancel = {})
{
    return call<EmptyReply>(Delete, path, std::nullopt, std::move(token), std::move(cancel));
}

// The two string-to-string bodies (logout, bookmark fetch).
QMap<QString, QString> stringObject(const QString &key, const QString &value)
{
    return {{key, value}};
}

} // namespace

QString ServiceEndpoints::encodeQueryValue(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QCoro::Task<AuthResp> ServiceEndpoints::login(AuthLoginReq body)
{
    return call<AuthResp>(Post, AuthLoginPath, std::move(body), std::nullopt);
}

QCoro::Task<AuthResp> ServiceEndpoints::signup(AuthSignupReq body)
{
    return call<AuthResp>(Post, AuthSignupPath, std::move(body), std::nullopt);
}

QCoro::Task<EmptyReply> ServiceEndpoints::logout(QString token)
{
    return call<EmptyReply>(Post, AuthLogoutPath,
                            stringObject(QStringLiteral("device"), QStringLiteral("logout")),
                            std::move(token));
}

QCoro::Task<PageResp> ServiceEndpoints::createPage(QString token, PageCreateReq body,
                                                   QPointer<CancelToken> cancel)
{
    return call<PageResp>(Post, PagesPath, std::move(body), std::move(token), std::move(cancel));
}

QCoro::Task<PageResp> ServiceEndpoints::patchPage(QString token, PagePatchReq body,
                                                  QPointer<CancelToken> cancel)
{
    return call<PageResp>(Patch, PagesPath, std::move(body), std::move(token), std::move(cancel));
}

QCoro::Task<EmptyReply> ServiceEndpoints::deletePage(QString token, qint64 pageId,
                                                     QPointer<CancelToken> cancel)
{
    return remove(withId(PagesPath, "page_id", pageId), std::move(token), std::move(cancel));
}

QCoro::Task<BlocksUpsertResp> ServiceEndpoints::upsertBlocks(QString token, BlocksUpsertReq body,
                                                             QPointer<CancelToken> cancel)
{
    return call<BlocksUpsertResp>(Post, BlocksPath, std::move(body), std::move(token), std::move(cancel));
}

QCoro::Task<EmptyReply> ServiceEndpoints::deleteBlock(QString token, qint64 blockId,
                                                      QPointer<CancelToken> cancel)
{
    return remove(withId(BlocksPath, "block_id", blockId), std::move(token), std::move(cancel));
}

QCoro::Task<SyncResp> ServiceEndpoints::sync(QString token, SyncReq body, QPointer<CancelToken> cancel)
{
    return call<SyncResp>(Post, SyncPath, std::move(body), std::move(token), std::move(cancel));
}

QCoro::Task<BlocksResp> ServiceEndpoints::fetchBlocks(QString token, qint64 pageId)
{
    return get<BlocksResp>(withId(BlocksPath, "page_id", pageId), std::move(token));
}

QCoro::Task<BookmarkPreviewResp> ServiceEndpoints::fetchBookmark(QString token, QString url)
{
    return call<BookmarkPreviewResp>(Post, BookmarkFetchPath, stringObject(QStringLiteral("url"), url),
                                     std::move(token));
}

QCoro::Task<CommentCreateResp> ServiceEndpoints::createComment(QString token, CommentCreateReq body)
{
    return call<CommentCreateResp>(Post, CommentsPath, std::move(body), std::move(token));
}

QCoro::Task<CommentsResp> ServiceEndpoints::listComments(QString token, qint64 pageId)
{
    return get<CommentsResp>(withId(CommentsPath, "page_id", pageId), std::move(token));
}

QCoro::Task<WorkspacesResp> ServiceEndpoints::listWorkspaces(QString token)
{
    return get<WorkspacesResp>(WorkspacesPath, std::move(token));
}

QCoro::Task<FoldersResp> ServiceEndpoints::listFolders(QString token, qint64 workspaceId,
                                                       QPointer<CancelToken> cancel)
{
    return call<FoldersResp>(Get, withId(FoldersPath, "workspace_id", workspaceId), std::nullopt,
                             std::move(token), std::move(cancel));
}

QCoro::Task<LibraryPagesResp> ServiceEndpoints::listPages(QString token, qint64 workspaceId,
                                                          QPointer<CancelToken> cancel)
{
    return get<LibraryPagesResp>(withId(PagesPath, "workspace_id", workspaceId), std::move(token),
                                 std::move(cancel));
}

QCoro::Task<PageStatusesResp> ServiceEndpoints::pageStatuses(QString token, qint64 workspaceId)
{
    return get<PageStatusesResp>(withId(PageStatusPath, "workspace_id", workspaceId), std::move(token));
}

QCoro::Task<SearchResp> ServiceEndpoints::search(QString token, qint64 workspaceId, QString text)
{
    const QString path =
        withId(SearchPath, "workspace_id", workspaceId) + QLatin1String("&q=") + encodeQueryValue(text);
    return get<SearchResp>(path, std::move(token));
}

QCoro::Task<FolderResp> ServiceEndpoints::createFolder(QString token, FolderCreateReq body,
                                                       QPointer<CancelToken> cancel)
{
    return call<FolderResp>(Post, FoldersPath, std::move(body), std::move(token), std::move(cancel));
}

QCoro::Task<EmptyReply> ServiceEndpoints::patchFolder(QString token, FolderPatchReq body,
                                                      QPointer<CancelToken> cancel)
{
    return call<EmptyReply>(Patch, FoldersPath, std::move(body), std::move(token), std::move(cancel));
}

QCoro::Task<EmptyReply> ServiceEndpoints::movePage(QString token, FolderMovePageReq body,
                                                   QPointer<CancelToken> cancel)
{
    return call<EmptyReply>(Patch, FoldersPath + QLatin1String("?move_page=1"), std::move(body),
                            std::move(token), std::move(cancel));
}

QCoro::Task<EmptyReply> ServiceEndpoints::deleteFolder(QString token, qint64 folderId)
{
    return remove(withId(FoldersPath, "folder_id", folderId), std::move(token));
}

QCoro::Task<PagesResp> ServiceEndpoints::listTrash(QString token, qint64 workspaceId)
{
    return get<PagesResp>(withId(PagesPath, "workspace_id", workspaceId) + QLatin1String("&trash=1"),
                          std::move(token));
}

QCoro::Task<EmptyReply> ServiceEndpoints::purgePage(QString token, qint64 pageId)
{
    return remove(withId(PagesPath, "page_id", pageId) + QLatin1String("&permanent=1"), std::move(token));
}

QCoro::Task<void> ServiceEndpoints::restorePage(QString token, qint64 pageId)
{
    // The origin never ends in a slash: APIClient trims it.
    QUrl url = APIClient::baseURL();
    url.setPath(url.path() + PagesPath);

    // Built by hand rather than through the request function: no Accept field, this header order.
    QNetworkRequest request(url);
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setRawHeader("User-Agent", APIClient::kUserAgent);

    JsonWriter w;
    w.startObject();
    w.field("page_id", pageId);
    w.field("restore", qint64(1));
    w.endObject();

    APIClient &client = APIClient::shared();
    const auto reply = co_await client.send(client.session().sendCustomRequest(request, "PATCH", w.bytes()));

    // A refused restore must not pass for a done one: non-2xx fails like every other call.
    APIClient::successBody(reply.get());
}

QCoro::Task<DatabasesResp> ServiceEndpoints::listDatabases(QString token, qint64 pageId)
{
    return get<DatabasesResp>(withId(DatabasesPath, "page_id", pageId), std::move(token));
}

QCoro::Task<DatabaseResp> ServiceEndpoints::createDatabase(QString token, DBCreateReq body)
{
    return call<DatabaseResp>(Post, DatabasesPath, std::move(body), std::move(token));
}

QCoro::Task<DBRowResp> ServiceEndpoints::createRow(QString token, DBRowCreateReq body)
{
    return call<DBRowResp>(Post, DatabaseRowsPath, std::move(body), std::move(token));
}

QCoro::Task<EmptyReply> ServiceEndpoints::patchRow(QString token, DBRowPatchReq body)
{
    return call<EmptyReply>(Patch, DatabaseRowsPath, std::move(body), std::move(token));
}

QCoro::Task<ShareListResp> ServiceEndpoints::listShares(QString token, qint64 pageId)
{
    return get<ShareListResp>(withId(SharePath, "page_id", pageId), std::move(token));
}

QCoro::Task<ShareInviteResp> ServiceEndpoints::share(QString token, ShareReq body)
{
    return call<ShareInviteResp>(Post, SharePath, std::move(body), std::move(token));
}

QCoro::Task<EmptyReply> ServiceEndpoints::removeShare(QString token, qint64 pageId, qint64 shareId)
{
    return remove(andId(withId(SharePath, "page_id", pageId), "share_id", shareId), std::move(token));
}

QCoro::Task<EmptyReply> ServiceEndpoints::removeInvite(QString token, qint64 pageId, qint64 inviteId)
{
    return remove(andId(withId(SharePath, "page_id", pageId), "invite_id", inviteId), std::move(token));
}

QCoro::Task<PublishResp> ServiceEndpoints::getPublish(QString token, qint64 pageId)
{
    return get<PublishResp>(withId(PublishPath, "page_id", pageId), std::move(token));
}

QCoro::Task<PublishResp> ServiceEndpoints::publish(QString token, PublishReq body)
{
    return call<PublishResp>(Post, PublishPath, std::move(body), std::move(token));
}

QCoro::Task<EmptyReply> ServiceEndpoints::unpublish(QString token, qint64 pageId)
{
    return remove(withId(PublishPath, "page_id", pageId), std::move(token));
}

QCoro::Task<SuggestionsResp> ServiceEndpoints::listSuggestions(QString token, qint64 pageId)
{
    return get<SuggestionsResp>(withId(SuggestionsPath, "page_id", pageId), std::move(token));
}

QCoro::Task<EmptyReply> ServiceEndpoints::decideSuggestion(QString token, SuggestionDecideReq body)
{
    return call<EmptyReply>(Patch, SuggestionsPath, std::move(body), std::move(token));
}

QCoro::Task<VersionsResp> ServiceEndpoints::listVersions(QString token, qint64 pageId)
{
    return get<VersionsResp>(withId(VersionsPath, "page_id", pageId), std::move(token));
}

QCoro::Task<VersionRestoreOK> ServiceEndpoints::restoreVersion(QString token, VersionRestoreReq body)
{
    return call<VersionRestoreOK>(Patch, VersionsPath, std::move(body), std::move(token));
}

QCoro::Task<AIResp> ServiceEndpoints::runAI(QString token, AIReq body)
{
    return call<AIResp>(Post, AIPath, std::move(body), std::move(token));
}
