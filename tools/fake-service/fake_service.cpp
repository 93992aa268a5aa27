#include "fake-service/fake_service.h"

#include "fake-service/fake_ai_routes.h"
#include "fake-service/fake_block_routes.h"
#include "fake-service/fake_bookmark_routes.h"
#include "fake-service/fake_comment_routes.h"
#include "fake-service/fake_database_routes.h"
#include "fake-service/fake_folder_routes.h"
#include "fake-service/fake_page_routes.h"
#include "fake-service/fake_publish_routes.h"
#include "fake-service/fake_search_routes.h"
#include "fake-service/fake_share_routes.h"
#include "fake-service/fake_suggestion_routes.h"
#include "fake-service/fake_sync_routes.h"
#include "fake-service/fake_upload_routes.h"
#include "fake-service/fake_version_routes.h"
#include "fake-service/fake_workspace_routes.h"

#include "json/json_error.h"

#include <QRandomGenerator>

#include <algorithm>

namespace {

const QString SignUpPath = QStringLiteral("/api/auth/signup.php");
const QString LogInPath = QStringLiteral("/api/auth/login.php");
const QString LogOutPath = QStringLiteral("/api/auth/logout.php");

bool bodyMustBeObject(const QByteArray &method)
{
    return method == "POST" || method == "PUT" || method == "PATCH";
}

QString randomToken()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return QString::fromLatin1(bytes.toHex());
}

} // namespace

FakeService::Fault FakeService::Fault::http(int status, const QByteArray &body)
{
    Fault f;
    f.status = status;
    f.body = body;
    return f;
}

FakeService::Fault FakeService::Fault::htmlPage(int status)
{
    Fault f;
    f.status = status;
    f.contentType = "text/html; charset=UTF-8";
    const QByteArray title = QByteArray::number(status) + ' ' + LoopbackHttpServer::reasonPhrase(status);
    f.body = "<!DOCTYPE html>\n<html>\n<head><title>" + title + "</title></head>\n<body>\n<center><h1>" +
             title + "</h1></center>\n<hr><center>nginx</center>\n</body>\n</html>\n";
    return f;
}

FakeService::Fault FakeService::Fault::invalidUtf8(int status)
{
    Fault f;
    f.status = status;
    f.body = QByteArray("{\"error\":\"\xff\xfe\xfd\"}");
    return f;
}

FakeService::Fault FakeService::Fault::delay(int ms)
{
    Fault f;
    f.delayMs = ms;
    return f;
}

FakeService::Fault FakeService::Fault::drop()
{
    Fault f;
    f.dropConnection = true;
    return f;
}

FakeService::Fault FakeService::Fault::applyThenDrop()
{
    Fault f;
    f.dropAfterHandling = true;
    return f;
}

FakeService::Fault FakeService::Fault::applyThenGoOffline()
{
    Fault f = applyThenDrop();
    f.refuseAfterDrop = true;
    return f;
}

FakeService::Fault FakeService::Fault::held()
{
    Fault f;
    f.holdAnswer = true;
    return f;
}

FakeService::Fault FakeService::Fault::heldOnTheWay()
{
    Fault f = held();
    f.handleLate = true;
    return f;
}

FakeService::Fault FakeService::Fault::slowLink(int ms)
{
    Fault f = delay(ms);
    f.handleLate = true;
    return f;
}

FakeService::Fault FakeService::Fault::trickle(int pieces, int intervalMs)
{
    Fault f;
    f.streamPieces = pieces;
    f.streamIntervalMs = intervalMs;
    return f;
}

FakeService::FakeService(QObject *parent)
    : QObject(parent)
{
    m_server.setHandler([this](const HttpRequest &request) { return handle(request); });
    addAccountRoutes();
    new FakeUploadRoutes(*this);
    FakeWorkspaceRoutes::install(*this);
    FakeFolderRoutes::install(*this);
    FakePageRoutes::install(*this);
    FakeSearchRoutes::install(*this);
    FakeBlockRoutes::install(*this);
    FakeSyncRoutes::install(*this);
    FakeCommentRoutes::install(*this);
    FakeShareRoutes::install(*this);
    FakeSuggestionRoutes::install(*this);
    FakePublishRoutes::install(*this);
    FakeVersionRoutes::install(*this);
    FakeAIRoutes::install(*this);
    FakeDatabaseRoutes::install(*this);
    FakeBookmarkRoutes::install(*this);
}

