#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <curl/curl.h>

#include <chrono>
#include <functional>
#include <unordered_map>
#include <vector>

class QSocketNotifier;

// One libcurl multi handle run by the Qt event loop: the sockets libcurl asks to watch become
// QSocketNotifiers, its timer a single-shot QTimer, and both call curl_multi_socket_action, so no
// transfer ever blocks the thread. Idle connections stay in the handle's cache for the next transfer.
class CurlMultiDriver : public QObject
{
    Q_OBJECT
public:
    // `done` hears of every transfer that ended, once libcurl is out of its callbacks, by the object
    // its CURLOPT_PRIVATE names (a QObject); one deleted in the meantime is skipped.
    explicit CurlMultiDriver(std::function<void(QObject *, CURLcode)> done, QObject *parent = nullptr);
    ~CurlMultiDriver() override;

    // Starts the transfer once libcurl is out of its callbacks.
    void add(CURL *easy);
    // Safe only outside libcurl's callbacks (see isInCurl).
    void remove(CURL *easy);
    // True while libcurl runs: no handle may be added or removed then.
    bool isInCurl() const { return m_inCurl > 0; }
    // Runs `work` as soon as libcurl has returned (at once when it is not running).
    void afterCurl(std::function<void()> work);

    // Idle longer than this, a kept connection is closed rather than used: servers commonly drop theirs
    // after 5 s, and a request written while the close is on its way fails without an answer.
    static constexpr auto kMaxIdle = std::chrono::milliseconds(4000);

    // Sets the easy handle up so that the driver hears of its connections opening and closing.
    void track(CURL *easy);
    // A connection between these ends, as libcurl's CURLOPT_PREREQFUNCTION names them, took a
    // transfer's request. The connection returned is for noteDone; {} when none matches.
    struct Taken {
        curl_socket_t socket = CURL_SOCKET_BAD;
        quint64 id = 0;
    };
    Taken noteBusy(const char *localIp, int localPort, const char *peerIp, int peerPort);
    // A transfer on the connection noteBusy named is over; once none is left on it, it waits idle in
    // libcurl's cache. One closed since, whose number may belong to another now, is left alone.
    void noteDone(Taken connection);
    // Shuts down every idle connection that has waited longer than kMaxIdle, received bytes while no
    // request was out, or was closed by the server: libcurl would otherwise send its next request on
    // one the server may be closing, or read their bytes as the answer to it.
    void dropStaleConnections();

private:
    struct Watch {
        QSocketNotifier *read = nullptr;
        QSocketNotifier *write = nullptr;
    };
    static int onSocket(CURL *easy, curl_socket_t socket, int what, void *self, void *);
    static int onTimer(CURLM *, long timeoutMs, void *self);
    void watch(curl_socket_t socket, int what);
    void act(curl_socket_t socket, int events);
    void drain();
    static curl_socket_t onOpenSocket(void *self, curlsocktype purpose, curl_sockaddr *address);
    static int onCloseSocket(void *self, curl_socket_t socket);

    CURLM *m_multi = nullptr;
    QTimer m_timer;
    std::unordered_map<curl_socket_t, Watch> m_watches;
    std::function<void(QObject *, CURLcode)> m_done;
    std::vector<std::function<void()>> m_after;
    struct Connection {
        quint64 id = 0;
        int busy = 0;      // transfers on it; several over HTTP/2
        bool idle = false; // a transfer has ended on it and none runs now
        std::chrono::steady_clock::time_point idleSince;
    };
    // Every socket libcurl has open, by number.
    std::unordered_map<curl_socket_t, Connection> m_connections;
    quint64 m_lastConnectionId = 0;
    std::vector<CURL *> m_pendingAdds;
    int m_inCurl = 0;
};
