#pragma once

#include "api/content_decoder.h"
#include "api/curl_multi_driver.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <curl/curl.h>

#include <optional>
#include <utility>
#include <vector>

class CurlTransport;

// One exchange on a CurlTransport, seen as a QNetworkReply so that APIClient::send and the code
// reading replies treat it as one of the manager's. libcurl never follows a redirect here: the reply
// emits `redirected` and goes on only once the owner answers `redirectAllowed`, as the manager does
// under UserVerifiedRedirectPolicy.
class CurlReply : public QNetworkReply
{
    Q_OBJECT
public:
    ~CurlReply() override;

    void abort() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    // Whether a connection was open for the request, so that it may have reached the service; a
    // connection refused, never found or never finished (TLS included) did not carry it.
    bool mayHaveLeft() const { return m_left; }
    // The most the body may hold, decoded; a longer declared or streamed body ends the exchange.
    void setMaxBodyBytes(qint64 bytes);
    // The exchange ended because the answer was over the size cap.
    bool wasTooLarge() const { return m_tooLarge; }
    // All of the body not read yet, handed over rather than copied as readAll() would.
    QByteArray takeAll();

    // The most an answer's head may take, interim answers included.
    static constexpr qint64 kMaxHeadBytes = 64 * 1024;
    // The most room set aside for a body at its declared length; a longer one grows as it comes.
    static constexpr qint64 kMaxReservedBody = 8 * 1024 * 1024;

    // A reply that no transfer feeds: takeHeader, takeBody and conclude stand in for libcurl's
    // callbacks, so what the reply makes of any answer can be checked without a server. Owned by the
    // caller, as send()'s are. Concluding one whose redirect was allowed starts a real transfer to its
    // target.
    static CurlReply *unsent(CurlTransport &transport, const QNetworkRequest &request, QByteArray verb);
    // One header line as libcurl hands it (line break included), with the status it has read so far;
    // false ends the transfer.
    bool takeHeader(QByteArrayView raw, long status);
    // One piece of the body; false ends the transfer.
    bool takeBody(QByteArrayView data);
    // The transfer is over with `code`: the reply finishes, or follows an allowed redirect.
    void conclude(CURLcode code);

protected:
    qint64 readData(char *data, qint64 maxSize) override;

private:
    friend class CurlTransport;
    CurlReply(CurlTransport &transport, const QNetworkRequest &request, QByteArray verb,
              std::optional<QByteArray> body);

    // Sets the exchange up on a fresh handle and hands it to the driver; false when refused.
    bool start();
    void ended(CURLcode code);
    void finishWith(QNetworkReply::NetworkError code, const QString &text);
    void finishOk();
    void followRedirect();
    void detach();

    static size_t onHeader(char *data, size_t size, size_t count, void *self);
    static size_t onWrite(char *data, size_t size, size_t count, void *self);
    static size_t onRead(char *data, size_t size, size_t count, void *self);
    static int onSeek(void *self, curl_off_t offset, int origin);
    static int onProgress(void *self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                          curl_off_t ulNow);
    static int onPrereq(void *self, char *, char *, int, int);
    bool headerLine(const QByteArray &line, long status);
    bool headEnded(long status);
    // Ends the exchange from inside a callback with our own error.
    bool refuse(QNetworkReply::NetworkError code, const QString &text);

    QPointer<CurlTransport> m_transport;
    CURL *m_easy = nullptr;
    curl_slist *m_headers = nullptr;
    char m_errorText[CURL_ERROR_SIZE] = {};
    QByteArray m_verb;
    std::optional<QByteArray> m_body;
    qint64 m_bodySent = 0;
    bool m_running = false;
    bool m_left = false;
    bool m_abortPending = false;
    bool m_tooLarge = false;
    std::optional<std::pair<QNetworkReply::NetworkError, QString>> m_refused; // by our own checks
    qint64 m_maxBodyBytes = -1;
    qint64 m_headBytes = 0;
    bool m_headDone = false;
    int m_contentLengths = 0;
    std::vector<std::pair<QByteArray, QByteArray>> m_headLines; // of the head being read
    bool m_redirectAllowed = false;
    int m_redirects = 0;
    qint64 m_received = 0;
    // The connection the request went out on, as the driver named it, until the transfer is over.
    CurlMultiDriver::Taken m_connection;
    curl_off_t m_upNow = -1;
    curl_off_t m_downNow = -1;
    QByteArray m_data;        // body bytes not yet read by the caller
    ContentDecoder m_decoder; // libcurl hands the body over as it came; this undoes its coding
};
