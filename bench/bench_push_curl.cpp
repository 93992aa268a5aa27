// A push of 1,000 queued page updates against a curl loop of the same 1,000 requests, sent one after
// another over one kept-alive connection to the same fake service in the same run. Needs the curl
// command line. Run a Release build: bench_push_curl [rounds]
#include "api/api_client.h"
#include "api/wire/pages.h"
#include "bench_service_thread.h"
#include "bench_stats.h"
#include "json/json_coder.h"
#include "support/test_device.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

int fail(int line)
{
    std::fprintf(stderr, "failed at line %d\n", line);
    return 1;
}

constexpr int kPushed = 1000;

PagePatchReq patchOf(int round, int i)
{
    PagePatchReq patch;
    patch.title = QStringLiteral("Title %1 of round %2").arg(i).arg(round);
    return patch;
}

QByteArray quoted(const QByteArray &s)
{
    QByteArray out = s;
    out.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + out + '"';
}

// A curl config of the push's requests as the app sends them: method, path, headers and body.
QByteArray curlConfig(const QString &origin, const QString &token, qint64 pageID, int round)
{
    QByteArray config;
    for (int i = 0; i < kPushed; ++i) {
        PagePatchReq patch = patchOf(round, i);
        patch.page_id = pageID;
        if (i)
            config += "next\n";
        config += "url = " + quoted((origin + QStringLiteral("/api/pages.php")).toUtf8()) + '\n';
        config += "request = \"PATCH\"\n";
        config += "header = \"Content-Type: application/json\"\n";
        config += "header = \"Accept: application/json\"\n";
        config += "header = " + quoted(QByteArray("User-Agent: ") + APIClient::kUserAgent) + '\n';
        config += "header = " + quoted("Authorization: Bearer " + token.toUtf8()) + '\n';
        config += "data-binary = " + quoted(sharedJSONEncode(patch)) + '\n';
        config += "output = \"/dev/null\"\nsilent\nfail\n";
    }
    return config;
}

// The same requests through a bare QNetworkAccessManager, one after another: what Qt's own
// transport costs, which the service's JSON calls no longer go through.
double bareManagerLoop(const QString &origin, const QString &token, qint64 pageID, int round)
{
    QNetworkAccessManager manager;
    QElapsedTimer t;
    t.start();

    for (int i = 0; i < kPushed; ++i) {
        PagePatchReq patch = patchOf(round, i);
        patch.page_id = pageID;
        QNetworkRequest request(QUrl(origin + QStringLiteral("/api/pages.php")));
        request.setRawHeader("Content-Type", "application/json");
        request.setRawHeader("Accept", "application/json");
        request.setRawHeader("User-Agent", APIClient::kUserAgent);
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        QNetworkReply *reply = manager.sendCustomRequest(request, "PATCH", sharedJSONEncode(patch));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        reply->readAll();
        delete reply;
    }
    return t.nsecsElapsed() / 1e6;
}

