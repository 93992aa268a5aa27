// A push of 1,000 queued page updates against a curl loop of the same 1,000 requests, sent one after
// another over one kept-alive connection to the same fake service in the same run. Needs the curl
// command line. Run a Release build: bench_push_curl [rounds]
#include "api/api_client.h"
#include "api/wire/pages.h"
#include "bench_service_thread.h"
#include "json/json_coder.h"
#include "support/test_device.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
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

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

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

// The same requests through a bare QNetworkAccessManager, one after another: what Qt's transport
// alone costs, without the app's bookkeeping.
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

    std::vector<double> curls, bares, pushes, cpus;
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
                "keep-alive loop %.0f ms (%.2f ms per request): %.2fx the curl loop (goal <= 2)\n",
                kPushed, rounds, p, p / kPushed, c, c / kPushed, p / c);
    const double b = median(bares);
    std::printf(
        "  a bare QNetworkAccessManager loop of the same requests: %.0f ms = %.2fx the curl loop; the "
        "app's push = %.2fx it\n",
        b, b / c, p / b);
    std::printf("  the GUI thread was busy %.0f ms of the push (%.3f ms per operation)\n", median(cpus),
                median(cpus) / kPushed);
    return 0;
}
