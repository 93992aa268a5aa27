#include "api/api_client.h"
#include "api/curl_transport.h"
#include "platform/connectivity.h"
#include "support/task_outcome.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <zlib.h>

#include <deque>
#include <functional>
#include <memory>

namespace {

// How a raw server inside the test answers each request: scripted bytes, in one write or a byte at a
// time, optionally followed by an endless stream, then the connection kept, or closed.
struct Script {
    QList<QByteArray> answers; // by request, the last one repeated
    int dripMs = 0;            // one byte per this many milliseconds
    QByteArray flood;          // written again and again after the answer while the client reads
    bool closeAfter = false;
    bool hangUpOnSecond = false; // the second request is read, then the connection closed unanswered
    int idleCloseMs = 0;         // a connection idle this long after an answer is closed
};

Script answering(QList<QByteArray> answers, int dripMs = 0, QByteArray flood = {}, bool closeAfter = false)
{
    Script s;
    s.answers = std::move(answers);
    s.dripMs = dripMs;
    s.flood = std::move(flood);
    s.closeAfter = closeAfter;
    return s;
}

constexpr qint64 kFloodLimit = 400ll * 1024 * 1024;

class ScriptedServer : public QObject
{
public:
    Script script;
    QList<QByteArray> bodies; // of every request read, in order
    int connections = 0;
    int open = 0;
    qint64 written = 0; // bytes handed to the kernel, on loopback already at the client
    std::function<void(int, QTcpSocket *)> answered; // after the answer to request n was written

    bool listen()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                ++connections;
                ++open;
                connect(s, &QTcpSocket::disconnected, this, [this, s] {
                    --open;
                    s->deleteLater();
                });
                if (script.idleCloseMs > 0) {
                    // Stopped by a request, started again by its answer.
                    auto *idle = new QTimer(s);
                    idle->setObjectName(QStringLiteral("idle"));
                    idle->setSingleShot(true);
                    idle->setTimerType(Qt::PreciseTimer);
                    idle->setInterval(script.idleCloseMs);
                    connect(idle, &QTimer::timeout, s, &QTcpSocket::disconnectFromHost);
                    connect(s, &QTcpSocket::readyRead, idle, &QTimer::stop);
                }
                connect(s, &QTcpSocket::readyRead, this, [this, s] { onRead(s); });
                connect(s, &QTcpSocket::bytesWritten, this, [this](qint64 n) { written += n; });
            }
        });
        return m_server.listen(QHostAddress::LocalHost);
    }
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

private:
    void onRead(QTcpSocket *s)
    {
        QByteArray &in = m_in[s];
        in += s->readAll();
        while (true) {
            const qsizetype end = in.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            qsizetype length = 0;
            for (const QByteArray &line : in.left(end).split('\n')) {
                if (line.toLower().startsWith("content-length:"))
                    length = line.mid(15).trimmed().toLongLong();
            }
            if (in.size() < end + 4 + length)
                return;
            bodies.append(in.mid(end + 4, length));
            in.remove(0, end + 4 + length);
            answer(s, int(bodies.size()));
        }
    }

    void answer(QTcpSocket *s, int n)
    {
        if (script.hangUpOnSecond && n == 2) {
            s->abort();
            return;
        }
        const QByteArray bytes = script.answers.value(n - 1, script.answers.last());
        if (script.dripMs > 0) {
            auto *drip = new QTimer(s);
            connect(drip, &QTimer::timeout, s, [s, bytes, at = qsizetype(0)]() mutable {
                if (at < bytes.size())
                    s->write(bytes.mid(at++, 1));
            });
            drip->start(script.dripMs);
            return;
        }
        s->write(bytes);
        if (!script.flood.isEmpty()) {
            auto written = std::make_shared<qint64>(0);
            const auto topUp = [this, s, written] {
                while (s->bytesToWrite() < 1024 * 1024 && *written < kFloodLimit) {
                    s->write(script.flood);
                    *written += script.flood.size();
                }
            };
            connect(s, &QTcpSocket::bytesWritten, s, topUp);
            topUp();
        }
        if (script.closeAfter)
            s->disconnectFromHost();
        if (auto *idle = s->findChild<QTimer *>(QStringLiteral("idle")))
            idle->start();
        if (answered)
            answered(n, s);
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_in;
};

