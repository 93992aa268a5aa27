#pragma once

#include "fake-service/fake_service_state.h"
#include "fake-service/http_request.h"
#include "fake-service/http_response.h"
#include "fake-service/loopback_http_server.h"

#include "json/json_value.h"

#include <QHash>
#include <QObject>

#include <functional>
#include <map>

// An in-memory stand-in for the notes service, spoken to over loopback HTTP. Tests drive it through
// the real client and can make any path fail, stall or hang up.
class FakeService : public QObject
{
    Q_OBJECT

public:
    // How one path misbehaves. A zero status with a delay only slows the normal answer.
    struct Fault {
        int status = 0;
        QByteArray body;
        QByteArray contentType = "application/json";
        int delayMs = 0;
        bool dropConnection = false;
        bool dropAfterHandling = false; // handled as usual, then the answer is lost on the way back
        bool refuseAfterDrop = false;   // and every connection after it is refused until setOffline(false)
        bool holdAnswer = false;        // handled as usual, answered at releaseHeldAnswers()
        int streamPieces = 0;           // the answer's body in this many pieces, streamIntervalMs apart
        int streamIntervalMs = 0;
        int remaining = -1; // requests still affected; -1 until cleared
        QByteArray method;  // only requests of this method ("POST"); empty: every request of the path
        int skip = 0;       // requests of the path let through untouched before it applies
        // With a delay or a hold: the request reaches the service only when it ends, as over a slow
        // link, so a request sent after it may be handled first.
        bool handleLate = false;

        static Fault http(int status, const QByteArray &body);
        static Fault htmlPage(int status); // what a proxy or a crashed PHP host sends
        static Fault invalidUtf8(int status);
        static Fault delay(int ms);
        static Fault drop();
        static Fault applyThenDrop(); // the service's state changes; the caller hears nothing
        // The same, then the link goes down: a client trying again on a fresh connection is refused.
        static Fault applyThenGoOffline();
        static Fault held();           // the service's state changes; the caller waits for the test's word
        static Fault heldOnTheWay();   // nothing changes until the test's word; handled then and answered
        static Fault slowLink(int ms); // reaches the service `ms` late, then answered
        static Fault trickle(int pieces, int intervalMs); // the normal answer over a slow link
    };

    struct Account {
        qint64 userId = 0; // 0 when the account could not be made
        QString token;
        qint64 workspaceId = 0;
    };

    enum class Access { Public, Authenticated };

    // What a route handler gets: the request, its body already checked to be a JSON object (empty for
    // bodiless methods), and for authenticated routes the caller.
    struct Call {
        const HttpRequest &request;
        const JSONObject &body;
        qint64 userId = 0;
        QString token;
    };
    using RouteHandler = std::function<HttpResponse(const Call &)>;

    explicit FakeService(QObject *parent = nullptr);

    bool start(quint16 port = 0);
    QString origin() const;
    quint16 port() const;
    LoopbackHttpServer &server() { return m_server; }

    void route(const QByteArray &method, const QString &path, RouteHandler handler,
               Access access = Access::Authenticated);
    // Like route(), but the body is handed over unparsed (Call::body stays empty), and a path ending
    // in '/' also serves every path below it.
    void routeRaw(const QByteArray &method, const QString &path, RouteHandler handler,
                  Access access = Access::Authenticated);

    QList<HttpRequest> requests() const { return m_requests; }
    QList<HttpRequest> requestsTo(const QString &path) const; // path without the query
    HttpRequest lastRequest() const;                          // empty when nothing came in
    void clearRequests() { m_requests.clear(); }

    void setFault(const QString &path, const Fault &fault);
    void clearFault(const QString &path);
    void clearFaults();
    // Sends the answers the held() fault kept back.
    void releaseHeldAnswers() { m_server.releaseHeld(); }
    // Only the first one held; false when none is.
    bool releaseFirstHeldAnswer() { return m_server.releaseFirstHeld(); }
    // Offline: connections are refused, as when the device has no network; nothing arrives. False
    // also ends the refusals of applyThenGoOffline().
    void setOffline(bool offline);
    bool isOffline() const { return m_offline; }

    Account createAccount(const QString &email, const QString &password, const QString &name);
    QString issueToken(qint64 userId, const QString &deviceLabel = QString());
    void revokeToken(const QString &token);
    int userCount() const { return int(m_state.users.size()); }
    FakeServiceState &state() { return m_state; }

    // Seeding and inspection for tests of the content routes.
    qint64 seedSuggestion(qint64 pageId, qint64 userId, const QString &kind,
                          const std::optional<JSONObject> &payload = std::nullopt, qint64 blockId = 0);
    std::vector<FakeServiceState::Block> storedBlocks(qint64 pageId) const; // by position
    int syncEntryCount(qint64 workspaceId = 0) const;                       // 0 counts every workspace
    void setSyncPageSize(int entries) { m_state.syncPageSize = entries; }

    static HttpResponse reply(int status, const JSONObject &object);
    static HttpResponse error(int status, const QString &message);
    static QString timestamp(const QDateTime &when);                          // "YYYY-MM-DD HH:MM:SS", UTC
    static QString stringField(const JSONObject &object, const QString &key); // empty unless a string
    static QDateTime now();                                                   // UTC, whole seconds
    static bool looksLikeEmail(const QString &email);

Q_SIGNALS:
    void requestReceived(const HttpRequest &request);

private:
    struct Route {
        RouteHandler handler;
        Access access = Access::Authenticated;
        bool rawBody = false;
    };

    struct Registration {
        Account account;
        int status = 200;
        QString error;
    };

    HttpResponse handle(const HttpRequest &request);
    HttpResponse dispatch(const HttpRequest &request, const QString &path);
    qint64 authenticate(const HttpRequest &request, QString *token) const;

    void addAccountRoutes();
    HttpResponse signUp(const Call &call);
    HttpResponse logIn(const Call &call);
    HttpResponse logOut(const Call &call);
    Registration registerUser(const QString &email, const QString &password, const QString &name,
                              const QString &deviceLabel);
    // The invites sent to a new account's address become its shares.
    void acceptInvites(const FakeServiceState::User &user);
    HttpResponse sessionReply(qint64 userId, const QString &token) const;
    const FakeServiceState::User *userByEmail(const QString &email) const;
    qint64 firstWorkspaceOf(qint64 userId) const;

    static QString normalizedPath(const QByteArray &rawPath);

    LoopbackHttpServer m_server;
    FakeServiceState m_state;
    std::map<QString, std::map<QByteArray, Route>> m_routes;
    QHash<QString, Fault> m_faults;
    QList<HttpRequest> m_requests;
    bool m_offline = false;
};
