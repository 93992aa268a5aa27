#include "api/keep_alive_transport.h"

#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
#include <cstring>

namespace {

int defaultPort(const QUrl &url)
{
    return url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
}

QNetworkReply::NetworkError errorOfSocket(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return QNetworkReply::SslHandshakeFailedError;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyConnectionClosedError:
        return QNetworkReply::ProxyConnectionClosedError;
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return QNetworkReply::ProxyTimeoutError;
    case QAbstractSocket::ProxyNotFoundError:
        return QNetworkReply::ProxyNotFoundError;
    case QAbstractSocket::ProxyProtocolError:
        return QNetworkReply::UnknownProxyError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

// The error the manager reports beside an HTTP status it does not count as success.
QNetworkReply::NetworkError errorOfStatus(int status)
{
    switch (status) {
    case 400:
        return QNetworkReply::ProtocolInvalidOperationError;
    case 401:
        return QNetworkReply::AuthenticationRequiredError;
    case 403:
        return QNetworkReply::ContentAccessDenied;
    case 404:
        return QNetworkReply::ContentNotFoundError;
    case 405:
        return QNetworkReply::ContentOperationNotPermittedError;
    case 407:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case 409:
        return QNetworkReply::ContentConflictError;
    case 410:
        return QNetworkReply::ContentGoneError;
    case 418:
        return QNetworkReply::ProtocolInvalidOperationError;
    case 500:
        return QNetworkReply::InternalServerError;
    case 501:
        return QNetworkReply::OperationNotImplementedError;
    case 503:
        return QNetworkReply::ServiceUnavailableError;
    default:
        if (status >= 400 && status < 500)
            return QNetworkReply::UnknownContentError;
        if (status >= 500)
            return QNetworkReply::UnknownServerError;
        return QNetworkReply::NoError;
    }
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

KeepAliveReply::KeepAliveReply(KeepAliveTransport &transport, const QNetworkRequest &request, QByteArray verb,
                               std::optional<QByteArray> body)
    : QNetworkReply(&transport)
    , m_transport(&transport)
    , m_verb(std::move(verb))
    , m_body(std::move(body))
{
    setRequest(request);
    setUrl(request.url());
    setOperation(QNetworkAccessManager::CustomOperation);
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    connect(this, &QNetworkReply::redirectAllowed, this, [this] {
        m_redirectAllowed = true;
        if (m_headDone && m_in.isEmpty() && !m_socket && !isFinished())
            followRedirect();
    });
}

KeepAliveReply::~KeepAliveReply()
{
    if (m_socket)
        m_socket->deleteLater();
}

qint64 KeepAliveReply::bytesAvailable() const
{
    return m_data.size() + QNetworkReply::bytesAvailable();
}

qint64 KeepAliveReply::readData(char *data, qint64 maxSize)
{
    const qint64 n = std::min(maxSize, qint64(m_data.size()));
    if (n <= 0)
        return isFinished() ? -1 : 0;
    std::memcpy(data, m_data.constData(), size_t(n));
    m_data.remove(0, n);
    return n;
}

void KeepAliveReply::start(QTcpSocket *socket, bool reused)
{
    m_socket = socket;
    m_reused = reused;
    m_answered = false;
    m_headDone = false;
    m_closeAfter = false;
    m_chunked = false;
    m_contentLength = -1;
    m_chunkLeft = -1;
    m_trailers = false;
    m_redirectAllowed = false;
    m_in.clear();
    m_received = 0;
    connect(socket, &QTcpSocket::readyRead, this, &KeepAliveReply::onReadyRead);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        onSocketGone(e, m_socket ? m_socket->errorString() : QString());
    });
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        onSocketGone(QAbstractSocket::RemoteHostClosedError, QStringLiteral("Connection closed"));
    });
    // The request is written below but held by the socket until the connection is open; over TLS,
    // until the handshake is done.
    const auto opened = [this] { m_left = true; };
    if (auto *tls = qobject_cast<QSslSocket *>(socket)) {
        connect(tls, &QSslSocket::encrypted, this, opened);
        if (tls->isEncrypted())
            opened();
    } else {
        connect(socket, &QTcpSocket::connected, this, opened);
        if (socket->state() == QAbstractSocket::ConnectedState)
            opened();
    }

    const QUrl target = url();
    QByteArray head;
    head.reserve(512);
    head +=
        m_verb + ' ' + target.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (target.path().isEmpty())
        head += '/';
    const QByteArray host = target.host(QUrl::FullyEncoded).toLatin1();
    head += " HTTP/1.1\r\nHost: " + (host.contains(':') ? '[' + host + ']' : host);
    if (target.port() != -1)
        head += ':' + QByteArray::number(target.port());
    head += "\r\n";
    const QNetworkRequest req = request();
    for (const QByteArray &name : req.rawHeaderList()) {
        const QByteArray lower = name.toLower();
        if (lower == "content-length" || lower == "host" || lower == "connection")
            continue;
        head += name + ": " + req.rawHeader(name) + "\r\n";
    }
    head += "Connection: keep-alive\r\n";
    if (m_body)
        head += "Content-Length: " + QByteArray::number(m_body->size()) + "\r\n";
    head += "\r\n";
    if (m_body)
        head += *m_body;
    socket->write(head);
    if (m_body)
        Q_EMIT uploadProgress(m_body->size(), m_body->size());
    if (socket->bytesAvailable() > 0)
        onReadyRead();
}