// A link that takes `delayMs` each way, as a network between the client and a ScriptedServer would:
// bytes and a close from either end reach the other end that much later, in order.
class DelayedLink : public QObject
{
public:
    DelayedLink(quint16 serverPort, int delayMs)
        : m_serverPort(serverPort)
        , m_delayMs(delayMs)
    {
        connect(&m_front, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *near = m_front.nextPendingConnection()) {
                auto *far = new QTcpSocket(near);
                far->connectToHost(QHostAddress::LocalHost, m_serverPort);
                carry(near, far);
                carry(far, near);
            }
        });
    }
    bool listen() { return m_front.listen(QHostAddress::LocalHost); }
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_front.serverPort()); }

private:
    // What `from` sends reaches `to` after the delay; an empty piece stands for the close.
    void carry(QTcpSocket *from, QTcpSocket *to)
    {
        auto *timer = new QTimer(to);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        auto queue = std::make_shared<std::deque<std::pair<qint64, QByteArray>>>();
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        connect(timer, &QTimer::timeout, to, [to, timer, queue, clock] {
            while (!queue->empty() && queue->front().first <= clock->elapsed()) {
                const QByteArray piece = std::move(queue->front().second);
                queue->pop_front();
                if (piece.isEmpty())
                    to->disconnectFromHost();
                else if (to->state() == QAbstractSocket::ConnectedState ||
                         to->state() == QAbstractSocket::ConnectingState)
                    to->write(piece);
            }
            if (!queue->empty())
                timer->start(int(std::max<qint64>(0, queue->front().first - clock->elapsed())));
        });
        const auto push = [this, timer, queue, clock](QByteArray piece) {
            queue->emplace_back(clock->elapsed() + m_delayMs, std::move(piece));
            if (!timer->isActive())
                timer->start(m_delayMs);
        };
        connect(from, &QTcpSocket::readyRead, to, [from, push] { push(from->readAll()); });
        connect(from, &QTcpSocket::disconnected, to, [push] { push(QByteArray()); });
    }

    QTcpServer m_front;
    quint16 m_serverPort;
    int m_delayMs;
};

// `data` compressed whole, in the format zlib's window bits name: 31 gzip, 15 zlib, -15 raw deflate.
QByteArray compressed(const QByteArray &data, int windowBits)
{
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out(int(deflateBound(&z, uLong(data.size()))) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const int result = deflate(&z, Z_FINISH);
    out.truncate(qsizetype(z.total_out));
    deflateEnd(&z);
    return result == Z_STREAM_END ? out : QByteArray();
}

QByteArray chunked(const QByteArray &data)
{
    return QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n0\r\n\r\n";
}

QByteArray ok(const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray head(const QByteArray &fields)
{
    return "HTTP/1.1 200 OK\r\n" + fields + "\r\n";
}

qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

constexpr auto kSilence = std::chrono::milliseconds(500);
constexpr auto kOverall = std::chrono::milliseconds(1500);

} // namespace

Q_DECLARE_METATYPE(Script)

class TestHostileAnswers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void hostileAnswerIsNetworkError_data();
    void hostileAnswerIsNetworkError();
    void laterCallsGetTheirOwnAnswer_data();
    void laterCallsGetTheirOwnAnswer();
    void bodyIsNeverSentTwice();
    void compressedAnswerEndsWhereItsFormatSays_data();
    void compressedAnswerEndsWhereItsFormatSays();
    void connectionIdleNearTheServersLimitIsNotReused();
    void answerComingInWhileAnotherCallStartsIsKept();
    void lineBreakInHeaderSendsNothing_data();
    void lineBreakInHeaderSendsNothing();

private:
    TaskOutcome<QByteArray> call(const QByteArray &body = "{}");

    Connectivity m_network;
    std::unique_ptr<ScriptedServer> m_server;
    std::unique_ptr<APIClient> m_client;
};

void TestHostileAnswers::init()
{
    m_server = std::make_unique<ScriptedServer>();
    QVERIFY(m_server->listen());
    m_client = std::make_unique<APIClient>(m_server->origin(), m_network);
    m_client->setTimeouts(kSilence, kOverall);
    m_client->setMaxReplyBytes(1024 * 1024);
}

TaskOutcome<QByteArray> TestHostileAnswers::call(const QByteArray &body)
{
    const JSONObject object{{QStringLiteral("n"), JSONValue(QString::fromLatin1(body))}};
    return runTask(m_client->requestData(QStringLiteral("POST"), QStringLiteral("/api/sync.php"),
                                         AnyEncodable(object), QStringLiteral("t")),
                   30000);
}

