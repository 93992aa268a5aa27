#include "api/curl_reply.h"

#include "api/curl_errors.h"
#include "api/curl_multi_driver.h"
#include "api/curl_transport.h"

#include <algorithm>
#include <cstring>

namespace {

const auto kCanceledText = QStringLiteral("Operation canceled");
const auto kUnsafeHeaderText = QStringLiteral("A request header held a line break, so nothing was sent.");
const auto kLongHeadText = QStringLiteral("The server's answer began with too long a head.");
const auto kBadLengthText = QStringLiteral("The server's answer had an unreadable length.");
const auto kTooLargeText = QStringLiteral("The server's answer was too large.");

bool isRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool holdsLineBreak(const QByteArray &value)
{
    return value.contains('\r') || value.contains('\n') || value.contains('\0');
}

// One decimal length that fits in 63 bits: anything else ("7, 7", "abc", "-1", an overflowing
// number) leaves where the body ends unknown.
bool isLength(const QByteArray &value)
{
    return !value.isEmpty() && value.size() <= 18 &&
           std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
}

QNetworkAccessManager::Operation operationOf(const QByteArray &verb)
{
    if (verb == "GET")
        return QNetworkAccessManager::GetOperation;
    if (verb == "HEAD")
        return QNetworkAccessManager::HeadOperation;
    if (verb == "POST")
        return QNetworkAccessManager::PostOperation;
    if (verb == "PUT")
        return QNetworkAccessManager::PutOperation;
    if (verb == "DELETE")
        return QNetworkAccessManager::DeleteOperation;
    return QNetworkAccessManager::CustomOperation;
}

} // namespace

CurlReply::CurlReply(CurlTransport &transport, const QNetworkRequest &request, QByteArray verb,
                     std::optional<QByteArray> body)
    : QNetworkReply(&transport)
    , m_transport(&transport)
    , m_verb(std::move(verb))
    , m_body(std::move(body))
{
    setRequest(request);
    setUrl(request.url());
    setOperation(operationOf(m_verb));
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    connect(this, &QNetworkReply::redirectAllowed, this, [this] {
        m_redirectAllowed = true;
        const bool waiting =
            !m_running && !isFinished() && attribute(QNetworkRequest::RedirectionTargetAttribute).isValid();
        if (waiting && m_transport)
            m_transport->driver().afterCurl([self = QPointer<CurlReply>(this)] {
                if (self && !self->isFinished() && !self->m_running)
                    self->followRedirect();
            });
    });
}

CurlReply::~CurlReply()
{
    detach();
}

qint64 CurlReply::bytesAvailable() const
{
    return m_data.size() + QNetworkReply::bytesAvailable();
}

QByteArray CurlReply::takeAll()
{
    if (QNetworkReply::bytesAvailable() > 0)
        return readAll();
    return std::exchange(m_data, QByteArray());
}

qint64 CurlReply::readData(char *data, qint64 maxSize)
{
    const qint64 n = std::min(maxSize, qint64(m_data.size()));
    if (n <= 0)
        return isFinished() ? -1 : 0;
    std::memcpy(data, m_data.constData(), size_t(n));
    m_data.remove(0, n);
    return n;
}

void CurlReply::setMaxBodyBytes(qint64 bytes)
{
    m_maxBodyBytes = bytes;
    // A declared length over the cap is refused before any of the body is read.
    if (m_easy)
        curl_easy_setopt(m_easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(bytes));
}