void KeepAliveReply::onReadyRead()
{
    if (!m_socket || isFinished())
        return;
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    m_answered = true;
    m_in += bytes;
    if (!m_headDone && !parseHead())
        return;
    if (isFinished() || !m_socket)
        return;
    if (parseBody())
        complete();
}

bool KeepAliveReply::parseHead()
{
    const qsizetype end = m_in.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    const QList<QByteArray> lines = m_in.left(end).split('\n');
    m_in.remove(0, end + 4);
    const QByteArray statusLine = lines.value(0).trimmed();
    const QList<QByteArray> parts = statusLine.split(' ');
    bool ok = false;
    const int status = parts.value(1).toInt(&ok);
    if (!statusLine.startsWith("HTTP/1.") || !ok) {
        fail(QNetworkReply::ProtocolFailure, QStringLiteral("Invalid HTTP response"));
        return false;
    }
    // 1xx answers carry no body; the real one follows.
    if (status >= 100 && status < 200) {
        return !m_in.isEmpty() && parseHead();
    }
    m_closeAfter = statusLine.startsWith("HTTP/1.0");
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        const QByteArray lower = name.toLower();
        if (lower == "transfer-encoding")
            m_chunked = value.toLower().contains("chunked");
        else if (lower == "content-length")
            m_contentLength = value.toLongLong();
        else if (lower == "connection")
            m_closeAfter = value.toLower().contains("close")
                               ? true
                               : (value.toLower().contains("keep-alive") ? false : m_closeAfter);
        const QByteArray before = rawHeader(name);
        setRawHeader(name, before.isEmpty() ? value : before + ", " + value);
    }
    if (m_chunked)
        m_contentLength = -1;
    if (m_verb == "HEAD" || status == 204 || status == 304)
        m_contentLength = 0, m_chunked = false;
    m_headDone = true;
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, status);
    setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, QString::fromLatin1(parts.mid(2).join(' ')));
    const QByteArray location = rawHeader("Location");
    const auto policy =
        request()
            .attribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy)
            .toInt();
    if (isRedirect(status) && !location.isEmpty() && policy != QNetworkRequest::ManualRedirectPolicy) {
        const QUrl target = url().resolved(QUrl::fromEncoded(location));
        setAttribute(QNetworkRequest::RedirectionTargetAttribute, target);
        if (m_redirects >= request().maximumRedirectsAllowed()) {
            fail(QNetworkReply::TooManyRedirectsError, QStringLiteral("Too many redirects"));
            return false;
        }
        if (policy == QNetworkRequest::UserVerifiedRedirectPolicy) {
            Q_EMIT redirected(target);
        } else if (!(url().scheme() == QLatin1String("https") && target.scheme() == QLatin1String("http"))) {
            m_redirectAllowed = true;
        } else {
            fail(QNetworkReply::InsecureRedirectError, QStringLiteral("Insecure redirect"));
            return false;
        }
        return !isFinished();
    }
    if (const auto code = errorOfStatus(status); code != QNetworkReply::NoError)
        setError(code, QStringLiteral("Error transferring %1 - server replied: %2")
                           .arg(url().toDisplayString(), QString::fromLatin1(parts.mid(2).join(' '))));
    Q_EMIT metaDataChanged();
    return !isFinished();
}

