#include "api/service_client.h"

#include "api/session_store.h"
#include "platform/app_events.h"
#include "platform/off_thread.h"
#include "platform/utf8.h"
#include "json/json_value.h"

#include <QMap>
#include <QNetworkRequest>
#include <QUrl>
#include <QUuid>

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

// The two string-to-string bodies (logout, bookmark fetch).
QMap<QString, QString> stringObject(const QString &key, const QString &value)
{
    return {{key, value}};
}

constexpr auto kBoundaryPrefix = "----FolioNestBoundary-";
constexpr auto kDefaultKind = "image";
constexpr auto kUploadPath = "/api/upload.php?kind=";

// A quote, CR or LF would end the quoted name or start a header of its own; they are written the way
// browsers write them. Every other name goes out byte for byte.
QByteArray escapedFilename(const QString &filename)
{
    QByteArray out = filename.toUtf8();
    out.replace('"', "%22");
    out.replace('\r', "%0D");
    out.replace('\n', "%0A");
    return out;
}

QByteArray multipartBody(const QByteArray &data, const QString &filename, const QString &mime,
                         const QByteArray &boundary)
{
    QByteArray body;
    body.reserve(data.size() + 256 + filename.size() * 3);
    body += "--" + boundary + "\r\n";
    body +=
        "Content-Disposition: form-data; name=\"file\"; filename=\"" + escapedFilename(filename) + "\"\r\n";
    body += "Content-Type: " + mime.toUtf8() + "\r\n\r\n";
    body += data;
    body += "\r\n--" + boundary + "--\r\n";
    return body;
}

} // namespace