void TestHostileAnswers::hostileAnswerIsNetworkError_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    const auto row = [](const char *name, Script s, QNetworkReply::NetworkError e) {
        QTest::newRow(name) << s << e;
    };
    const auto says = [](QByteArray bytes) { return answering({std::move(bytes)}); };
    const auto U = QNetworkReply::UnknownNetworkError;
    const auto cut = QNetworkReply::RemoteHostClosedError; // a body that broke off

    QByteArray interims;
    for (int i = 0; i < 30000; ++i)
        interims += "HTTP/1.1 100 C\r\n\r\n";
    row("interim answer flood", says(interims + ok("{}")), U);
    QByteArray lines;
    for (int i = 0; i < 40000; ++i)
        lines += "X-A: b\r\n";
    row("40,000 header lines", says(head(lines + "Content-Length: 2\r\n") + "{}"), U);
    row("one huge header line",
        says(head("X-A: " + QByteArray(200000, 'a') + "\r\nContent-Length: 2\r\n") + "{}"), U);
    row("endless head",
        answering({"HTTP/1.1 200 OK\r\n"}, 0, QByteArray("X-Endless: header line\r\n").repeated(1000)), U);
    row("endless status line", answering({"HTTP/1.1 200 "}, 0, QByteArray(4096, 'O')), U);
    row("length 7, 7", says(head("Content-Length: 7, 7\r\n") + "{}     "), U);
    row("length abc", says(head("Content-Length: abc\r\n") + "{}"), U);
    row("negative length", says(head("Content-Length: -2\r\n") + "{}"), U);
    row("overflowing length", says(head("Content-Length: 99999999999999999999999\r\n") + "{}"),
        QNetworkReply::UnknownContentError);
    row("two lengths", says(head("Content-Length: 2\r\nContent-Length: 3\r\n") + "{} "), U);
    row("bad chunk size after data",
        says(head("Transfer-Encoding: chunked\r\n") + "2\r\n{}\r\nzz\r\n\r\n0\r\n\r\n"), cut);
    row("negative chunk size after data",
        says(head("Transfer-Encoding: chunked\r\n") + "2\r\n{}\r\n-5\r\n12345\r\n0\r\n\r\n"), cut);
    row("endless chunk size line",
        answering({head("Transfer-Encoding: chunked\r\n") + "2\r\n{}\r\n"}, 0, QByteArray(4096, '1')), cut);
    row("chunked body cut by the close",
        answering({head("Transfer-Encoding: chunked\r\n") + "2\r\n{}\r\n"}, 0, {}, true),
        QNetworkReply::RemoteHostClosedError);
    row("body shorter than its length", answering({head("Content-Length: 10\r\n") + "{}"}, 0, {}, true),
        QNetworkReply::RemoteHostClosedError);
    const auto tooLarge = QNetworkReply::UnknownContentError;
    row("declared length over the cap", says(head("Content-Length: 2000000\r\n") + "{}"), tooLarge);
    row("endless body to the close",
        answering({head("Connection: close\r\n") + "[1"}, 0, QByteArray(",1").repeated(2048)), tooLarge);
    row("endless chunked body",
        answering({head("Transfer-Encoding: chunked\r\n") + "2\r\n[1\r\n"}, 0,
                  QByteArray("2\r\n,1\r\n").repeated(1000)),
        tooLarge);
    row("garbage compressed body", says(head("Content-Encoding: gzip\r\nContent-Length: 4\r\n") + "abcd"), U);
    row("not HTTP", says("SSH-2.0-OpenSSH\r\n\r\n"), U);
    row("closed without an answer", answering({QByteArray()}, 0, {}, true),
        QNetworkReply::RemoteHostClosedError);
    row("slow drip of the body past the time-outs",
        answering({head("Content-Length: 100\r\n") + QByteArray(100, ' ')}, 20), QNetworkReply::TimeoutError);
    row("slow drip of the head past the time-outs", answering({head(QByteArray(200, 'x'))}, 20),
        QNetworkReply::TimeoutError);
    const QByteArray moved = "HTTP/1.1 307 Moved\r\nContent-Length: 0\r\nLocation: ";
    row("redirect to another origin", says(moved + "http://localhost:1/api/sync.php\r\n\r\n"),
        QNetworkReply::InsecureRedirectError);
    row("redirect to a file", says(moved + "file:///etc/passwd\r\n\r\n"),
        QNetworkReply::InsecureRedirectError);
}