bool KeepAliveReply::parseBody()
{
    const bool redirecting = attribute(QNetworkRequest::RedirectionTargetAttribute).isValid();
    QByteArray fresh;
    bool done = false;
    if (m_chunked) {
        while (true) {
            if (m_trailers) {
                const qsizetype eol = m_in.indexOf("\r\n");
                if (eol < 0)
                    break;
                m_in.remove(0, eol + 2);
                if (eol == 0) {
                    done = true;
                    break;
                }
                continue;
            }
            if (m_chunkLeft < 0) {
                const qsizetype eol = m_in.indexOf("\r\n");
                if (eol < 0)
                    break;
                QByteArray size = m_in.left(eol);
                if (const qsizetype semi = size.indexOf(';'); semi >= 0)
                    size.truncate(semi);
                bool ok = false;
                m_chunkLeft = size.trimmed().toLongLong(&ok, 16);
                m_in.remove(0, eol + 2);
                if (!ok || m_chunkLeft < 0) {
                    fail(QNetworkReply::ProtocolFailure, QStringLiteral("Invalid chunk size"));
                    return false;
                }
                if (m_chunkLeft == 0) {
                    m_trailers = true;
                    continue;
                }
            }
            const qint64 take = std::min(m_chunkLeft, qint64(m_in.size()));
            fresh += m_in.left(take);
            m_in.remove(0, take);
            m_chunkLeft -= take;
            if (m_chunkLeft > 0)
                break;
            if (m_in.size() < 2)
                break; // the chunk's closing line ending is still on its way
            m_in.remove(0, 2);
            m_chunkLeft = -1;
        }
    } else if (m_contentLength >= 0) {
        const qint64 take = std::min(m_contentLength - m_received, qint64(m_in.size()));
        fresh = m_in.left(take);
        m_in.remove(0, take);
        done = m_received + take >= m_contentLength;
    } else {
        fresh = std::move(m_in);
        m_in.clear();
    }
    m_received += fresh.size();
    if (!fresh.isEmpty() && !redirecting) {
        m_data += fresh;
        Q_EMIT readyRead();
        if (isFinished())
            return false;
        Q_EMIT downloadProgress(m_received, m_contentLength);
        if (isFinished())
            return false;
    }
    return done;
}

void KeepAliveReply::complete()
{
    const bool keep = !m_closeAfter && m_in.isEmpty();
    release(keep);
    if (attribute(QNetworkRequest::RedirectionTargetAttribute).isValid()) {
        if (m_redirectAllowed)
            followRedirect();
        return;
    }
    setFinished(true);
    Q_EMIT finished();
}

void KeepAliveReply::release(bool keep)
{
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    if (!socket)
        return;
    socket->disconnect(this);
    if (keep && m_transport && socket->state() == QAbstractSocket::ConnectedState) {
        m_transport->giveBack(url(), socket);
        return;
    }
    socket->abort();
    socket->deleteLater();
}

void KeepAliveReply::followRedirect()
{
    const QUrl target = attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    const int status = attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    ++m_redirects;
    // As browsers do: a 303 and a POST moved by 301 or 302 go on as a GET without body.
    if ((status == 303 && m_verb != "HEAD") || ((status == 301 || status == 302) && m_verb == "POST")) {
        m_verb = "GET";
        m_body.reset();
    }
    for (const QByteArray &name : rawHeaderList())
        setRawHeader(name, QByteArray());
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, QVariant());
    setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, QVariant());
    setAttribute(QNetworkRequest::RedirectionTargetAttribute, QVariant());
    setUrl(target);
    if (!m_transport) {
        fail(QNetworkReply::OperationCanceledError, QStringLiteral("Operation canceled"));
        return;
    }
    bool reused = false;
    QTcpSocket *socket = m_transport->take(target, reused);
    start(socket, reused);
}

