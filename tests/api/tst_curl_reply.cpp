#include "api/api_client.h"
#include "api/curl_reply.h"
#include "platform/connectivity.h"

#include <QCoroTask>
#include <QDateTime>
#include <QTest>

// What a reply makes of an answer as libcurl hands it over (header lines with the status read so far,
// body pieces, the end of the transfer), and what the caller then reads from it: the body of a
// success, or the error.
class TestCurlReply : public QObject
{
    Q_OBJECT

private:
    const QString m_origin = QStringLiteral("http://service.test:8080");

    static QCoro::Task<> sendAndKeep(APIClient &client, QNetworkReply *reply, bool &done)
    {
        auto owned = co_await client.send(reply);
        owned.release();
        done = true;
    }

    // The outcome in a few words: "ok <body>", "http <status>" or "network <code>: <text>".
    static QString outcomeOf(QNetworkReply *reply)
    {
        try {
            return QStringLiteral("ok ") + QString::fromUtf8(APIClient::successBody(reply));
        } catch (const APIError &e) {
            if (e.kind() == APIError::Kind::Http)
                return QStringLiteral("http %1").arg(e.status());
            return QStringLiteral("network %1: %2").arg(int(e.networkError())).arg(e.errorDescription());
        }
    }

    // Feeds `head` line by line and then `pieces`, stopping where the reply refuses, and ends the
    // transfer with `code` (or the write error libcurl reports after a refusal).
    static void feed(CurlReply *reply, const QByteArray &head, const QList<QByteArray> &pieces, CURLcode code)
    {
        long status = 0;
        bool stopped = false;
        for (const QByteArray &line : head.split('\n')) {
            if (line.isEmpty() || stopped || reply->isFinished())
                continue;
            if (line.startsWith("HTTP/"))
                status = line.mid(line.indexOf(' ') + 1, 3).toLong();
            stopped = !reply->takeHeader(line + '\n', status);
        }
        for (const QByteArray &piece : pieces) {
            if (!stopped && !reply->isFinished())
                stopped = !reply->takeBody(piece);
        }
        if (!reply->isFinished())
            reply->conclude(stopped ? CURLE_WRITE_ERROR : code);
    }

private Q_SLOTS:
    void answer_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<int>("code");
        QTest::addColumn<qint64>("cap");
        QTest::addColumn<QString>("outcome");

        const int ok = CURLE_OK;
        const qint64 big = APIClient::kMaxReplyBytes;
        const QString tooLarge =
            QStringLiteral("network %1: The service's reply was too large, so it was not read.")
                .arg(int(QNetworkReply::UnknownContentError));
        const QString badLength = QStringLiteral("network %1: The server's answer had an unreadable length.")
                                      .arg(int(QNetworkReply::UnknownNetworkError));

