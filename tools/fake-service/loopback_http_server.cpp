#include "fake-service/loopback_http_server.h"

#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <exception>
#include <utility>

namespace {

constexpr qsizetype MaxHeadBytes = 64 * 1024;
constexpr qint64 MaxBodyBytes = 64 * 1024 * 1024;

enum class Outcome { NeedMore, Done, Reject };

struct Head {
    HttpRequest request;
    bool http10 = false;
    bool chunked = false;
    qint64 contentLength = 0;
    bool expectsContinue = false;
};

bool isTokenChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView s)
{
    if (s.isEmpty())
        return false;
    for (char c : s) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
}

QList<QByteArray> listTokens(const QByteArray &value)
{
    QList<QByteArray> tokens;
    for (const QByteArray &item : value.split(',')) {
        const QByteArray t = item.trimmed().toLower();
        if (!t.isEmpty())
            tokens.append(t);
    }
    return tokens;
}

std::optional<qint64> parseDecimal(const QByteArray &s)
{
    if (s.isEmpty() || s.size() > 18)
        return std::nullopt;
    for (char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    return s.toLongLong();
}

// Content-Length may repeat (or be a list) as long as every copy agrees.
std::optional<qint64> contentLength(const HttpRequest &request, bool &malformed)
{
    std::optional<qint64> length;
    for (const auto &h : request.headers) {
        if (h.first.compare("Content-Length", Qt::CaseInsensitive) != 0)
            continue;
        for (const QByteArray &item : h.second.split(',')) {
            const std::optional<qint64> n = parseDecimal(item.trimmed());
            if (!n || (length && *length != *n)) {
                malformed = true;
                return std::nullopt;
            }
            length = n;
        }
    }
    return length;
}

Outcome parseHead(QByteArray &buffer, Head &head, int &rejectStatus)
{
    // Stray blank lines before a request line are allowed and ignored.
    qsizetype start = 0;
    while (buffer.mid(start, 2) == "\r\n")
        start += 2;
    if (start > 0)
        buffer.remove(0, start);

    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (buffer.size() > MaxHeadBytes) {
            rejectStatus = 431;
            return Outcome::Reject;
        }
        return Outcome::NeedMore;
    }
    if (end > MaxHeadBytes) {
        rejectStatus = 431;
        return Outcome::Reject;
    }

    const QList<QByteArray> lines = buffer.left(end).split('\n');
    rejectStatus = 400;
    auto stripCr = [](const QByteArray &line) { return line.endsWith('\r') ? line.chopped(1) : line; };

    const QList<QByteArray> parts = stripCr(lines.first()).split(' ');
    if (parts.size() != 3 || !isToken(parts[0]) || parts[1].isEmpty())
        return Outcome::Reject;
    if (parts[2] == "HTTP/1.0") {
        head.http10 = true;
    } else if (parts[2] != "HTTP/1.1") {
        if (parts[2].startsWith("HTTP/"))
            rejectStatus = 505;
        return Outcome::Reject;
    }
    head.request.method = parts[0];
    head.request.target = parts[1];

    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = stripCr(lines[i]);
        const qsizetype colon = line.indexOf(':');
        // Obsolete line folding and whitespace before the colon are both refused, as RFC 9112 asks.
        if (colon <= 0 || !isToken(QByteArrayView(line).first(colon)))
            return Outcome::Reject;
        head.request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }

    if (const auto te = head.request.header("Transfer-Encoding")) {
        const QList<QByteArray> codings = listTokens(*te);
        if (codings.isEmpty() || codings.last() != "chunked")
            return Outcome::Reject;
        if (codings.size() > 1) {
            rejectStatus = 501; // nothing but chunked is decoded here
            return Outcome::Reject;
        }
        head.chunked = true;
    } else {
        bool malformed = false;
        const std::optional<qint64> length = contentLength(head.request, malformed);
        if (malformed)
            return Outcome::Reject;
        head.contentLength = length.value_or(0);
        if (head.contentLength > MaxBodyBytes) {
            rejectStatus = 413;
            return Outcome::Reject;
        }
    }
    if (const auto expect = head.request.header("Expect"))
        head.expectsContinue = !head.http10 && expect->compare("100-continue", Qt::CaseInsensitive) == 0;

    buffer.remove(0, end + 4);
    rejectStatus = 0;
    return Outcome::Done;
}

