#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <curl/curl.h>

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

    // Sets the easy handle up so that the driver hears of its connections closing.
    void track(CURL *easy);
    // The connection of a transfer that ended well stays in libcurl's cache, idle.
    void noteIdle(curl_socket_t socket);
    // A transfer took `socket` for its request.
    void noteBusy(curl_socket_t socket);
    // Shuts down every idle connection that received bytes while no request was out, or was closed by
    // the server: libcurl would otherwise read them as the answer to its next request there.
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
    static int onCloseSocket(void *self, curl_socket_t socket);

    CURLM *m_multi = nullptr;
    QTimer m_timer;
    std::unordered_map<curl_socket_t, Watch> m_watches;
    std::function<void(QObject *, CURLcode)> m_done;
    std::vector<std::function<void()>> m_after;
    std::vector<curl_socket_t> m_idle;
    std::vector<CURL *> m_pendingAdds;
    int m_inCurl = 0;
};