        QTest::newRow("a body in pieces")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\n")
            << QList<QByteArray>{"{\"a\"", ":1}"} << ok << big << QStringLiteral("ok {\"a\":1}");
        QTest::newRow("a body longer than the length it declared")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n") << QList<QByteArray>{"[1,", "2]"}
            << ok << big << QStringLiteral("ok [1,2]");
        QTest::newRow("a declared length past the room set aside for it")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: ") +
                   QByteArray::number(CurlReply::kMaxReservedBody + 1) + "\r\n\r\n"
            << QList<QByteArray>{"[", QByteArray(int(CurlReply::kMaxReservedBody) - 1, '1'), "]"} << ok << big
            << QStringLiteral("ok [") + QString(int(CurlReply::kMaxReservedBody) - 1, QLatin1Char('1')) +
                   QStringLiteral("]");
        QTest::newRow("interim answers, then the real one")
            << QByteArray(
                   "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\n\r\nHTTP/1.1 201 Created\r\n\r\n")
            << QList<QByteArray>{"{}"} << ok << big << QStringLiteral("ok {}");
        QTest::newRow("HTTP/2 with lower-case names")
            << QByteArray("HTTP/2 200 \r\ncontent-length: 2\r\n\r\n") << QList<QByteArray>{"[]"} << ok << big
            << QStringLiteral("ok []");
        QTest::newRow("a refusal carries its status")
            << QByteArray("HTTP/1.1 409 Conflict\r\nContent-Length: 2\r\n\r\n") << QList<QByteArray>{"{}"}
            << ok << big << QStringLiteral("http 409");
        QTest::newRow("the same length twice")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\ncontent-length: 2\r\n\r\n")
            << QList<QByteArray>{"{}"} << ok << big << badLength;
        QTest::newRow("a list of lengths") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2, 2\r\n\r\n")
                                           << QList<QByteArray>{"{}"} << ok << big << badLength;
        QTest::newRow("a negative length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n")
                                           << QList<QByteArray>{} << ok << big << badLength;
        QTest::newRow("a length that overflows")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n")
            << QList<QByteArray>{} << ok << big << badLength;
        QTest::newRow("a declared length over the cap")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 67108865\r\n\r\n") << QList<QByteArray>{"{}"}
            << ok << big << tooLarge;
        QTest::newRow("a declared length at the cap")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n") << QList<QByteArray>{"[01]"} << ok
            << qint64(4) << QStringLiteral("ok [01]");
        QTest::newRow("a streamed body past the cap")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
            << QList<QByteArray>{"[0,", "1]"} << ok << qint64(4) << tooLarge;
        QTest::newRow("libcurl's own size refusal")
            << QByteArray("HTTP/1.1 200 OK\r\n\r\n") << QList<QByteArray>{} << int(CURLE_FILESIZE_EXCEEDED)
            << big << tooLarge;
        QTest::newRow("a body cut short after a 2xx")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n") << QList<QByteArray>{"{\"a\""}
            << int(CURLE_PARTIAL_FILE) << big
            << QStringLiteral("network %1: ").arg(int(QNetworkReply::RemoteHostClosedError));
        QTest::newRow("a head that never ended")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n") << QList<QByteArray>{} << ok << big
            << QStringLiteral("network %1: The server sent no answer.")
                   .arg(int(QNetworkReply::UnknownNetworkError));
        QTest::newRow("a body the service may have applied, not sent again")
            << QByteArray() << QList<QByteArray>{} << int(CURLE_SEND_FAIL_REWIND) << big
            << QStringLiteral("network %1: The connection closed before the server answered.")
                   .arg(int(QNetworkReply::ContentReSendError));
        QTest::newRow("a body not sent again after a head came")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n") << QList<QByteArray>{"{}"}
            << int(CURLE_SEND_FAIL_REWIND) << big
            << QStringLiteral("network %1: The connection closed before the server answered.")
                   .arg(int(QNetworkReply::ContentReSendError));
        QTest::newRow("a redirect to another origin")
            << QByteArray("HTTP/1.1 302 Found\r\nLocation: http://elsewhere.test:8080/api/call.php\r\n\r\n")
            << QList<QByteArray>{"moved"} << ok << big
            << QStringLiteral(
                   "network %1: The service sent the request to another address; it was not followed.")
                   .arg(int(QNetworkReply::InsecureRedirectError));
        QTest::newRow("a redirect to another port")
            << QByteArray("HTTP/1.1 307 Temporary Redirect\r\nLocation: //service.test:9090/x\r\n\r\n")
            << QList<QByteArray>{} << ok << big
            << QStringLiteral(
                   "network %1: The service sent the request to another address; it was not followed.")
                   .arg(int(QNetworkReply::InsecureRedirectError));
        QTest::newRow("a redirect to a file")
            << QByteArray("HTTP/1.1 301 Moved Permanently\r\nLocation: file:///etc/passwd\r\n\r\n")
            << QList<QByteArray>{} << ok << big
            << QStringLiteral(
                   "network %1: The service sent the request to another address; it was not followed.")
                   .arg(int(QNetworkReply::InsecureRedirectError));
    }

    void answer()
    {
        QFETCH(QByteArray, head);
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(int, code);
        QFETCH(qint64, cap);
        QFETCH(QString, outcome);

        Connectivity connectivity;
        APIClient client(m_origin, connectivity);
        client.setMaxReplyBytes(cap);
        QNetworkRequest request(QUrl(m_origin + QStringLiteral("/api/call.php")));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::UserVerifiedRedirectPolicy);
        std::unique_ptr<CurlReply> reply(CurlReply::unsent(client.serviceTransport(), request, "POST"));
        bool done = false;
        QCoro::Task<> call = sendAndKeep(client, reply.get(), done);
        feed(reply.get(), head, pieces, CURLcode(code));

        QVERIFY(done);
        // libcurl's own words for its errors are its to change: only ours are compared whole.
        const QString actual = outcomeOf(reply.get());
        QVERIFY2(outcome.endsWith(QLatin1String(": ")) ? actual.startsWith(outcome) : actual == outcome,
                 qPrintable(actual));
    }

    // What the caller read already stays read: the rest is handed over once.
    void takeAllHandsOverWhatIsLeft()
    {
        Connectivity connectivity;
        APIClient client(m_origin, connectivity);
        QNetworkRequest request(QUrl(m_origin + QStringLiteral("/api/call.php")));
        std::unique_ptr<CurlReply> reply(CurlReply::unsent(client.serviceTransport(), request, "GET"));
        feed(reply.get(), "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n", {"01234", "56789"}, CURLE_OK);
        QCOMPARE(reply->read(3), QByteArray("012"));
        QCOMPARE(reply->takeAll(), QByteArray("3456789"));
        QCOMPARE(reply->bytesAvailable(), 0);
        QCOMPARE(reply->takeAll(), QByteArray());
    }

    // A redirect within the origin waits for the caller's word with the target resolved against the
    // request; the fields of the answer before it are not the reply's.
    void sameOriginRedirectWaits()
    {
        Connectivity connectivity;
        APIClient client(m_origin, connectivity);
        QNetworkRequest request(QUrl(m_origin + QStringLiteral("/api/call.php")));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::UserVerifiedRedirectPolicy);
        std::unique_ptr<CurlReply> reply(CurlReply::unsent(client.serviceTransport(), request, "GET"));
        bool done = false;
        QCoro::Task<> call = sendAndKeep(client, reply.get(), done);
        QVERIFY(reply->takeHeader("HTTP/1.1 307 Temporary Redirect\r\n", 307));
        QVERIFY(reply->takeHeader("Location: other.php?x=1\r\n", 307));
        QVERIFY(reply->takeHeader("\r\n", 307));
        QVERIFY(reply->takeBody("moved"));

        QVERIFY(!reply->isFinished());
        QCOMPARE(reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl(),
                 QUrl(m_origin + QStringLiteral("/api/other.php?x=1")));
        QCOMPARE(reply->bytesAvailable(), 0);
        reply->abort();
        QVERIFY(done);
    }

    // Repeated fields reach the caller joined, in order; trailers after the head change nothing.
    void fieldsOfTheFinalHead()
    {
        Connectivity connectivity;
        APIClient client(m_origin, connectivity);
        QNetworkRequest request(QUrl(m_origin + QStringLiteral("/api/call.php")));
        std::unique_ptr<CurlReply> reply(CurlReply::unsent(client.serviceTransport(), request, "GET"));
        bool done = false;
        QCoro::Task<> call = sendAndKeep(client, reply.get(), done);
        feed(reply.get(),
             "HTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\nHTTP/1.1 200 All Fine Here\r\nX-Tag: a\r\n"
             "X-Tag:  b \r\nDate: Mon, 07 Dec 2026 22:00:00 GMT\r\n\r\nX-Tag: trailer\r\n",
             {"{}"}, CURLE_OK);

        QVERIFY(done);
        QCOMPARE(reply->rawHeader("X-Tag"), QByteArray("a, b"));
        QVERIFY(!reply->hasRawHeader("Link"));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString(),
                 QStringLiteral("All Fine Here"));
        client.noteServiceClock(reply.get());
        const qint64 expected = QDateTime::currentDateTimeUtc().msecsTo(
            QDateTime(QDate(2026, 12, 7), QTime(22, 0, 0, 500), Qt::UTC));
        QVERIFY2(qAbs(client.serviceClockOffsetMs() - expected) < 60000,
                 qPrintable(QString::number(client.serviceClockOffsetMs())));
        QCOMPARE(outcomeOf(reply.get()), QStringLiteral("ok {}"));
    }
};

QTEST_GUILESS_MAIN(TestCurlReply)
#include "tst_curl_reply.moc"
