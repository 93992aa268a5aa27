#include "api/api_client.h"
#include "api/curl_reply.h"
#include "api/wire/auth.h"
#include "api/wire/blocks.h"
#include "api/wire/library.h"
#include "api/wire/pages.h"
#include "api/wire/sync.h"
#include "json/json_coder.h"
#include "platform/connectivity.h"

#include <QCoreApplication>
#include <QCoroTask>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// What the client makes of any answer from the service, through the reply's own handling of what
// libcurl hands it: header lines (status, lengths against the size cap, redirects and the check of
// where they go), body pieces and the end of the transfer; then the error mapping, the service clock
// from the Date header and the JSON decode, as a call does them.
//
// An input is two bytes of choices, then the head as the server sent it, then body pieces, each
// section ending at "~~~\n". The first byte: bit 0 POST (else GET), bit 1 a cap of 1 KB (else the
// real one), bits 2-3 the reply type; the second: how the transfer ends (kEndings).
namespace {

const QString kOrigin = QStringLiteral("http://service.test:8080");
constexpr qint64 kSmallCap = 1024;
constexpr QByteArrayView kSeparator("~~~\n");

constexpr std::array kEndings{CURLE_OK,
                              CURLE_OK,
                              CURLE_PARTIAL_FILE,
                              CURLE_RECV_ERROR,
                              CURLE_GOT_NOTHING,
                              CURLE_WRITE_ERROR,
                              CURLE_OPERATION_TIMEDOUT,
                              CURLE_SEND_FAIL_REWIND,
                              CURLE_FILESIZE_EXCEEDED,
                              CURLE_WEIRD_SERVER_REPLY,
                              CURLE_BAD_CONTENT_ENCODING,
                              CURLE_ABORTED_BY_CALLBACK};

[[noreturn]] void finding(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "finding: %s %s\n", what, qPrintable(detail));
    std::abort();
}

struct World {
    World()
        : app(argc, argv)
        , client(kOrigin, connectivity)
    {
    }
    int argc = 1;
    char name[16] = "fuzz";
    char *argv[2] = {name, nullptr};
    QCoreApplication app;
    Connectivity connectivity;
    APIClient client;
};

World &world()
{
    static World w;
    return w;
}

// The status libcurl reads from a status line: three digits after "HTTP/<version> ".
long statusOf(const QByteArray &line, long before)
{
    if (!line.startsWith("HTTP/"))
        return before;
    const qsizetype space = line.indexOf(' ');
    if (space < 0 || line.size() < space + 4)
        return before;
    long status = 0;
    for (qsizetype i = space + 1; i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return before;
        status = status * 10 + (line[i] - '0');
    }
    return status;
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    return a.scheme() == b.scheme() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(80) == b.port(80);
}

QCoro::Task<> sendAndKeep(APIClient &client, QNetworkReply *reply, bool &done)
{
    auto owned = co_await client.send(reply);
    // The harness deletes it once it has been read.
    owned.release();
    done = true;
}

template <typename Resp>
void decode(const QByteArray &body)
{
    try {
        sharedJSONDecode<Resp>(body);
    } catch (const DecodeError &e) {
        // As APIClient::request turns it into the caller's error.
        if (APIError::decoding(e.message()).errorDescription().isEmpty())
            finding("a decoding error without words");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    World &w = world();
    const uint8_t choices = data[0];
    const CURLcode ending = kEndings[data[1] % kEndings.size()];
    const QByteArray rest =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    QList<QByteArray> sections;
    for (qsizetype at = 0; at <= rest.size();) {
        qsizetype end = rest.indexOf(kSeparator, at);
        if (end < 0)
            end = rest.size();
        sections.append(rest.mid(at, end - at));
        at = end + kSeparator.size();
    }
    const qint64 cap = choices & 2 ? kSmallCap : APIClient::kMaxReplyBytes;
    w.client.setMaxReplyBytes(cap);

    // Built as requestData builds a call.
    const QUrl first(kOrigin + QStringLiteral("/api/call.php"));
    QNetworkRequest request(first);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("Accept", "application/json");
    CurlReply *reply = CurlReply::unsent(w.client.serviceTransport(), request, choices & 1 ? "POST" : "GET");
    bool done = false;
    QCoro::Task<> call = sendAndKeep(w.client, reply, done);

    // libcurl hands the head over line by line, and the body only once a final head is in.
    bool stopped = false;
    long status = 0;
    long headStatus = 0; // as the final head ended; later status lines are trailers
    const QByteArray &head = sections.front();
    for (qsizetype at = 0; at < head.size() && !stopped && !reply->isFinished();) {
        qsizetype end = head.indexOf('\n', at);
        end = end < 0 ? head.size() : end + 1;
        const QByteArray line = head.mid(at, end - at);
        status = statusOf(line, status);
        stopped = !reply->takeHeader(line, status);
        if (!headStatus && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
            headStatus = status;
        at = end;
    }
    const bool headIn = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    QByteArray fed;
    for (qsizetype i = 1; i < sections.size() && headIn && !stopped && !reply->isFinished(); ++i) {
        stopped = !reply->takeBody(sections[i]);
        if (!stopped)
            fed += sections[i];
    }
    const CURLcode code = stopped ? CURLE_WRITE_ERROR : ending;
    if (!reply->isFinished()) {
        const QVariant target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
        if (target.isValid()) {
            // Not refused, so allowed: only ever within the service's origin.
            if (!sameOrigin(target.toUrl(), first))
                finding("a redirect elsewhere was allowed:", target.toUrl().toString());
            // Following it would start a real transfer: the caller gives up instead.
            reply->abort();
        } else {
            reply->conclude(code);
        }
    }
    if (!reply->isFinished() || !done)
        finding("the call never ended");

    w.client.noteServiceClock(reply);
    try {
        const QByteArray body = APIClient::successBody(reply);
        if (code != CURLE_OK || stopped)
            finding("a broken transfer passed for a success");
        if (headStatus < 200 || headStatus > 299 ||
            reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != headStatus)
            finding("a success without the head's 2xx status:", QString::number(headStatus));
        if (body != fed)
            finding("the body read is not the body sent");
        if (body.size() > cap)
            finding("a body over the cap was read");
        switch ((choices >> 2) & 3) {
        case 0:
            decode<AuthResp>(body);
            break;
        case 1:
            decode<SyncResp>(body);
            break;
        case 2:
            decode<PagesResp>(body);
            break;
        default:
            decode<BlocksResp>(body);
            break;
        }
    } catch (const APIError &e) {
        if (e.errorDescription().isEmpty())
            finding("an error without words");
    }
    delete reply;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