bool FakeService::start(quint16 port)
{
    return m_server.listen(port);
}

QString FakeService::origin() const
{
    return m_server.origin();
}

quint16 FakeService::port() const
{
    return m_server.port();
}

void FakeService::route(const QByteArray &method, const QString &path, RouteHandler handler, Access access)
{
    m_routes[path][method] = Route{std::move(handler), access};
}

void FakeService::routeRaw(const QByteArray &method, const QString &path, RouteHandler handler, Access access)
{
    m_routes[path][method] = Route{std::move(handler), access, true};
}

QList<HttpRequest> FakeService::requestsTo(const QString &path) const
{
    QList<HttpRequest> matching;
    for (const HttpRequest &r : m_requests) {
        if (normalizedPath(r.path()) == path)
            matching.append(r);
    }
    return matching;
}

HttpRequest FakeService::lastRequest() const
{
    return m_requests.isEmpty() ? HttpRequest() : m_requests.last();
}

void FakeService::setFault(const QString &path, const Fault &fault)
{
    m_faults.insert(path, fault);
}

void FakeService::clearFault(const QString &path)
{
    m_faults.remove(path);
}

void FakeService::clearFaults()
{
    m_faults.clear();
}

FakeService::Account FakeService::createAccount(const QString &email, const QString &password,
                                                const QString &name)
{
    const Registration r = registerUser(email, password, name, QStringLiteral("test"));
    if (r.status != 200)
        qWarning("FakeService::createAccount(%s): %s", qPrintable(email), qPrintable(r.error));
    return r.account;
}

QString FakeService::issueToken(qint64 userId, const QString &deviceLabel)
{
    if (m_state.users.count(userId) == 0)
        return QString();
    const QString token = randomToken();
    m_state.sessions.insert(token, FakeServiceState::Session{userId, deviceLabel, now()});
    return token;
}

void FakeService::revokeToken(const QString &token)
{
    m_state.sessions.remove(token);
}

qint64 FakeService::seedSuggestion(qint64 pageId, qint64 userId, const QString &kind,
                                   const std::optional<JSONObject> &payload, qint64 blockId)
{
    FakeServiceState::Suggestion suggestion;
    suggestion.id = m_state.nextSuggestionId++;
    suggestion.pageId = pageId;
    suggestion.blockId = blockId;
    suggestion.userId = userId;
    suggestion.kind = kind;
    suggestion.payload = payload;
    suggestion.createdAt = now();
    m_state.suggestions[suggestion.id] = suggestion;
    return suggestion.id;
}

std::vector<FakeServiceState::Block> FakeService::storedBlocks(qint64 pageId) const
{
    std::vector<FakeServiceState::Block> found;
    for (const auto &entry : m_state.blocks) {
        if (entry.second.pageId == pageId)
            found.push_back(entry.second);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto &a, const auto &b) { return a.position < b.position; });
    return found;
}

int FakeService::syncEntryCount(qint64 workspaceId) const
{
    return int(std::count_if(m_state.syncLog.begin(), m_state.syncLog.end(), [workspaceId](const auto &e) {
        return workspaceId == 0 || e.workspaceId == workspaceId;
    }));
}

HttpResponse FakeService::reply(int status, const JSONObject &object)
{
    return HttpResponse::json(status, JSONValue(object).serialize());
}

HttpResponse FakeService::error(int status, const QString &message)
{
    return reply(status, JSONObject{{QStringLiteral("error"), message}});
}