bool CurlReply::start()
{
    m_headBytes = 0;
    m_headDone = false;
    m_headLines.clear();
    m_received = 0;
    m_bodySent = 0;
    m_upNow = -1;
    m_downNow = -1;
    m_redirectAllowed = false;
    m_refused.reset();
    m_decoder.reset({});
    m_errorText[0] = '\0';

    const QNetworkRequest req = request();
    bool hasAccept = false;
    for (const QByteArray &name : req.rawHeaderList()) {
        const QByteArray value = req.rawHeader(name);
        if (holdsLineBreak(name) || holdsLineBreak(value)) {
            finishWith(QNetworkReply::UnknownNetworkError, kUnsafeHeaderText);
            return false;
        }
        const QByteArray lower = name.toLower();
        if (lower == "host" || lower == "content-length" || lower == "connection" || lower == "expect" ||
            lower == "transfer-encoding")
            continue;
        hasAccept = hasAccept || lower == "accept";
        // "Name;" is libcurl's way to send a field with an empty value.
        const QByteArray line = value.isEmpty() ? name + ';' : name + ": " + value;
        m_headers = curl_slist_append(m_headers, line.constData());
    }
    // No fields of libcurl's own beyond the request's: no "Accept: */*", no "Expect: 100-continue".
    if (!hasAccept)
        m_headers = curl_slist_append(m_headers, "Accept:");
    m_headers = curl_slist_append(m_headers, "Expect:");

    m_easy = curl_easy_init();
    if (!m_easy || !m_transport) {
        finishWith(QNetworkReply::UnknownNetworkError, kCanceledText);
        return false;
    }
    CURL *e = m_easy;
    curl_easy_setopt(e, CURLOPT_URL, url().toEncoded().constData());
    curl_easy_setopt(e, CURLOPT_PRIVATE, static_cast<QObject *>(this));
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, m_errorText);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    // Decoded here rather than by libcurl, which takes a compressed body cut short for a whole one.
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // Whole seconds only: the driver's own check (dropStaleConnections) is the precise one.
    curl_easy_setopt(e, CURLOPT_MAXAGE_CONN, long(CurlMultiDriver::kMaxIdle.count() / 1000));
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, m_headers);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlReply::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlReply::onWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &CurlReply::onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &CurlReply::onPrereq);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, this);
    if (m_maxBodyBytes >= 0)
        curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_maxBodyBytes));

    if (m_verb == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (m_body || m_verb == "POST") {
        // The body comes through a callback that cannot rewind once read (see onSeek).
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_body ? m_body->size() : 0));
        curl_easy_setopt(e, CURLOPT_READFUNCTION, &CurlReply::onRead);
        curl_easy_setopt(e, CURLOPT_READDATA, this);
        curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, &CurlReply::onSeek);
        curl_easy_setopt(e, CURLOPT_SEEKDATA, this);
    } else {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    }
    if (m_verb != "GET" && m_verb != "HEAD" && m_verb != "POST")
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, m_verb.constData());

    m_transport->driver().track(e);
    m_transport->driver().dropStaleConnections();
    m_running = true;
    m_transport->driver().add(e);
    return true;
}

CurlReply *CurlReply::unsent(CurlTransport &transport, const QNetworkRequest &request, QByteArray verb)
{
    auto *reply = new CurlReply(transport, request, std::move(verb), std::nullopt);
    // Whoever feeds it is its transfer.
    reply->m_running = true;
    return reply;
}

size_t CurlReply::onHeader(char *data, size_t size, size_t count, void *self)
{
    auto *reply = static_cast<CurlReply *>(self);
    const size_t n = size * count;
    long status = 0;
    curl_easy_getinfo(reply->m_easy, CURLINFO_RESPONSE_CODE, &status);
    return reply->takeHeader(QByteArrayView(data, qsizetype(n)), status) ? n : 0;
}

bool CurlReply::takeHeader(QByteArrayView raw, long status)
{
    if (m_abortPending || m_refused)
        return false;
    // Interim answers and trailers count too: a flood of either is refused like one long head.
    m_headBytes += qint64(raw.size());
    if (m_headBytes > kMaxHeadBytes)
        return refuse(QNetworkReply::UnknownNetworkError, kLongHeadText);
    return headerLine(raw.toByteArray(), status);
}

bool CurlReply::headerLine(const QByteArray &raw, long status)
{
    if (m_headDone)
        return true; // trailers
    QByteArray line = raw;
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty())
        return headEnded(status);
    if (line.startsWith("HTTP/")) {
        m_headLines.clear();
        m_headLines.emplace_back(QByteArray(), line);
        return true;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon > 0)
        m_headLines.emplace_back(line.left(colon).trimmed(), line.mid(colon + 1).trimmed());
    return true;
}