// Re-reads the chunks from the start of the buffer each time; bodies in tests are small.
Outcome takeChunkedBody(QByteArray &buffer, QByteArray &body, int &rejectStatus)
{
    rejectStatus = 400;
    QByteArray out;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype lineEnd = buffer.indexOf("\r\n", pos);
        if (lineEnd < 0)
            return buffer.size() - pos > 1024 ? Outcome::Reject : Outcome::NeedMore;
        QByteArray sizeText = buffer.mid(pos, lineEnd - pos);
        if (const qsizetype semi = sizeText.indexOf(';'); semi >= 0)
            sizeText.truncate(semi);
        sizeText = sizeText.trimmed();
        if (sizeText.isEmpty() || sizeText.size() > 8)
            return Outcome::Reject;
        bool ok = false;
        const qint64 size = sizeText.toLongLong(&ok, 16);
        if (!ok || size < 0)
            return Outcome::Reject;
        pos = lineEnd + 2;

        if (size == 0) {
            // Trailer fields end with an empty line; they are read past and not kept.
            for (;;) {
                const qsizetype trailerEnd = buffer.indexOf("\r\n", pos);
                if (trailerEnd < 0)
                    return buffer.size() - pos > MaxHeadBytes ? Outcome::Reject : Outcome::NeedMore;
                const bool last = trailerEnd == pos;
                pos = trailerEnd + 2;
                if (last)
                    break;
            }
            body = out;
            buffer.remove(0, pos);
            rejectStatus = 0;
            return Outcome::Done;
        }

        if (out.size() + size > MaxBodyBytes) {
            rejectStatus = 413;
            return Outcome::Reject;
        }
        if (buffer.size() < pos + size + 2)
            return Outcome::NeedMore;
        if (buffer.mid(pos + size, 2) != "\r\n")
            return Outcome::Reject;
        out.append(buffer.constData() + pos, size);
        pos += size + 2;
    }
}

bool wantsKeepAlive(const HttpRequest &request, bool http10)
{
    const QList<QByteArray> tokens = listTokens(request.header("Connection").value_or(QByteArray()));
    if (tokens.contains("close"))
        return false;
    return !http10 || tokens.contains("keep-alive");
}

QByteArray httpDate()
{
    return QLocale::c()
        .toString(QDateTime::currentDateTimeUtc(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
        .toLatin1();
}

// One chunk per kilobyte, so a streamed answer carries many.
QByteArray chunkedBody(const QByteArray &body)
{
    constexpr qsizetype kChunk = 1024;
    QByteArray out;
    for (qsizetype at = 0; at < body.size(); at += kChunk) {
        const QByteArray chunk = body.mid(at, kChunk);
        out += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
    }
    return out + "0\r\n\r\n";
}

// The head and the body as they go on the wire.
QPair<QByteArray, QByteArray> serialize(const HttpResponse &response, bool headOnly, bool keepAlive)
{
    // 1xx, 204 and 304 never carry a body, so they carry no length either.
    const bool bodiless = response.status < 200 || response.status == 204 || response.status == 304;

    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                     LoopbackHttpServer::reasonPhrase(response.status) + "\r\n";
    out += "Date: " + httpDate() + "\r\n";
    out += "Server: fake-service\r\n";
    if (!bodiless) {
        if (!response.contentType.isEmpty())
            out += "Content-Type: " + response.contentType + "\r\n";
        if (response.chunked)
            out += "Transfer-Encoding: chunked\r\n";
        else
            out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    }
    out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    for (const auto &h : response.headers)
        out += h.first + ": " + h.second + "\r\n";
    out += "\r\n";
    if (bodiless || headOnly)
        return {out, QByteArray()};
    return {out, response.chunked ? chunkedBody(response.body) : response.body};
}

} // namespace

struct LoopbackHttpServer::Connection {
    QByteArray buffer;
    std::optional<Head> head; // set once the header block is in, until the body is
    bool continueSent = false;
    bool awaitingResponse = false; // a delayed answer holds back the requests behind it
    bool closing = false;
};

LoopbackHttpServer::LoopbackHttpServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackHttpServer::acceptConnections);
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    // Sockets emit disconnected() while being destroyed; cut them loose first so no slot runs on a
    // half-destroyed server.
    m_server.close();
    std::vector<QTcpSocket *> sockets;
    for (const auto &entry : m_connections)
        sockets.push_back(entry.first);
    m_connections.clear();
    for (QTcpSocket *socket : sockets) {
        disconnect(socket, nullptr, this, nullptr);
        delete socket;
    }
}

