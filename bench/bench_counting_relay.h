#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

// Forwards each connection to the service, counting what passes.
class CountingRelay : public QObject
{
public:
    explicit CountingRelay(quint16 servicePort)
        : m_servicePort(servicePort)
    {
        connect(&m_server, &QTcpServer::newConnection, this, &CountingRelay::accept);
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    qint64 bytes() const { return m_up + m_down; }
    void reset() { m_up = m_down = 0; }

private:
    void accept()
    {
        while (QTcpSocket *app = m_server.nextPendingConnection()) {
            auto *service = new QTcpSocket(app);
            service->connectToHost(QHostAddress::LocalHost, m_servicePort);
            connect(app, &QTcpSocket::readyRead, service, [this, app, service] {
                const QByteArray data = app->readAll();
                m_up += data.size();
                service->write(data);
            });
            connect(service, &QTcpSocket::readyRead, app, [this, app, service] {
                const QByteArray data = service->readAll();
                m_down += data.size();
                app->write(data);
            });
            connect(app, &QTcpSocket::disconnected, app, &QObject::deleteLater);
            connect(service, &QTcpSocket::disconnected, app, [app] { app->disconnectFromHost(); });
        }
    }

    QTcpServer m_server;
    quint16 m_servicePort;
    qint64 m_up = 0;
    qint64 m_down = 0;
};
