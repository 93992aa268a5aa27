#pragma once

#include "fake-service/http_request.h"
#include "fake-service/http_response.h"

#include <QObject>
#include <QTcpServer>

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 for tests: keep-alive, chunked request bodies, in-order answers
// even when one of them is delayed. Requests are handed to a single handler.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;

    explicit LoopbackHttpServer(QObject *parent = nullptr);
    ~LoopbackHttpServer() override;

    bool listen(quint16 port = 0);
    // Stops listening and hangs up on every open connection, so clients are refused as by a host
    // that is not there; false listens on the same port again.
    void setRefusing(bool refusing);
    quint16 port() const;
    QString origin() const;
    void setHandler(Handler handler);

    // Sends the answers held back (HttpResponse::held), in the order they were held.
    void releaseHeld();
    // Only the first of them; false when none is held.
    bool releaseFirstHeld();

    int acceptedConnections() const { return m_accepted; }
    int openConnections() const { return int(m_connections.size()); }

    static QByteArray reasonPhrase(int status);

private:
    struct Connection; // parser state per socket

    void acceptConnections();
    void forget(QTcpSocket *socket);
    void processBuffer(QTcpSocket *socket);
    HttpResponse callHandler(const HttpRequest &request);
    void deliver(QTcpSocket *socket, const HttpResponse &response, bool headOnly, bool keepAlive);
    void trickle(QTcpSocket *socket, QByteArray rest, qsizetype piece, int intervalMs, bool keepAlive);
    void finishAnswer(QTcpSocket *socket, bool keepAlive);
    void reject(QTcpSocket *socket, int status);
    Connection *connectionFor(QTcpSocket *socket);

    QTcpServer m_server;
    std::unordered_map<QTcpSocket *, std::unique_ptr<Connection>> m_connections;
    Handler m_handler;
    std::vector<std::function<void()>> m_held;
    int m_accepted = 0;
    quint16 m_refusedPort = 0; // the port given up while refusing
};