bool LoopbackHttpServer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

void LoopbackHttpServer::setRefusing(bool refusing)
{
    if (refusing == (m_refusedPort != 0))
        return;
    if (!refusing) {
        const quint16 port = std::exchange(m_refusedPort, 0);
        if (!m_server.listen(QHostAddress::LocalHost, port))
            qWarning("loopback server: port %u could not be taken again", unsigned(port));
        return;
    }
    m_refusedPort = m_server.serverPort();
    m_server.close();
    std::vector<QTcpSocket *> sockets;
    for (const auto &entry : m_connections)
        sockets.push_back(entry.first);
    for (QTcpSocket *socket : sockets)
        socket->abort();
}

quint16 LoopbackHttpServer::port() const
{
    return m_refusedPort != 0 ? m_refusedPort : m_server.serverPort();
}

QString LoopbackHttpServer::origin() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void LoopbackHttpServer::setHandler(Handler handler)
{
    m_handler = std::move(handler);
}

QByteArray LoopbackHttpServer::reasonPhrase(int status)
{
    static const QHash<int, QByteArray> phrases = {
        {100, "Continue"},
        {200, "OK"},
        {201, "Created"},
        {202, "Accepted"},
        {204, "No Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {304, "Not Modified"},
        {307, "Temporary Redirect"},
        {308, "Permanent Redirect"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {408, "Request Timeout"},
        {409, "Conflict"},
        {410, "Gone"},
        {411, "Length Required"},
        {412, "Precondition Failed"},
        {413, "Content Too Large"},
        {415, "Unsupported Media Type"},
        {422, "Unprocessable Content"},
        {429, "Too Many Requests"},
        {431, "Request Header Fields Too Large"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
        {505, "HTTP Version Not Supported"},
    };
    if (const auto it = phrases.constFind(status); it != phrases.constEnd())
        return *it;
    return status >= 500 ? "Server Error" : status >= 400 ? "Client Error" : "Unknown";
}

void LoopbackHttpServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        ++m_accepted;
        m_connections.emplace(socket, std::make_unique<Connection>());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            Connection *conn = connectionFor(socket);
            if (!conn)
                return;
            conn->buffer += socket->readAll();
            processBuffer(socket);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forget(socket); });
    }
}

void LoopbackHttpServer::forget(QTcpSocket *socket)
{
    if (m_connections.erase(socket) > 0)
        socket->deleteLater();
}

LoopbackHttpServer::Connection *LoopbackHttpServer::connectionFor(QTcpSocket *socket)
{
    const auto it = m_connections.find(socket);
    return it == m_connections.end() ? nullptr : it->second.get();
}

// Any write, abort or disconnect below may emit disconnected() synchronously and erase the
// connection, so it is looked up afresh after each of them.
void LoopbackHttpServer::processBuffer(QTcpSocket *socket)
{
    for (;;) {
        Connection *conn = connectionFor(socket);
        if (!conn || conn->awaitingResponse || conn->closing)
            return;

        int status = 0;
        if (!conn->head) {
            Head head;
            const Outcome outcome = parseHead(conn->buffer, head, status);
            if (outcome == Outcome::NeedMore)
                return;
            if (outcome == Outcome::Reject) {
                reject(socket, status);
                return;
            }
            conn->head = std::move(head);
            conn->continueSent = false;
        }

        QByteArray body;
        Outcome outcome = Outcome::NeedMore;
        if (conn->head->chunked) {
            outcome = takeChunkedBody(conn->buffer, body, status);
        } else if (conn->buffer.size() >= conn->head->contentLength) {
            body = conn->buffer.left(conn->head->contentLength);
            conn->buffer.remove(0, conn->head->contentLength);
            outcome = Outcome::Done;
        }
        if (outcome == Outcome::Reject) {
            reject(socket, status);
            return;
        }
        if (outcome == Outcome::NeedMore) {
            if (conn->head->expectsContinue && !conn->continueSent) {
                conn->continueSent = true;
                socket->write("HTTP/1.1 100 Continue\r\n\r\n");
            }
            return;
        }

        Head head = std::move(*conn->head);
        conn->head.reset();
        head.request.body = std::move(body);
        const bool keepAlive = wantsKeepAlive(head.request, head.http10);
        const bool headOnly = head.request.method == "HEAD";

        const HttpResponse response = callHandler(head.request);
        conn = connectionFor(socket);
        if (!conn)
            return;

        if (response.delayMs > 0 || response.held) {
            conn->awaitingResponse = true;
            auto answer = [this, guard = QPointer<QTcpSocket>(socket), response, headOnly, keepAlive] {
                if (!guard)
                    return;
                Connection *c = connectionFor(guard);
                if (!c)
                    return;
                c->awaitingResponse = false;
                deliver(guard, response.handleLate ? response.handleLate() : response, headOnly, keepAlive);
                if (guard)
                    processBuffer(guard);
            };
            if (response.held)
                m_held.push_back(std::move(answer));
            else
                // The socket is the timer's context, so a destroyed socket cancels it; the QPointer
                // covers the stretch between disconnected() and the deferred delete.
                QTimer::singleShot(response.delayMs, socket, std::move(answer));
            return;
        }
        deliver(socket, response, headOnly, keepAlive);
    }
}