void TestHostileAnswers::hostileAnswerIsNetworkError()
{
    QFETCH(Script, script);
    QFETCH(QNetworkReply::NetworkError, error);
    m_server->script = script;
    const qint64 before = residentBytes();
    QElapsedTimer clock;
    clock.start();
    const auto out = call();
    QVERIFY(out.finished);
    const auto e = out.apiError();
    QVERIFY2(e, out.ok() ? out.value->constData() : qPrintable(out.errorText()));
    QCOMPARE(int(e->kind()), int(APIError::Kind::Network));
    QVERIFY2(e->networkError() == error,
             qPrintable(QStringLiteral("%1: %2").arg(int(e->networkError())).arg(e->errorDescription())));
    QVERIFY(!e->errorDescription().isEmpty());
    // The overall limit, with room for a loaded machine.
    QVERIFY2(clock.elapsed() < kOverall.count() + 5000, qPrintable(QString::number(clock.elapsed())));
    const qint64 grown = residentBytes() - before;
    QVERIFY2(grown < 150 * 1024 * 1024, qPrintable(QString::number(grown)));
    // A redirect elsewhere is not followed anywhere.
    QCOMPARE(m_server->bodies.size(), 1);
}

void TestHostileAnswers::laterCallsGetTheirOwnAnswer_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<int>("connections"); // -1: either one or two
    const QList<QByteArray> numbered{ok(R"({"n":1})"), ok(R"({"n":2})")};
    QTest::newRow("kept connection") << answering(numbered) << 1;
    QTest::newRow("bytes after an answer")
        << answering({ok(R"({"n":1})") + ok(R"({"n":666})"), ok(R"({"n":2})")}) << -1;
    QTest::newRow("data on an idle connection")
        << answering(numbered, 0, QByteArray("HTTP/1.1 200 OK\r\n").repeated(1000)) << 2;
    QTest::newRow("closed while idle") << answering(numbered, 0, {}, true) << 2;
}

void TestHostileAnswers::laterCallsGetTheirOwnAnswer()
{
    QFETCH(Script, script);
    QFETCH(int, connections);
    m_server->script = script;
    const auto first = call("1");
    QVERIFY2(first.ok(), qPrintable(first.errorText()));
    QCOMPARE(*first.value, QByteArray(R"({"n":1})"));
    if (script.closeAfter)
        QTRY_COMPARE(m_server->open, 0);
    else
        QTRY_VERIFY(m_server->written >= script.answers.first().size() + script.flood.size());
    const auto second = call("2");
    QVERIFY2(second.ok(), qPrintable(second.errorText()));
    QCOMPARE(*second.value, QByteArray(R"({"n":2})"));
    QCOMPARE(m_server->bodies.size(), 2);
    QCOMPARE(m_client->serviceTransport().connectionsOpened(), m_server->connections);
    if (connections >= 0)
        QCOMPARE(m_server->connections, connections);
}

void TestHostileAnswers::bodyIsNeverSentTwice()
{
    // The second request reaches the server on the kept connection, which then closes unanswered:
    // it may have been applied, so it is not sent again.
    m_server->script = answering({ok("{}")});
    m_server->script.hangUpOnSecond = true;
    QVERIFY(call("1").ok());
    const auto out = call("2");
    const auto e = out.apiError();
    QVERIFY(e);
    QCOMPARE(int(e->kind()), int(APIError::Kind::Network));
    QCOMPARE(e->networkError(), QNetworkReply::ContentReSendError);
    QCOMPARE(e->errorDescription(), QStringLiteral("The connection closed before the server answered."));
    QVERIFY(e->mayHaveLeft());
    QCOMPARE(m_server->bodies.size(), 2);
}