ServiceClient::ServiceClient(const QString &origin, SessionStore &session, AppEvents &events,
                             Connectivity &connectivity, Timeouts timeouts, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_events(events)
    , m_api(origin, connectivity)
{
    m_api.setTimeouts(timeouts.request, timeouts.resource);
    m_api.setUploadTimeout(timeouts.uploadSilence);
}

bool ServiceClient::isSignedIn() const
{
    return m_session.token().has_value();
}

ServiceClient::Credential ServiceClient::credential() const
{
    Credential c;
    c.m_token = m_session.token();
    return c;
}

void ServiceClient::endSession(const Credential &refused)
{
    // A refusal of a token that has since been replaced (a new sign-in) says nothing about the
    // session now stored, which must not be ended by it.
    if (refused && refused == credential())
        m_events.postAuthExpired(*refused.m_token);
}

QString ServiceClient::sessionToken() const
{
    const auto &token = m_session.token();
    if (!token)
        throw APIError::noToken();
    return *token;
}

template <typename Resp>
QCoro::Task<Resp> ServiceClient::call(QString method, QString path, std::optional<AnyEncodable> body,
                                      QPointer<CancelToken> cancel)
{
    // Read before the first suspension: the call goes out under the session it was made in.
    const QString token = sessionToken();
    co_return co_await m_api.request<Resp>(std::move(method), std::move(path), std::move(body), token,
                                           std::move(cancel));
}

template <typename Resp>
QCoro::Task<Resp> ServiceClient::decodedAside(QByteArray data)
{
    auto decode = [data = std::move(data)] {
        try {
            return sharedJSONDecode<Resp>(data);
        } catch (const DecodeError &e) {
            throw APIError::decoding(e.message());
        }
    };
    co_return co_await offThread(std::move(decode));
}

template <typename Resp>
QCoro::Task<Resp> ServiceClient::get(QString path, QPointer<CancelToken> cancel)
{
    return call<Resp>(Get, std::move(path), std::nullopt, std::move(cancel));
}

QCoro::Task<EmptyReply> ServiceClient::remove(QString path, QPointer<CancelToken> cancel)
{
    return call<EmptyReply>(Delete, std::move(path), std::nullopt, std::move(cancel));
}

QString ServiceClient::encodeQueryValue(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QCoro::Task<AuthResp> ServiceClient::login(AuthLoginReq body)
{
    return m_api.request<AuthResp>(Post, AuthLoginPath, std::move(body));
}

QCoro::Task<AuthResp> ServiceClient::signup(AuthSignupReq body)
{
    return m_api.request<AuthResp>(Post, AuthSignupPath, std::move(body));
}

QCoro::Task<EmptyReply> ServiceClient::logout(QString token)
{
    return m_api.request<EmptyReply>(Post, AuthLogoutPath,
                                     stringObject(QStringLiteral("device"), QStringLiteral("logout")),
                                     std::move(token));
}

QCoro::Task<PageResp> ServiceClient::createPage(PageCreateReq body, QPointer<CancelToken> cancel)
{
    return call<PageResp>(Post, PagesPath, std::move(body), std::move(cancel));
}

QCoro::Task<PageResp> ServiceClient::patchPage(PagePatchReq body, QPointer<CancelToken> cancel)
{
    return call<PageResp>(Patch, PagesPath, std::move(body), std::move(cancel));
}

QCoro::Task<PageResp> ServiceClient::patchPageParent(qint64 pageId, qint64 parentPageId,
                                                      QPointer<CancelToken> cancel)
{
    JSONObject body{{QStringLiteral("page_id"), pageId}, {QStringLiteral("parent_page_id"), nullptr}};
    if (parentPageId != 0)
        body[QStringLiteral("parent_page_id")] = parentPageId;
    return call<PageResp>(Patch, PagesPath, std::move(body), std::move(cancel));
}

QCoro::Task<EmptyReply> ServiceClient::deletePage(qint64 pageId, QPointer<CancelToken> cancel)
{
    return remove(withId(PagesPath, "page_id", pageId), std::move(cancel));
}

QCoro::Task<BlocksUpsertResp> ServiceClient::upsertBlocks(BlocksUpsertReq body, QPointer<CancelToken> cancel)
{
    return call<BlocksUpsertResp>(Post, BlocksPath, std::move(body), std::move(cancel));
}

QCoro::Task<EmptyReply> ServiceClient::deleteBlock(qint64 blockId, QPointer<CancelToken> cancel)
{
    return remove(withId(BlocksPath, "block_id", blockId), std::move(cancel));
}

QCoro::Task<SyncResp> ServiceClient::sync(SyncReq body, QPointer<CancelToken> cancel)
{
    const QString token = sessionToken();
    const QByteArray data =
        co_await m_api.requestData(Post, SyncPath, std::move(body), token, std::move(cancel));
    // A first sync or a long absence brings thousands of operations: read aside, the window keeps
    // turning meanwhile.
    co_return co_await decodedAside<SyncResp>(data);
}

QCoro::Task<BlocksResp> ServiceClient::fetchBlocks(qint64 pageId, QPointer<CancelToken> cancel)
{
    return get<BlocksResp>(withId(BlocksPath, "page_id", pageId), std::move(cancel));
}

QCoro::Task<BookmarkPreviewResp> ServiceClient::fetchBookmark(QString url)
{
    return call<BookmarkPreviewResp>(Post, BookmarkFetchPath, stringObject(QStringLiteral("url"), url));
}

QCoro::Task<CommentCreateResp> ServiceClient::createComment(CommentCreateReq body)
{
    QPointer<ServiceClient> self(this);
    CommentCreateResp reply = co_await call<CommentCreateResp>(Post, CommentsPath, std::move(body));
    // Every open list of the page's comments takes it in, wherever it was written.
    if (self)
        Q_EMIT self->commentCreated(reply.comment);
    co_return reply;
}

QCoro::Task<CommentsResp> ServiceClient::listComments(qint64 pageId)
{
    return get<CommentsResp>(withId(CommentsPath, "page_id", pageId));
}

QCoro::Task<WorkspacesResp> ServiceClient::listWorkspaces()
{
    return get<WorkspacesResp>(WorkspacesPath);
}

QCoro::Task<FoldersResp> ServiceClient::listFolders(qint64 workspaceId, QPointer<CancelToken> cancel)
{
    return call<FoldersResp>(Get, withId(FoldersPath, "workspace_id", workspaceId), std::nullopt,
                             std::move(cancel));
}

QCoro::Task<LibraryPagesResp> ServiceClient::listPages(qint64 workspaceId, QPointer<CancelToken> cancel)
{
    const QString token = sessionToken();
    const QByteArray data = co_await m_api.requestData(Get, withId(PagesPath, "workspace_id", workspaceId),
                                                       std::nullopt, token, std::move(cancel));
    // A workspace of thousands of pages lists them all, every few seconds: read aside too.
    co_return co_await decodedAside<LibraryPagesResp>(data);
}

QCoro::Task<PageStatusesResp> ServiceClient::pageStatuses(qint64 workspaceId)
{
    return get<PageStatusesResp>(withId(PageStatusPath, "workspace_id", workspaceId));
}

QCoro::Task<SearchResp> ServiceClient::search(qint64 workspaceId, QString text)
{
    const QString path =
        withId(SearchPath, "workspace_id", workspaceId) + QLatin1String("&q=") + encodeQueryValue(text);
    return get<SearchResp>(path);
}

QCoro::Task<FolderResp> ServiceClient::createFolder(FolderCreateReq body, QPointer<CancelToken> cancel)
{
    return call<FolderResp>(Post, FoldersPath, std::move(body), std::move(cancel));
}

QCoro::Task<EmptyReply> ServiceClient::patchFolder(FolderPatchReq body, QPointer<CancelToken> cancel)
{
    return call<EmptyReply>(Patch, FoldersPath, std::move(body), std::move(cancel));
}

QCoro::Task<EmptyReply> ServiceClient::movePage(FolderMovePageReq body, QPointer<CancelToken> cancel)
{
    return call<EmptyReply>(Patch, FoldersPath + QLatin1String("?move_page=1"), std::move(body),
                            std::move(cancel));
}

QCoro::Task<EmptyReply> ServiceClient::deleteFolder(qint64 folderId, QPointer<CancelToken> cancel)
{
    return remove(withId(FoldersPath, "folder_id", folderId), std::move(cancel));
}

QCoro::Task<PagesResp> ServiceClient::listTrash(qint64 workspaceId)
{
    return get<PagesResp>(withId(PagesPath, "workspace_id", workspaceId) + QLatin1String("&trash=1"));
}

QCoro::Task<EmptyReply> ServiceClient::purgePage(qint64 pageId)
{
    return remove(withId(PagesPath, "page_id", pageId) + QLatin1String("&permanent=1"));
}

QCoro::Task<void> ServiceClient::restorePage(qint64 pageId)
{
    const QString token = sessionToken();
    // The origin never ends in a slash: APIClient trims it.
    QUrl url = m_api.baseURL();
    url.setPath(url.path() + PagesPath);

    // Built by hand rather than through the request function: no Accept field, this header order.
    QNetworkRequest request(url);
    // Redirects stay with the service, as the request function's do.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setRawHeader("User-Agent", APIClient::kUserAgent);

    JsonWriter w;
    w.startObject();
    w.field("page_id", pageId);
    w.field("restore", qint64(1));
    w.endObject();

    QByteArray verb("PATCH");
    std::optional<QByteArray> body = w.bytes();
    const auto reply = co_await m_api.sendToService(std::move(request), std::move(verb), std::move(body));

    // A refused restore must not pass for a done one: non-2xx fails like every other call.
    APIClient::successBody(reply.get());
}

QCoro::Task<DatabasesResp> ServiceClient::listDatabases(qint64 pageId)
{
    return get<DatabasesResp>(withId(DatabasesPath, "page_id", pageId));
}

QCoro::Task<DatabaseResp> ServiceClient::createDatabase(DBCreateReq body)
{
    return call<DatabaseResp>(Post, DatabasesPath, std::move(body));
}

QCoro::Task<DBRowResp> ServiceClient::createRow(DBRowCreateReq body)
{
    return call<DBRowResp>(Post, DatabaseRowsPath, std::move(body));
}

QCoro::Task<EmptyReply> ServiceClient::patchRow(DBRowPatchReq body)
{
    return call<EmptyReply>(Patch, DatabaseRowsPath, std::move(body));
}

QCoro::Task<ShareListResp> ServiceClient::listShares(qint64 pageId)
{
    return get<ShareListResp>(withId(SharePath, "page_id", pageId));
}

QCoro::Task<ShareInviteResp> ServiceClient::share(ShareReq body)
{
    return call<ShareInviteResp>(Post, SharePath, std::move(body));
}

QCoro::Task<EmptyReply> ServiceClient::removeShare(qint64 pageId, qint64 shareId)
{
    return remove(andId(withId(SharePath, "page_id", pageId), "share_id", shareId));
}

QCoro::Task<EmptyReply> ServiceClient::removeInvite(qint64 pageId, qint64 inviteId)
{
    return remove(andId(withId(SharePath, "page_id", pageId), "invite_id", inviteId));
}

QCoro::Task<PublishResp> ServiceClient::getPublish(qint64 pageId)
{
    return get<PublishResp>(withId(PublishPath, "page_id", pageId));
}

QCoro::Task<PublishResp> ServiceClient::publish(PublishReq body)
{
    return call<PublishResp>(Post, PublishPath, std::move(body));
}

QCoro::Task<EmptyReply> ServiceClient::unpublish(qint64 pageId)
{
    return remove(withId(PublishPath, "page_id", pageId));
}

QCoro::Task<SuggestionsResp> ServiceClient::listSuggestions(qint64 pageId)
{
    return get<SuggestionsResp>(withId(SuggestionsPath, "page_id", pageId));
}

QCoro::Task<EmptyReply> ServiceClient::decideSuggestion(SuggestionDecideReq body)
{
    return call<EmptyReply>(Patch, SuggestionsPath, std::move(body));
}

QCoro::Task<VersionsResp> ServiceClient::listVersions(qint64 pageId)
{
    return get<VersionsResp>(withId(VersionsPath, "page_id", pageId));
}

QCoro::Task<VersionRestoreOK> ServiceClient::restoreVersion(VersionRestoreReq body)
{
    return call<VersionRestoreOK>(Patch, VersionsPath, std::move(body));
}

QCoro::Task<AIResp> ServiceClient::runAI(AIReq body)
{
    return call<AIResp>(Post, AIPath, std::move(body));
}

QCoro::Task<QByteArray> ServiceClient::fetchPublicFile(QUrl url, QPointer<CancelToken> cancel)
{
    if (!APIClient::isWebAddress(url))
        throw APIError::other(QStringLiteral("Not a web address"));
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", APIClient::kUserAgent);
    // A file may take as long as it needs while bytes move.
    const auto reply =
        co_await m_api.send(m_api.session().get(request), std::move(cancel), m_api.uploadLimits());
    co_return APIClient::successBody(reply.get());
}

QCoro::Task<QUrl> ServiceClient::upload(QByteArray data, QString filename, QString mime,
                                        std::optional<QString> kind, QPointer<CancelToken> cancel)
{
    const QString token = sessionToken();
    const QByteArray boundary =
        kBoundaryPrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();

    const QString address =
        m_api.baseURLText() + QLatin1String(kUploadPath) + kind.value_or(QString::fromLatin1(kDefaultKind));
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        throw APIError::other(QStringLiteral("Invalid upload URL"));

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Content-Type", "multipart/form-data; boundary=" + boundary);
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setRawHeader("User-Agent", APIClient::kUserAgent);

    QByteArray body = multipartBody(data, filename, mime, boundary);
    // The body holds its own copy; one file-sized buffer is enough while the transfer runs.
    data = QByteArray();
    QByteArray verb("POST");
    std::optional<QByteArray> payload = std::move(body);
    const std::optional<APIClient::Limits> limits = m_api.uploadLimits();
    const auto reply = co_await m_api.sendToService(std::move(request), std::move(verb), std::move(payload),
                                                    std::move(cancel), limits);

    const int error = reply->error();
    // Qt reports 4xx/5xx as errors too; only its transport errors (below 200) are failures of the exchange.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if ((error > 0 && error < 200) || !status.isValid())
        throw APIClient::failureOf(reply.get());

    const int code = status.toInt();
    const QByteArray bytes = reply->readAll();
    if (unsigned(code - 200) < 100u) {
        const UploadResp resp = sharedJSONDecode<UploadResp>(bytes);
        const QUrl stored(resp.url, QUrl::StrictMode);
        if (resp.url.isEmpty() || !stored.isValid())
            throw APIError::other(QStringLiteral("Bad URL from server"));
        co_return stored;
    }
    // Posted whether or not the session has moved on: the shell tells a replaced token apart.
    if (code == 401)
        m_events.postAuthExpired(token);
    throw APIError::http(code, decodeUtf8Strict(bytes));
}