void LoopbackHttpServer::releaseHeld()
{
    // Taken first: an answer may let its connection's next request be held in turn.
    const std::vector<std::function<void()>> held = std::exchange(m_held, {});
    for (const auto &answer : held)
        answer();
}

bool LoopbackHttpServer::releaseFirstHeld()
{
    if (m_held.empty())
        return false;
    const std::function<void()> answer = std::move(m_held.front());
    m_held.erase(m_held.begin());
    answer();
    return true;
}

HttpResponse LoopbackHttpServer::callHandler(const HttpRequest &request)
{
    if (!m_handler)
        return HttpResponse::json(404, R"({"error":"Not found"})");
    try {
        return m_handler(request);
    } catch (const std::exception &e) {
        // A throwing handler is a bug in the fake; answer like a crashed script would rather than die.
        qWarning("LoopbackHttpServer: handler for %s %s threw: %s", request.method.constData(),
                 request.target.constData(), e.what());
        return HttpResponse::json(500, R"({"error":"Internal server error"})");
    }
}

void LoopbackHttpServer::deliver(QTcpSocket *socket, const HttpResponse &response, bool headOnly,
                                 bool keepAlive)
{
    if (response.dropConnection) {
        socket->abort();
        if (response.refuseAfter)
            setRefusing(true);
        return;
    }
    const auto [head, body] = serialize(response, headOnly, keepAlive);
    const QByteArray bytes = head + body;
    const qsizetype bodySize = body.size();
    if (response.streamPieces > 1 && bodySize > 0) {
        const qsizetype piece = (bodySize + response.streamPieces - 1) / response.streamPieces;
        // The requests behind this one wait until its last byte is out.
        if (Connection *conn = connectionFor(socket))
            conn->awaitingResponse = true;
        socket->write(bytes.left(head.size() + piece));
        trickle(socket, bytes.mid(head.size() + piece), piece, response.streamIntervalMs, keepAlive);
        return;
    }
    socket->write(bytes);
    if (!keepAlive) {
        if (Connection *conn = connectionFor(socket))
            conn->closing = true;
        socket->disconnectFromHost();
    }
}

void LoopbackHttpServer::trickle(QTcpSocket *socket, QByteArray rest, qsizetype piece, int intervalMs,
                                 bool keepAlive)
{
    QTimer::singleShot(intervalMs, socket,
                       [this, guard = QPointer<QTcpSocket>(socket), rest, piece, intervalMs, keepAlive] {
                           if (!guard || !connectionFor(guard))
                               return;
                           guard->write(rest.left(piece));
                           if (rest.size() > piece)
                               trickle(guard, rest.mid(piece), piece, intervalMs, keepAlive);
                           else
                               finishAnswer(guard, keepAlive);
                       });
}

void LoopbackHttpServer::finishAnswer(QTcpSocket *socket, bool keepAlive)
{
    Connection *conn = connectionFor(socket);
    if (!conn)
        return;
    conn->awaitingResponse = false;
    if (!keepAlive) {
        conn->closing = true;
        socket->disconnectFromHost();
        return;
    }
    processBuffer(socket);
}

void LoopbackHttpServer::reject(QTcpSocket *socket, int status)
{
    if (Connection *conn = connectionFor(socket)) {
        conn->closing = true;
        conn->buffer.clear();
    }
    HttpResponse response;
    response.status = status;
    response.contentType = "text/plain; charset=utf-8";
    response.body = reasonPhrase(status) + '\n';
    deliver(socket, response, false, false);
}
