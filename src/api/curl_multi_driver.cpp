#include "api/curl_multi_driver.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

CurlMultiDriver::CurlMultiDriver(std::function<void(QObject *, CURLcode)> done, QObject *parent)
    : QObject(parent)
    , m_multi(curl_multi_init())
    , m_done(std::move(done))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlMultiDriver::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlMultiDriver::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    // Over HTTP/2, exchanges that overlap share the origin's one connection.
    curl_multi_setopt(m_multi, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));
}

CurlMultiDriver::~CurlMultiDriver()
{
    // Closing the cached connections reports their sockets gone while the watches still exist.
    curl_multi_cleanup(m_multi);
    for (auto &[socket, w] : m_watches) {
        delete w.read;
        delete w.write;
    }
}

void CurlMultiDriver::add(CURL *easy)
{
    // A handle removed before libcurl returned is never added.
    m_pendingAdds.push_back(easy);
    afterCurl([this, easy] {
        const auto it = std::find(m_pendingAdds.begin(), m_pendingAdds.end(), easy);
        if (it == m_pendingAdds.end())
            return;
        m_pendingAdds.erase(it);
        ++m_inCurl;
        curl_multi_add_handle(m_multi, easy);
        --m_inCurl;
    });
}

void CurlMultiDriver::remove(CURL *easy)
{
    if (const auto it = std::find(m_pendingAdds.begin(), m_pendingAdds.end(), easy);
        it != m_pendingAdds.end()) {
        m_pendingAdds.erase(it);
        return;
    }
    ++m_inCurl;
    curl_multi_remove_handle(m_multi, easy);
    --m_inCurl;
}

void CurlMultiDriver::afterCurl(std::function<void()> work)
{
    if (!isInCurl()) {
        work();
        return;
    }
    m_after.push_back(std::move(work));
}

int CurlMultiDriver::onSocket(CURL *, curl_socket_t socket, int what, void *self, void *)
{
    static_cast<CurlMultiDriver *>(self)->watch(socket, what);
    return 0;
}

int CurlMultiDriver::onTimer(CURLM *, long timeoutMs, void *self)
{
    auto *driver = static_cast<CurlMultiDriver *>(self);
    if (timeoutMs < 0)
        driver->m_timer.stop();
    else
        driver->m_timer.start(int(std::min(timeoutMs, long(INT_MAX))));
    return 0;
}

void CurlMultiDriver::watch(curl_socket_t socket, int what)
{
    Watch &w = m_watches[socket];
    // A notifier may be the one whose signal is running now: it is switched off and deleted later.
    const auto drop = [](QSocketNotifier *&n) {
        if (!n)
            return;
        n->setEnabled(false);
        n->deleteLater();
        n = nullptr;
    };
    if (what == CURL_POLL_REMOVE) {
        drop(w.read);
        drop(w.write);
        m_watches.erase(socket);
        return;
    }
    const auto want = [this, socket](QSocketNotifier *&n, QSocketNotifier::Type type, bool on, int event) {
        if (!on) {
            if (n)
                n->setEnabled(false);
            return;
        }
        if (!n) {
            n = new QSocketNotifier(qintptr(socket), type, this);
            connect(n, &QSocketNotifier::activated, this, [this, socket, event] { act(socket, event); });
        }
        n->setEnabled(true);
    };
    want(w.read, QSocketNotifier::Read, what == CURL_POLL_IN || what == CURL_POLL_INOUT, CURL_CSELECT_IN);
    want(w.write, QSocketNotifier::Write, what == CURL_POLL_OUT || what == CURL_POLL_INOUT, CURL_CSELECT_OUT);
}

void CurlMultiDriver::act(curl_socket_t socket, int events)
{
    QPointer<CurlMultiDriver> alive(this);
    int running = 0;
    ++m_inCurl;
    curl_multi_socket_action(m_multi, socket, events, &running);
    --m_inCurl;
    drain();
    if (!alive || isInCurl())
        return;
    std::vector<std::function<void()>> after;
    after.swap(m_after);
    for (auto &work : after)
        work();
}

void CurlMultiDriver::drain()
{
    // Every owner is looked up first: a report may end, delete or start other transfers, or this driver.
    std::vector<std::pair<QPointer<QObject>, CURLcode>> ended;
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        void *owner = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
        ended.emplace_back(static_cast<QObject *>(owner), message->data.result);
    }
    QPointer<CurlMultiDriver> alive(this);
    for (const auto &[owner, code] : ended) {
        if (!alive)
            return;
        if (owner)
            m_done(owner, code);
    }
}

void CurlMultiDriver::track(CURL *easy)
{
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &CurlMultiDriver::onOpenSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &CurlMultiDriver::onCloseSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, this);
}

curl_socket_t CurlMultiDriver::onOpenSocket(void *self, curlsocktype, curl_sockaddr *address)
{
    const int socket = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (socket < 0)
        return CURL_SOCKET_BAD;
    auto *driver = static_cast<CurlMultiDriver *>(self);
    Connection opened;
    opened.id = ++driver->m_lastConnectionId;
    driver->m_connections[socket] = opened;
    return socket;
}

int CurlMultiDriver::onCloseSocket(void *self, curl_socket_t socket)
{
    // The number may be handed out again at once: it must not stay on the list.
    static_cast<CurlMultiDriver *>(self)->m_connections.erase(socket);
    return ::close(socket);
}

namespace {

// The address and port of one end of a socket as text, as libcurl writes them.
std::pair<QByteArray, int> endOf(int socket, bool peer)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    auto *raw = reinterpret_cast<sockaddr *>(&address);
    if ((peer ? ::getpeername(socket, raw, &length) : ::getsockname(socket, raw, &length)) != 0)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto *in = reinterpret_cast<sockaddr_in *>(&address);
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        return {QByteArray(text), ntohs(in->sin_port)};
    }
    if (address.ss_family == AF_INET6) {
        const auto *in = reinterpret_cast<sockaddr_in6 *>(&address);
        ::inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text);
        return {QByteArray(text), ntohs(in->sin6_port)};
    }
    return {};
}

} // namespace

CurlMultiDriver::Taken CurlMultiDriver::noteBusy(const char *localIp, int localPort, const char *peerIp,
                                                 int peerPort)
{
    const std::pair<QByteArray, int> local{QByteArray(localIp), localPort};
    const std::pair<QByteArray, int> peer{QByteArray(peerIp), peerPort};
    for (auto &[socket, c] : m_connections) {
        if (endOf(socket, false) != local || endOf(socket, true) != peer)
            continue;
        ++c.busy;
        c.idle = false;
        return {socket, c.id};
    }
    return {};
}

void CurlMultiDriver::noteDone(Taken connection)
{
    const auto it = m_connections.find(connection.socket);
    if (it == m_connections.end() || it->second.id != connection.id)
        return;
    Connection &c = it->second;
    c.busy = std::max(c.busy - 1, 0);
    if (c.busy > 0)
        return;
    c.idle = true;
    c.idleSince = std::chrono::steady_clock::now();
}

void CurlMultiDriver::dropStaleConnections()
{
    const auto now = std::chrono::steady_clock::now();
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        pollfd p{it->first, POLLIN, 0};
        if (!it->second.idle || (now - it->second.idleSince <= kMaxIdle && ::poll(&p, 1, 0) == 0)) {
            ++it;
            continue;
        }
        // libcurl finds it dead at its next look and closes it; nothing is read from it.
        ::shutdown(it->first, SHUT_RDWR);
        it->second.idle = false;
        ++it;
    }
}