bool CurlReply::headEnded(long status)
{
    if (status < 200)
        return true; // an interim answer; the real one follows
    m_headDone = true;

    int lengths = 0;
    for (const auto &[name, value] : m_headLines) {
        if (name.compare("content-length", Qt::CaseInsensitive) != 0)
            continue;
        if (++lengths > 1 || !isLength(value))
            return refuse(QNetworkReply::UnknownNetworkError, kBadLengthText);
        if (m_maxBodyBytes >= 0 && value.toLongLong() > m_maxBodyBytes) {
            m_tooLarge = true;
            return false;
        }
        // Room for the whole body at once: grown piece by piece, a large answer is copied over and
        // over on the thread that reads it.
        if (m_data.isEmpty())
            m_data.reserve(qsizetype(std::min(value.toLongLong(), kMaxReservedBody)));
    }
    QByteArray reason;
    for (const auto &[name, value] : m_headLines) {
        if (name.isEmpty()) {
            reason = value.split(' ').mid(2).join(' ');
            continue;
        }
        const QByteArray before = rawHeader(name);
        setRawHeader(name, before.isEmpty() ? value : before + ", " + value);
    }
    m_headLines.clear();
    m_decoder.reset(rawHeader("Content-Encoding"));
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, int(status));
    setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, QString::fromLatin1(reason));

    const QByteArray location = rawHeader("Location");
    const auto policy =
        request()
            .attribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy)
            .toInt();
    if (isRedirect(status) && !location.isEmpty() && policy != QNetworkRequest::ManualRedirectPolicy) {
        const QUrl target = url().resolved(QUrl::fromEncoded(location));
        setAttribute(QNetworkRequest::RedirectionTargetAttribute, target);
        if (m_redirects >= request().maximumRedirectsAllowed())
            return refuse(QNetworkReply::TooManyRedirectsError, QStringLiteral("Too many redirects"));
        if (policy == QNetworkRequest::UserVerifiedRedirectPolicy)
            Q_EMIT redirected(target);
        else if (!(url().scheme() == QLatin1String("https") && target.scheme() == QLatin1String("http")))
            m_redirectAllowed = true;
        else
            return refuse(QNetworkReply::InsecureRedirectError, QStringLiteral("Insecure redirect"));
        return !m_abortPending;
    }
    if (const auto code = networkErrorOfStatus(int(status)); code != QNetworkReply::NoError)
        setError(code, QStringLiteral("Error transferring %1 - server replied: %2")
                           .arg(url().toDisplayString(), QString::fromLatin1(reason)));
    Q_EMIT metaDataChanged();
    return !m_abortPending;
}

bool CurlReply::refuse(QNetworkReply::NetworkError code, const QString &text)
{
    if (!m_refused)
        m_refused.emplace(code, text);
    return false;
}

size_t CurlReply::onWrite(char *data, size_t size, size_t count, void *self)
{
    const size_t n = size * count;
    // A count other than n ends the transfer, even for an empty piece.
    if (!static_cast<CurlReply *>(self)->takeBody(QByteArrayView(data, qsizetype(n))))
        return n ? 0 : 1;
    return n;
}

bool CurlReply::takeBody(QByteArrayView data)
{
    if (m_abortPending || m_refused || m_tooLarge)
        return false;
    // A redirect's own body is not the answer.
    if (attribute(QNetworkRequest::RedirectionTargetAttribute).isValid())
        return true;
    const qsizetype before = m_data.size();
    switch (m_decoder.feed(data, m_data, m_maxBodyBytes)) {
    case ContentDecoder::Outcome::Ok:
    case ContentDecoder::Outcome::Cut:
        break;
    case ContentDecoder::Outcome::TooLarge:
        m_tooLarge = true;
        return false;
    case ContentDecoder::Outcome::Corrupt:
        return refuse(networkErrorOfCurl(CURLE_BAD_CONTENT_ENCODING),
                      QString::fromUtf8(curl_easy_strerror(CURLE_BAD_CONTENT_ENCODING)));
    }
    m_received += qint64(m_data.size() - before);
    if (m_data.size() == before)
        return !m_abortPending;
    Q_EMIT readyRead();
    return !m_abortPending;
}

size_t CurlReply::onRead(char *data, size_t size, size_t count, void *self)
{
    auto *reply = static_cast<CurlReply *>(self);
    if (reply->m_abortPending)
        return CURL_READFUNC_ABORT;
    if (!reply->m_body)
        return 0;
    const qint64 n = std::min(qint64(size * count), qint64(reply->m_body->size()) - reply->m_bodySent);
    if (n <= 0)
        return 0;
    std::memcpy(data, reply->m_body->constData() + reply->m_bodySent, size_t(n));
    reply->m_bodySent += n;
    return size_t(n);
}

int CurlReply::onSeek(void *self, curl_off_t offset, int origin)
{
    // libcurl rewinds a body to send it again on a fresh connection when a reused one died before
    // any answer: the service may have applied it already, so only an unread body may start over.
    auto *reply = static_cast<CurlReply *>(self);
    if (origin == SEEK_SET && offset == 0 && reply->m_bodySent == 0)
        return CURL_SEEKFUNC_OK;
    return CURL_SEEKFUNC_FAIL;
}