void KeepAliveReply::onSocketGone(QAbstractSocket::SocketError error, const QString &text)
{
    if (isFinished() || !m_socket)
        return;
    if (m_socket->bytesAvailable() > 0)
        onReadyRead();
    if (isFinished() || !m_socket)
        return;
    const bool closed = error == QAbstractSocket::RemoteHostClosedError;
    // An answer that runs up to the close ends with it.
    if (closed && m_headDone && !m_chunked && m_contentLength < 0) {
        m_closeAfter = true;
        complete();
        return;
    }
    if (closed && !m_answered) {
        // A connection that closed before any answer may have carried the request to the service.
        // One without a body is sent again once on a new connection; a body is not, so a create the
        // service applied is not made twice.
        if (!m_body && m_reused && m_transport) {
            release(false);
            bool reused = false;
            QTcpSocket *socket = m_transport->take(url(), reused);
            start(socket, reused);
            return;
        }
        if (m_body) {
            fail(QNetworkReply::ContentReSendError, QStringLiteral("Content re-send error"));
            return;
        }
    }
    fail(errorOfSocket(error), text.isEmpty() ? QStringLiteral("Connection closed") : text);
}

void KeepAliveReply::fail(QNetworkReply::NetworkError code, const QString &text)
{
    if (isFinished())
        return;
    release(false);
    setError(code, text);
    setFinished(true);
    Q_EMIT errorOccurred(code);
    Q_EMIT finished();
}

void KeepAliveReply::abort()
{
    fail(QNetworkReply::OperationCanceledError, QStringLiteral("Operation canceled"));
}

KeepAliveTransport::KeepAliveTransport(QObject *parent)
    : QObject(parent)
{
}

KeepAliveTransport::~KeepAliveTransport()
{
    for (auto &sockets : m_idle)
        for (QTcpSocket *socket : sockets)
            delete socket;
}

QString KeepAliveTransport::originOf(const QUrl &url)
{
    return url.scheme() + QLatin1String("://") + url.host().toLower() + QLatin1Char(':') +
           QString::number(defaultPort(url));
}

int KeepAliveTransport::idleConnections() const
{
    int n = 0;
    for (const auto &sockets : m_idle)
        n += int(sockets.size());
    return n;
}

QNetworkReply *KeepAliveTransport::send(const QNetworkRequest &request, const QByteArray &verb,
                                        std::optional<QByteArray> body)
{
    auto *reply = new KeepAliveReply(*this, request, verb, std::move(body));
    connect(reply, &QNetworkReply::finished, this, [this, reply] { Q_EMIT finished(reply); });
    bool reused = false;
    QTcpSocket *socket = take(request.url(), reused);
    reply->start(socket, reused);
    return reply;
}

QTcpSocket *KeepAliveTransport::take(const QUrl &url, bool &reused)
{
    auto &idle = m_idle[originOf(url)];
    while (!idle.empty()) {
        QTcpSocket *socket = idle.back();
        idle.pop_back();
        socket->disconnect(this);
        // Bytes on an idle connection belong to no request: the connection is out of step.
        if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesAvailable() == 0) {
            reused = true;
            return socket;
        }
        socket->abort();
        socket->deleteLater();
    }
    reused = false;
    ++m_opened;
    if (url.scheme() == QLatin1String("https")) {
        auto *socket = new QSslSocket;
        socket->connectToHostEncrypted(url.host(), quint16(defaultPort(url)));
        return socket;
    }
    auto *socket = new QTcpSocket;
    socket->connectToHost(url.host(), quint16(defaultPort(url)));
    return socket;
}

void KeepAliveTransport::giveBack(const QUrl &url, QTcpSocket *socket)
{
    const QString origin = originOf(url);
    auto &idle = m_idle[origin];
    // One idle connection per origin is enough for exchanges made one at a time.
    if (!idle.empty()) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    idle.push_back(socket);
    const auto drop = [this, origin, socket] {
        auto &list = m_idle[origin];
        const auto it = std::find(list.begin(), list.end(), socket);
        if (it == list.end())
            return;
        list.erase(it);
        socket->disconnect(this);
        socket->deleteLater();
    };
    connect(socket, &QTcpSocket::disconnected, this, drop);
    connect(socket, &QTcpSocket::errorOccurred, this, drop);
}