// The same requests written by hand on a QTcpSocket on this thread, each sent when the previous
// answer has been read: what Qt's event loop and sockets cost without QNetworkAccessManager, whose
// HTTP thread reads each answer's status line and headers one byte per system call.
double socketLoop(const QString &origin, const QString &token, qint64 pageID, int round)
{
    const QUrl url(origin);
    QTcpSocket socket;
    socket.connectToHost(url.host(), quint16(url.port()));
    if (!socket.waitForConnected(5000))
        return -1;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const QByteArray head = "Host: " + url.authority().toUtf8() +
                            "\r\nContent-Type: application/json\r\nAccept: application/json\r\nUser-Agent: " +
                            APIClient::kUserAgent + "\r\nAuthorization: Bearer " + token.toUtf8() + "\r\n";
    int sent = 0, answered = 0;
    QByteArray buffer;
    QEventLoop loop;
    const auto send = [&] {
        PagePatchReq patch = patchOf(round, sent++);
        patch.page_id = pageID;
        const QByteArray body = sharedJSONEncode(patch);
        socket.write("PATCH /api/pages.php HTTP/1.1\r\n" + head +
                     "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    };
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] {
        buffer += socket.readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const qsizetype at = buffer.toLower().indexOf("content-length:");
        const qsizetype length =
            at < 0 || at > end
                ? 0
                : buffer.mid(at + 15, buffer.indexOf("\r\n", at) - at - 15).trimmed().toLongLong();
        if (buffer.size() < end + 4 + length)
            return;
        if (!buffer.startsWith("HTTP/1.1 200"))
            loop.exit(1);
        buffer.remove(0, end + 4 + length);
        if (++answered == kPushed)
            loop.exit(0);
        else
            send();
    });
    QElapsedTimer t;
    t.start();
    send();
    return loop.exec() == 0 ? t.nsecsElapsed() / 1e6 : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = std::max(3, argc > 1 ? QByteArray(argv[1]).toInt() : 3);

    BenchServiceThread service;
    if (!service.started())
        return fail(__LINE__);
    const QString origin = service.origin();
    const auto account = service.createAccount("bench@example.com", "secret12", "Bench");
    TestDevice d(origin, account.token, LocalStore::kSaveDelay);
    // The operations wait for the timed cycle rather than going out as they are queued.
    d.engine().setQueueDelay(std::chrono::hours(1));
    const FNPage page = d.addPage(account.workspaceId, QStringLiteral("Pushed"));
    if (!d.sync())
        return fail(__LINE__);
    const qint64 pageID = d.page(page.localID)->serverID;
    QTemporaryDir dir;

    std::vector<double> curls, bares, sockets, pushes, cpus;
    for (int r = 0; r < rounds; ++r) {
        // The anchor: curl sends the round's requests one after another on one connection.
        const QString configPath = dir.filePath(QStringLiteral("round%1.curl").arg(r));
        {
            QFile f(configPath);
            if (!f.open(QIODevice::WriteOnly))
                return fail(__LINE__);
            f.write(curlConfig(origin, account.token, pageID, r));
        }
        QProcess curl;
        QElapsedTimer t;
        t.start();
        curl.start(QStringLiteral("curl"), {QStringLiteral("--keepalive"), QStringLiteral("-K"), configPath});
        if (!curl.waitForStarted())
            return fail(__LINE__);
        // The service answers on its own thread; this one only waits.
        if (!curl.waitForFinished(120000) || curl.exitCode() != 0) {
            std::fprintf(stderr, "curl failed: %s\n", curl.readAllStandardError().constData());
            return fail(__LINE__);
        }
        curls.push_back(t.nsecsElapsed() / 1e6);
        bares.push_back(bareManagerLoop(origin, account.token, pageID, r));
        sockets.push_back(socketLoop(origin, account.token, pageID, r));
        if (sockets.back() < 0)
            return fail(__LINE__);

        // The app: the same updates queued, then pushed by one sync cycle; timed until the outbox
        // has emptied.
        for (int i = 0; i < kPushed; ++i)
            d.queuePageUpdate(page.localID, patchOf(r, i));
        QTest::qWait(300);
        QElapsedTimer pushed;
        double pushMs = -1, cpuMs = -1;
        const double cpu0 = threadCpuMs();
        const auto conn = QObject::connect(&d.store(), &LocalStore::stateChanged, [&] {
            if (pushMs < 0 && d.store().state().outbox.empty()) {
                pushMs = pushed.nsecsElapsed() / 1e6;
                cpuMs = threadCpuMs() - cpu0;
            }
        });
        pushed.start();
        const bool synced = d.sync();
        if (!synced || pushMs < 0) {
            std::fprintf(stderr, "sync %d, %zu left\n", synced, d.store().state().outbox.size());
            if (!d.store().state().outbox.empty())
                std::fprintf(stderr, "%s\n",
                             qPrintable(d.store().state().outbox.front().lastError.value_or(QString())));
            return fail(__LINE__);
        }
        QObject::disconnect(conn);
        pushes.push_back(pushMs);
        cpus.push_back(cpuMs);
        std::printf(
            "round %d: curl %.0f ms, bare manager %.0f ms, app push %.0f ms (GUI thread busy %.0f ms), "
            "ratio %.2f\n",
            r + 1, curls.back(), bares.back(), pushMs, cpuMs, pushMs / curls.back());
        (void)QTest::qWaitFor([&] { return !d.store().isSavePending(); }, 10000);
    }
    const double c = median(curls), p = median(pushes);
    std::printf("push of %d operations (medians of %d): app %.0f ms (%.2f ms per operation), curl "
                "keep-alive loop %.0f ms (%.2f ms per request): %.2fx the curl loop (goal <= 1.5)\n",
                kPushed, rounds, p, p / kPushed, c, c / kPushed, p / c);
    const double b = median(bares);
    std::printf(
        "  a bare QNetworkAccessManager loop of the same requests: %.0f ms = %.2fx the curl loop; the "
        "app's push = %.2fx it\n",
        b, b / c, p / b);
    const double k = median(sockets);
    std::printf("  the same requests by hand on a QTcpSocket on this thread: %.0f ms = %.2fx the curl loop\n",
                k, k / c);
    std::printf("  the GUI thread was busy %.0f ms of the push (%.3f ms per operation)\n", median(cpus),
                median(cpus) / kPushed);
    return 0;
}