int CurlReply::onProgress(void *self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                          curl_off_t ulNow)
{
    auto *reply = static_cast<CurlReply *>(self);
    if (reply->m_abortPending || reply->m_refused)
        return 1;
    if (ulNow > 0 && ulNow != reply->m_upNow) {
        reply->m_upNow = ulNow;
        Q_EMIT reply->uploadProgress(ulNow, ulTotal);
    }
    if (dlNow > 0 && dlNow != reply->m_downNow) {
        reply->m_downNow = dlNow;
        Q_EMIT reply->downloadProgress(dlNow, dlTotal > 0 ? dlTotal : -1);
    }
    return reply->m_abortPending ? 1 : 0;
}

int CurlReply::onPrereq(void *self, char *peerIp, char *localIp, int peerPort, int localPort)
{
    // Called once a connection is open (TLS done) or reused, just before the request is written.
    auto *reply = static_cast<CurlReply *>(self);
    reply->m_left = true;
    if (reply->m_transport) {
        // Again on a fresh connection when a reused one was found dead before the request went out.
        CurlMultiDriver &driver = reply->m_transport->driver();
        driver.noteDone(std::exchange(reply->m_connection, {}));
        reply->m_connection = driver.noteBusy(localIp, localPort, peerIp, peerPort);
    }
    return CURL_PREREQFUNC_OK;
}

void CurlReply::ended(CURLcode code)
{
    if (!m_easy || isFinished())
        return;
    long opened = 0;
    curl_easy_getinfo(m_easy, CURLINFO_NUM_CONNECTS, &opened);
    if (m_transport)
        m_transport->noteConnections(opened);
    detach();
    conclude(code);
}

void CurlReply::conclude(CURLcode code)
{
    if (isFinished())
        return;
    detach();
    if (m_abortPending)
        return finishWith(QNetworkReply::OperationCanceledError, kCanceledText);
    if (m_refused)
        return finishWith(m_refused->first, m_refused->second);
    if (m_tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        m_tooLarge = true;
        return finishWith(QNetworkReply::UnknownNetworkError, kTooLargeText);
    }
    if (code != CURLE_OK) {
        const QString curlText =
            m_errorText[0] ? QString::fromUtf8(m_errorText) : QString::fromUtf8(curl_easy_strerror(code));
        return finishWith(networkErrorOfCurl(code), curlText);
    }
    if (!m_headDone)
        return finishWith(QNetworkReply::UnknownNetworkError, QStringLiteral("The server sent no answer."));
    if (attribute(QNetworkRequest::RedirectionTargetAttribute).isValid()) {
        // Followed once the owner allows it, now or later; until then the reply waits.
        if (m_redirectAllowed)
            followRedirect();
        return;
    }
    if (m_decoder.finish() != ContentDecoder::Outcome::Ok)
        return finishWith(networkErrorOfCurl(CURLE_PARTIAL_FILE),
                          QString::fromUtf8(curl_easy_strerror(CURLE_PARTIAL_FILE)));
    finishOk();
}

void CurlReply::followRedirect()
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
    setError(QNetworkReply::NoError, QString());
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, QVariant());
    setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, QVariant());
    setAttribute(QNetworkRequest::RedirectionTargetAttribute, QVariant());
    setUrl(target);
    start();
}

void CurlReply::detach()
{
    if (m_easy) {
        if (m_running && m_transport)
            m_transport->driver().remove(m_easy);
        curl_easy_cleanup(m_easy);
    }
    // After the removal, which closes a connection left in the middle of an answer.
    const CurlMultiDriver::Taken connection = std::exchange(m_connection, {});
    if (m_transport)
        m_transport->driver().noteDone(connection);
    m_running = false;
    m_easy = nullptr;
    curl_slist_free_all(m_headers);
    m_headers = nullptr;
}

void CurlReply::finishWith(QNetworkReply::NetworkError code, const QString &text)
{
    if (isFinished())
        return;
    detach();
    // A head read before the exchange failed answers nothing: with its status left, a failure whose
    // code sits above 200 (a body not sent again) would read as that status's success.
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, QVariant());
    setError(code, text);
    setFinished(true);
    Q_EMIT errorOccurred(code);
    Q_EMIT finished();
}

void CurlReply::finishOk()
{
    detach();
    setFinished(true);
    Q_EMIT finished();
}

void CurlReply::abort()
{
    if (isFinished())
        return;
    m_abortPending = true;
    // libcurl's handles cannot be removed from inside its callbacks: the callback refuses to go on
    // and the exchange ends once libcurl has returned.
    if (m_transport && m_transport->driver().isInCurl()) {
        m_transport->driver().afterCurl([self = QPointer<CurlReply>(this)] {
            if (self)
                self->abort();
        });
        return;
    }
    finishWith(QNetworkReply::OperationCanceledError, kCanceledText);
}