void TestHostileAnswers::compressedAnswerEndsWhereItsFormatSays_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<QByteArray>("body");                   // what a success reads
    QTest::addColumn<QNetworkReply::NetworkError>("error"); // NoError: it succeeds

    QByteArray json = "[";
    for (int i = 0; i < 400; ++i)
        json += "{\"id\":" + QByteArray::number(i * 7919 % 100003) + ",\"title\":\"page " +
                QByteArray::number(i) + "\"},";
    json.back() = ']';
    const QByteArray gzip = compressed(json, 31);
    const QByteArray zlib = compressed(json, 15);
    const QByteArray raw = compressed(json, -15);
    QVERIFY(!gzip.isEmpty() && !zlib.isEmpty() && !raw.isEmpty());
    const auto sized = [](const QByteArray &coding, const QByteArray &body) {
        return head("Content-Encoding: " + coding + "\r\nContent-Length: " + QByteArray::number(body.size()) +
                    "\r\n") +
               body;
    };
    const auto row = [&json](const char *name, Script s, QNetworkReply::NetworkError e) {
        QTest::newRow(name) << s << json << e;
    };
    const auto none = QNetworkReply::NoError;
    const auto cut = QNetworkReply::RemoteHostClosedError;
    const auto bad = QNetworkReply::UnknownNetworkError;
    const qsizetype half = gzip.size() / 2;

    row("gzip", answering({sized("gzip", gzip)}), none);
    row("x-gzip", answering({sized("x-gzip", gzip)}), none);
    row("gzip in chunks",
        answering({head("Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n") + chunked(gzip)}), none);
    row("gzip to the close", answering({head("Content-Encoding: gzip\r\n") + gzip}, 0, {}, true), none);
    row("deflate with its zlib wrapper", answering({sized("deflate", zlib)}), none);
    row("raw deflate", answering({sized("deflate", raw)}), none);

    row("gzip cut by the close",
        answering({head("Content-Encoding: gzip\r\n") + gzip.left(half)}, 0, {}, true), cut);
    row("gzip cut, with the cut's length", answering({sized("gzip", gzip.left(half))}), cut);
    row("gzip cut inside whole chunks",
        answering(
            {head("Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n") + chunked(gzip.left(half))}),
        cut);
    row("gzip without its trailer", answering({sized("gzip", gzip.chopped(8))}), cut);
    row("gzip without its length", answering({sized("gzip", gzip.chopped(4))}), cut);
    row("deflate cut by the close",
        answering({head("Content-Encoding: deflate\r\n") + zlib.left(zlib.size() / 2)}, 0, {}, true), cut);
    row("deflate without its checksum", answering({sized("deflate", zlib.chopped(4))}), cut);
    row("raw deflate cut", answering({sized("deflate", raw.left(raw.size() / 2))}), cut);

    QByteArray wrongCrc = gzip;
    wrongCrc[gzip.size() - 8] = char(wrongCrc[gzip.size() - 8] ^ 1);
    row("gzip with a wrong checksum", answering({sized("gzip", wrongCrc)}), bad);
    QByteArray wrongSize = gzip;
    wrongSize[gzip.size() - 4] = char(wrongSize[gzip.size() - 4] ^ 1);
    row("gzip with a wrong length", answering({sized("gzip", wrongSize)}), bad);
    row("bytes after the gzip stream", answering({sized("gzip", gzip + "[1]")}), bad);
    row("bytes after the deflate stream", answering({sized("deflate", zlib + "[1]")}), bad);
    QByteArray wrongAdler = zlib;
    wrongAdler.back() = char(wrongAdler.back() ^ 1);
    row("deflate with a wrong checksum", answering({sized("deflate", wrongAdler)}), bad);
    row("unknown coding", answering({sized("zz", json)}), bad);

    // The cap counts what the body decodes to.
    const QByteArray atCap(1024 * 1024, ' ');
    QTest::newRow("gzip that decodes to the cap")
        << answering({sized("gzip", compressed(atCap, 31))}) << atCap << none;
    QTest::newRow("gzip that decodes past the cap")
        << answering({sized("gzip", compressed(QByteArray(2 * 1024 * 1024, ' '), 31))}) << QByteArray()
        << QNetworkReply::UnknownContentError;
}

void TestHostileAnswers::compressedAnswerEndsWhereItsFormatSays()
{
    QFETCH(Script, script);
    QFETCH(QByteArray, body);
    QFETCH(QNetworkReply::NetworkError, error);
    m_server->script = script;
    const auto out = call();
    QVERIFY(out.finished);
    if (error == QNetworkReply::NoError) {
        QVERIFY2(out.ok(), qPrintable(out.errorText()));
        QCOMPARE(*out.value, body);
        return;
    }
    const auto e = out.apiError();
    QVERIFY2(e, out.ok() ? qPrintable(QStringLiteral("ok, %1 bytes").arg(out.value->size()))
                         : qPrintable(out.errorText()));
    QCOMPARE(int(e->kind()), int(APIError::Kind::Network));
    QVERIFY2(e->networkError() == error,
             qPrintable(QStringLiteral("%1: %2").arg(int(e->networkError())).arg(e->errorDescription())));
    QVERIFY(e->mayHaveLeft());
}

