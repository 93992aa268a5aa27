#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>

#include <memory>
#include <optional>

class CurlMultiDriver;
class QNetworkReply;

// The service's HTTP stack: libcurl's multi interface on the caller's thread (see CurlMultiDriver),
// keeping one connection per origin alive between exchanges. Certificates and host names are
// verified, the proxy comes from the environment as curl reads it, compressed answers are accepted
// and HTTP/2 is used where the service offers it over TLS.
class CurlTransport : public QObject
{
    Q_OBJECT
public:
    explicit CurlTransport(QObject *parent = nullptr);
    // Replies still running end as cancelled.
    ~CurlTransport() override;

    // `request` names the URL and raw headers (RedirectPolicyAttribute is honoured); a body is sent
    // with its Content-Length. The reply, a CurlReply, is owned by the caller.
    QNetworkReply *send(const QNetworkRequest &request, const QByteArray &verb,
                        std::optional<QByteArray> body = std::nullopt);

    // Connections opened since the transport was made (tests check reuse).
    int connectionsOpened() const { return m_opened; }

Q_SIGNALS:
    // Every reply as it finishes, as QNetworkAccessManager::finished says it.
    void finished(QNetworkReply *reply);

private:
    friend class CurlReply;
    CurlMultiDriver &driver() { return *m_driver; }
    void noteConnections(long opened) { m_opened += int(opened); }

    std::unique_ptr<CurlMultiDriver> m_driver;
    int m_opened = 0;
};