QString FakeService::timestamp(const QDateTime &when)
{
    return when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

bool FakeService::looksLikeEmail(const QString &email)
{
    const qsizetype at = email.indexOf(QLatin1Char('@'));
    return at > 0 && at < email.size() - 1 && !email.contains(QLatin1Char(' '));
}

QString FakeService::stringField(const JSONObject &object, const QString &key)
{
    const auto it = object.find(key);
    return it != object.end() && it->second.isString() ? it->second.toString() : QString();
}

void FakeService::setOffline(bool offline)
{
    m_offline = offline;
    m_server.setRefusing(offline);
}

HttpResponse FakeService::handle(const HttpRequest &request)
{
    m_requests.append(request);
    Q_EMIT requestReceived(request);

    if (m_offline)
        return HttpResponse::dropped();

    const QString path = normalizedPath(request.path());
    std::optional<Fault> fault;
    if (const auto it = m_faults.find(path);
        it != m_faults.end() && (it->method.isEmpty() || it->method == request.method)) {
        if (it->skip > 0) {
            --it->skip;
        } else {
            fault = *it;
            if (it->remaining > 0 && --it->remaining == 0)
                m_faults.erase(it);
            else if (it->remaining == 0)
                fault.reset();
        }
    }

    // A failing request never reaches the handler, so nothing it would have changed is changed.
    if (fault && (fault->dropConnection || fault->status != 0)) {
        HttpResponse r;
        r.status = fault->status;
        r.body = fault->body;
        r.contentType = fault->contentType;
        r.delayMs = fault->delayMs;
        r.held = fault->holdAnswer;
        r.dropConnection = fault->dropConnection;
        r.streamPieces = fault->streamPieces;
        r.streamIntervalMs = fault->streamIntervalMs;
        return r;
    }

    if (fault && fault->handleLate && (fault->delayMs > 0 || fault->holdAnswer)) {
        HttpResponse r;
        r.delayMs = fault->delayMs;
        r.held = fault->holdAnswer;
        r.handleLate = [this, request, path] { return dispatch(request, path); };
        return r;
    }
    HttpResponse r = dispatch(request, path);
    if (fault) {
        r.delayMs = fault->delayMs;
        r.held = fault->holdAnswer;
        r.streamPieces = fault->streamPieces;
        r.streamIntervalMs = fault->streamIntervalMs;
        r.dropConnection = fault->dropAfterHandling;
        r.refuseAfter = fault->dropAfterHandling && fault->refuseAfterDrop;
    }
    return r;
}

HttpResponse FakeService::dispatch(const HttpRequest &request, const QString &path)
{
    auto byPath = m_routes.find(path);
    for (auto it = m_routes.begin(); byPath == m_routes.end() && it != m_routes.end(); ++it) {
        if (it->first.endsWith(QLatin1Char('/')) && path.startsWith(it->first))
            byPath = it;
    }
    if (byPath == m_routes.end())
        return error(404, QStringLiteral("Not found"));
    const auto byMethod = byPath->second.find(request.method);
    if (byMethod == byPath->second.end()) {
        HttpResponse r = error(405, QStringLiteral("Method not allowed"));
        QByteArrayList allowed;
        for (const auto &entry : byPath->second)
            allowed.append(entry.first);
        r.headers.append({"Allow", allowed.join(", ")});
        return r;
    }
    const Route route = byMethod->second;

    qint64 userId = 0;
    QString token;
    if (route.access == Access::Authenticated) {
        userId = authenticate(request, &token);
        if (userId == 0)
            return error(401, QStringLiteral("Unauthorized"));
    }

    JSONObject body;
    if (!route.rawBody && (bodyMustBeObject(request.method) || !request.body.isEmpty())) {
        try {
            body = parseJSONObject(request.body);
        } catch (const DecodeError &) {
            return error(400, QStringLiteral("Invalid JSON body"));
        }
    }
    return route.handler(Call{request, body, userId, token});
}

qint64 FakeService::authenticate(const HttpRequest &request, QString *token) const
{
    const QByteArray value = request.header("Authorization").value_or(QByteArray()).trimmed();
    const qsizetype space = value.indexOf(' ');
    if (space < 0 || value.left(space).compare("Bearer", Qt::CaseInsensitive) != 0)
        return 0;
    const QString presented = QString::fromLatin1(value.mid(space + 1).trimmed());
    const auto it = m_state.sessions.constFind(presented);
    if (it == m_state.sessions.constEnd() || m_state.users.count(it->userId) == 0)
        return 0;
    *token = presented;
    return it->userId;
}

void FakeService::addAccountRoutes()
{
    route(
        "POST", SignUpPath, [this](const Call &call) { return signUp(call); }, Access::Public);
    route(
        "POST", LogInPath, [this](const Call &call) { return logIn(call); }, Access::Public);
    route("POST", LogOutPath, [this](const Call &call) { return logOut(call); });
}

HttpResponse FakeService::signUp(const Call &call)
{
    const Registration r = registerUser(stringField(call.body, QStringLiteral("email")),
                                        stringField(call.body, QStringLiteral("password")),
                                        stringField(call.body, QStringLiteral("name")),
                                        stringField(call.body, QStringLiteral("device_label")));
    if (r.status != 200)
        return error(r.status, r.error);
    return sessionReply(r.account.userId, r.account.token);
}

HttpResponse FakeService::logIn(const Call &call)
{
    const FakeServiceState::User *user = userByEmail(stringField(call.body, QStringLiteral("email")));
    if (!user || user->password != stringField(call.body, QStringLiteral("password")))
        return error(401, QStringLiteral("Invalid e-mail or password."));
    const QString token = issueToken(user->id, stringField(call.body, QStringLiteral("device_label")));
    return sessionReply(user->id, token);
}

HttpResponse FakeService::logOut(const Call &call)
{
    revokeToken(call.token);
    return reply(200, JSONObject{{QStringLiteral("ok"), true}});
}

FakeService::Registration FakeService::registerUser(const QString &rawEmail, const QString &password,
                                                    const QString &rawName, const QString &deviceLabel)
{
    const QString email = rawEmail.trimmed();
    const QString name = rawName.trimmed();
    Registration r;
    r.status = 400;
    if (email.isEmpty() || password.isEmpty() || name.isEmpty()) {
        r.error = QStringLiteral("Email, password and name are required.");
        return r;
    }
    if (!looksLikeEmail(email)) {
        r.error = QStringLiteral("Please enter a valid e-mail address.");
        return r;
    }
    // Counted in characters, not UTF-8 bytes, as mb_strlen would.
    if (password.toUcs4().size() < 6) {
        r.error = QStringLiteral("Password must be at least 6 characters.");
        return r;
    }
    if (userByEmail(email)) {
        r.status = 409;
        r.error = QStringLiteral("An account with that e-mail already exists.");
        return r;
    }

    const QDateTime created = now();
    FakeServiceState::User user{m_state.nextUserId++, email, password, name, created};
    FakeServiceState::Workspace workspace{m_state.nextWorkspaceId++, name + QStringLiteral("'s Workspace"),
                                          user.id, created};
    m_state.users.emplace(user.id, user);
    m_state.workspaces.emplace(workspace.id, workspace);
    m_state.memberships.push_back({workspace.id, user.id, QStringLiteral("owner"), created});
    acceptInvites(user);

    r.status = 200;
    r.account = Account{user.id, issueToken(user.id, deviceLabel), workspace.id};
    return r;
}

void FakeService::acceptInvites(const FakeServiceState::User &user)
{
    const QString email = user.email.toCaseFolded();
    for (auto it = m_state.invites.begin(); it != m_state.invites.end();) {
        const FakeServiceState::Invite &invite = it->second;
        if (invite.email.toCaseFolded() != email) {
            ++it;
            continue;
        }
        const qint64 id = m_state.nextShareId++;
        m_state.shares[id] = FakeServiceState::Share{id, invite.pageId, user.id, invite.role, now()};
        it = m_state.invites.erase(it);
    }
}

HttpResponse FakeService::sessionReply(qint64 userId, const QString &token) const
{
    const FakeServiceState::User &user = m_state.users.at(userId);
    JSONObject userObject;
    userObject[QStringLiteral("id")] = user.id;
    userObject[QStringLiteral("name")] = user.name;
    userObject[QStringLiteral("email")] = user.email;
    JSONObject object;
    object[QStringLiteral("token")] = token;
    object[QStringLiteral("user")] = std::move(userObject);
    // Someone removed from every workspace has none to name; the service sends null then.
    if (const qint64 workspaceId = firstWorkspaceOf(userId))
        object[QStringLiteral("workspace_id")] = workspaceId;
    else
        object[QStringLiteral("workspace_id")] = nullptr;
    return reply(200, object);
}

const FakeServiceState::User *FakeService::userByEmail(const QString &email) const
{
    const QString wanted = email.trimmed().toCaseFolded();
    if (wanted.isEmpty())
        return nullptr;
    for (const auto &entry : m_state.users) {
        if (entry.second.email.toCaseFolded() == wanted)
            return &entry.second;
    }
    return nullptr;
}

qint64 FakeService::firstWorkspaceOf(qint64 userId) const
{
    qint64 first = 0;
    for (const auto &m : m_state.memberships) {
        if (m.userId == userId && (first == 0 || m.workspaceId < first))
            first = m.workspaceId;
    }
    return first;
}

QString FakeService::normalizedPath(const QByteArray &rawPath)
{
    // The web server decodes %-escapes before picking a script; do the same so lookups match.
    return QString::fromUtf8(QByteArray::fromPercentEncoding(rawPath));
}

QDateTime FakeService::now()
{
    const QDateTime t = QDateTime::currentDateTimeUtc();
    return t.addMSecs(-t.time().msec());
}