void TestHostileAnswers::connectionIdleNearTheServersLimitIsNotReused()
{
    // The server drops a connection 5 s after its answer, as many do; 200 ms each way, its close
    // reaches the client 5 s after the client read the answer. A request written 4.75 s after
    // that on the kept connection would reach the server after the close, unanswered.
    constexpr int kDelayMs = 200;
    m_server->script = answering({ok(R"({"n":1})"), ok(R"({"n":2})")});
    m_server->script.idleCloseMs = 5000;
    DelayedLink link(quint16(m_server->origin().section(QLatin1Char(':'), -1).toUShort()), kDelayMs);
    QVERIFY(link.listen());
    APIClient client(link.origin(), m_network);
    const auto post = [&client](const char *n) {
        const JSONObject object{{QStringLiteral("n"), JSONValue(QString::fromLatin1(n))}};
        return runTask(client.requestData(QStringLiteral("POST"), QStringLiteral("/api/sync.php"),
                                          AnyEncodable(object), QStringLiteral("t")),
                       30000);
    };
    const auto first = post("1");
    QVERIFY2(first.ok(), qPrintable(first.errorText()));
    QTest::qWait(4750);
    const auto second = post("2");
    QVERIFY2(second.ok(), qPrintable(second.errorText()));
    QCOMPARE(*second.value, QByteArray(R"({"n":2})"));
    QCOMPARE(m_server->connections, 2);
}

void TestHostileAnswers::answerComingInWhileAnotherCallStartsIsKept()
{
    // The second call reuses the first one's connection; a third starts while the first part of the
    // second's answer waits unread on it. That connection is busy, not stale.
    m_server->script =
        answering({ok(R"({"n":1})"), head("Content-Length: 7\r\n") + R"({"n")", ok(R"({"n":3})")});
    std::optional<QCoro::Task<QByteArray>> third;
    m_server->answered = [this, &third](int n, QTcpSocket *s) {
        if (n != 2)
            return;
        s->flush();
        const JSONObject object{{QStringLiteral("n"), JSONValue(QStringLiteral("3"))}};
        third.emplace(m_client->requestData(QStringLiteral("POST"), QStringLiteral("/api/sync.php"),
                                            AnyEncodable(object), QStringLiteral("t")));
        s->write(":2}");
    };
    QVERIFY(call("1").ok());
    const auto second = call("2");
    QVERIFY2(second.ok(), qPrintable(second.errorText()));
    QCOMPARE(*second.value, QByteArray(R"({"n":2})"));
    QVERIFY(third);
    const auto out = runTask(std::move(*third), 30000);
    QVERIFY2(out.ok(), qPrintable(out.errorText()));
    QCOMPARE(*out.value, QByteArray(R"({"n":3})"));
    QCOMPARE(m_server->connections, 2);
}

void TestHostileAnswers::lineBreakInHeaderSendsNothing_data()
{
    QTest::addColumn<QString>("token");
    QTest::newRow("CR LF") << QStringLiteral("t\r\nX-Injected: 1");
    QTest::newRow("LF") << QStringLiteral("t\nGET / HTTP/1.1");
    QTest::newRow("CR") << QStringLiteral("t\r");
}

void TestHostileAnswers::lineBreakInHeaderSendsNothing()
{
    QFETCH(QString, token);
    m_server->script = answering({ok("{}")});
    const auto out = runTask(
        m_client->requestData(QStringLiteral("GET"), QStringLiteral("/api/sync.php"), std::nullopt, token));
    const auto e = out.apiError();
    QVERIFY(e);
    QCOMPARE(int(e->kind()), int(APIError::Kind::Other));
    QCOMPARE(e->errorDescription(),
             QStringLiteral("A request header held a line break, so the request was not sent."));
    QTest::qWait(50);
    QCOMPARE(m_server->connections, 0);
}

QTEST_GUILESS_MAIN(TestHostileAnswers)
#include "tst_hostile_answers.moc"
