#pragma once

#include <QByteArray>
#include <QHash>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <optional>
#include <vector>

class QTcpSocket;
class KeepAliveTransport;

// One exchange on a KeepAliveTransport connection, seen as a QNetworkReply so that APIClient::send and
// the code reading replies treat it as one of the manager's. It follows a redirect only once the
// owner answers `redirected` with `redirectAllowed`, as the manager does under
// UserVerifiedRedirectPolicy.
class KeepAliveReply : public QNetworkReply
{
    Q_OBJECT
public:
    ~KeepAliveReply() override;

    void abort() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    // Whether a connection was open for the request, so that it may have reached the service; a
    // connection refused, never found or never finished did not carry it.
    bool mayHaveLeft() const { return m_left; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;

private:
    friend class KeepAliveTransport;
    KeepAliveReply(KeepAliveTransport &transport, const QNetworkRequest &request, QByteArray verb,
                   std::optional<QByteArray> body);

    // Writes the request on `socket`; `reused` says the socket served an earlier exchange.
    void start(QTcpSocket *socket, bool reused);
    void onReadyRead();
    void onSocketGone(QAbstractSocket::SocketError error, const QString &text);
    // Reads what the buffer holds; false while the answer is incomplete.
    bool parseHead();
    bool parseBody();
    void complete();
    void fail(QNetworkReply::NetworkError code, const QString &text);
    void followRedirect();
    void release(bool keep);

    QPointer<KeepAliveTransport> m_transport;
    QByteArray m_verb;
    std::optional<QByteArray> m_body;
    QPointer<QTcpSocket> m_socket;
    bool m_reused = false;
    bool m_left = false;     // a connection was open for it (once encrypted, for TLS)
    bool m_answered = false; // a byte of the answer came
    bool m_headDone = false;
    bool m_closeAfter = false;
    bool m_chunked = false;
    qint64 m_contentLength = -1; // -1: up to the close
    qint64 m_chunkLeft = -1;     // in chunked mode: bytes left in this chunk, -1 before its size line
    bool m_trailers = false;
    bool m_redirectAllowed = false;
    int m_redirects = 0;
    QByteArray m_in;   // unparsed bytes from the socket
    QByteArray m_data; // body bytes not yet read by the caller
    qint64 m_received = 0;
};

// A keep-alive HTTP/1.1 client for the service's small JSON exchanges. QNetworkAccessManager reads
// each answer's head one byte per system call on its own thread and hands every step between
// threads; a push of a thousand operations spent most of its time there. Here the sockets live on
// the caller's thread: one idle connection per origin is kept, each carries one exchange at a time,
// and a connection the service closed is replaced by a new one. TLS uses QSslSocket with its default
// verification; proxies follow the sockets' default (the application proxy).
class KeepAliveTransport : public QObject
{
    Q_OBJECT
public:
    explicit KeepAliveTransport(QObject *parent = nullptr);
    ~KeepAliveTransport() override;

    // `request` names the URL and raw headers (RedirectPolicyAttribute is honoured); a body is sent
    // with its Content-Length. The reply is owned by the caller.
    QNetworkReply *send(const QNetworkRequest &request, const QByteArray &verb,
                        std::optional<QByteArray> body = std::nullopt);

    // Connections kept open between exchanges (tests check reuse).
    int idleConnections() const;
    // Sockets opened since the transport was made.
    int connectionsOpened() const { return m_opened; }

Q_SIGNALS:
    // Every reply as it finishes, as QNetworkAccessManager::finished says it.
    void finished(QNetworkReply *reply);

private:
    friend class KeepAliveReply;
    QTcpSocket *take(const QUrl &url, bool &reused);
    void giveBack(const QUrl &url, QTcpSocket *socket);
    static QString originOf(const QUrl &url);

    QHash<QString, std::vector<QTcpSocket *>> m_idle;
    int m_opened = 0;
};
