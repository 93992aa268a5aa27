// A new device's first sync of a workspace of 20,000 blocks (500 pages of 40), which the service's
// feed hands out 500 entries a reply: the time until the device holds all of it, against the time
// the fake service needs to serve those pages of the feed to a bare client in this run, and the
// longest stall of the event loop meanwhile, against a RapidJSON parse of one page of the feed.
// Goals: under 3x the serving time, no stall over 5x a page's parse.
// Offscreen; run a Release build: bench_first_sync [rounds] [pages]. The last line, "figures: ...", is
// for bench/compare_builds.sh. With 7000 pages (280,000 blocks) the device's lists and indexes grow
// past the sizes where a table that grows all at once would stop the loop longest.
#include "bench_service_thread.h"
#include "bench_stall_meter.h"
#include "bench_stats.h"
#include "support/feed_steps.h"
#include "support/test_device.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

int fail(int line)
{
    std::fprintf(stderr, "failed at line %d\n", line);
    return 1;
}

int pageCount = 500; // or as given
constexpr int kBlocksPerPage = 40;
constexpr double kTimeGoal = 3;
constexpr double kStallGoal = 5;

void seed(FakeService &fake, qint64 workspaceId)
{
    const auto add = [&](const QString &type, qint64 id, JSONObject payload) {
        appendToFeed(fake, workspaceId, type, id, QStringLiteral("create"), std::move(payload));
    };
    for (int p = 0; p < pageCount; ++p) {
        const qint64 pageId = 10000 + p;
        add(QStringLiteral("page"), pageId,
            {{QStringLiteral("workspace_id"), workspaceId},
             {QStringLiteral("title"), QStringLiteral("Page %1").arg(p)},
             {QStringLiteral("position"), qint64(p)}});
        for (int b = 0; b < kBlocksPerPage; ++b) {
            add(QStringLiteral("block"), 100000 + p * kBlocksPerPage + b,
                {{QStringLiteral("page_id"), pageId},
                 {QStringLiteral("type"), QStringLiteral("text")},
                 {QStringLiteral("position"), qint64(b)},
                 {QStringLiteral("content"),
                  JSONObject{
                      {QStringLiteral("text"),
                       QStringLiteral("Line %1 of page %2, as another device wrote it").arg(b).arg(p)}}}});
        }
    }
}

struct Served {
    double serveMs = 0;         // request sent to reply read, every page
    std::vector<double> parses; // a RapidJSON parse of each page
    int pages = 0;
};

// The feed as a bare client reads it: each page asked for as soon as the one before is in, the next
// cursor read with RapidJSON, nothing applied.
bool serveFeed(QNetworkAccessManager &net, const QString &origin, const QString &token, Served &out)
{
    qint64 cursor = 0;
    for (;;) {
        QNetworkRequest request(QUrl(origin + QStringLiteral("/api/sync.php")));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        QElapsedTimer t;
        t.start();
        QNetworkReply *reply =
            net.post(request, QByteArray("{\"since_ts\":") + QByteArray::number(cursor) + "}");
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const QByteArray body = reply->readAll();
        out.serveMs += t.nsecsElapsed() / 1e6;
        const bool ok = reply->error() == QNetworkReply::NoError;
        reply->deleteLater();
        if (!ok)
            return false;
        t.restart();
        rapidjson::Document doc;
        doc.Parse(body.constData(), size_t(body.size()));
        out.parses.push_back(t.nsecsElapsed() / 1e6);
        if (doc.HasParseError() || !doc.IsObject())
            return false;
        ++out.pages;
        const qint64 next = doc["server_ts"].GetInt64();
        const bool capped = doc.HasMember("capped") && doc["capped"].IsBool() && doc["capped"].GetBool();
        if (!capped || next <= cursor)
            return true;
        cursor = next;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    const int rounds = std::max(3, argc > 1 ? QByteArray(argv[1]).toInt() : 3);
    if (argc > 2 && QByteArray(argv[2]).toInt() > 0)
        pageCount = QByteArray(argv[2]).toInt();
    const int blockCount = pageCount * kBlocksPerPage;

    BenchServiceThread service;
    if (!service.started())
        return fail(__LINE__);
    const auto account = service.createAccount("first@example.com", "secret12", "First");
    int pageSize = 0;
    service.call([&] { pageSize = service.fake().state().syncPageSize; });
    service.call([&] { seed(service.fake(), account.workspaceId); });
    QNetworkAccessManager net;
    StallMeter meter;

    std::vector<double> serve, wall, stalls, stallSums, pageParses, ratios, stallRatios, idle;
    bool complete = true;
    for (int r = 0; r < rounds; ++r) {
        Served served;
        if (!serveFeed(net, service.origin(), account.token, served))
            return fail(__LINE__);
        const double pageParse = median(served.parses);

        TestDevice d(service.origin(), account.token, LocalStore::kSaveDelay);
        d.engine().setQueueDelay(std::chrono::hours(1));
        // The floor: what the same meter sees of an idle event loop on this machine as loaded now.
        meter.start();
        StallMeter::spinUntil([] { return false; }, 500);
        meter.stop();
        idle.push_back(meter.longestMs());
        meter.start();
        QElapsedTimer t;
        t.start();
        const bool synced = d.sync();
        const double ms = t.nsecsElapsed() / 1e6;
        meter.stop();
        const bool whole = synced && d.store().state().blocks.size() == size_t(blockCount) &&
                           d.store().state().pages.size() == size_t(pageCount);
        complete = complete && whole;
        if (!whole)
            std::printf("  incomplete: cycle %s, %zu blocks, %zu pages, cursor %lld\n",
                        synced ? "ended" : "FAILED", d.store().state().blocks.size(),
                        d.store().state().pages.size(), qlonglong(d.store().state().cursorServerTs));
        serve.push_back(served.serveMs);
        wall.push_back(ms);
        stalls.push_back(meter.longestMs());
        stallSums.push_back(meter.totalMs());
        pageParses.push_back(pageParse);
        ratios.push_back(ms / served.serveMs);
        stallRatios.push_back(meter.longestMs() / pageParse);
        std::printf("round %d: %d pages of the feed served in %.0f ms (a page's parse %.2f ms); the device "
                    "held all of it after %.0f ms (%.2fx), longest stall %.1f ms (%.1fx a page's parse); "
                    "complete: %s\n",
                    r + 1, served.pages, served.serveMs, pageParse, ms, ratios.back(), meter.longestMs(),
                    stallRatios.back(), whole ? "yes" : "NO");
        // Let the device's last save finish before it goes.
        StallMeter::spinUntil([&] { return !d.store().isSavePending(); }, 60000);
    }
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("first sync of %d blocks on %d pages, %d entries a reply (medians of %d; load %.1f)\n",
                blockCount, pageCount, pageSize, rounds, load[0]);
    std::printf("  anchor: the fake serving every page to a bare client %.0f ms; a page's parse %.2f ms\n",
                median(serve), median(pageParses));
    std::printf("  device complete after %.0f ms = %.2fx the serving (goal < %.0f)\n", median(wall),
                median(ratios), kTimeGoal);
    std::printf("  longest stall %.1f ms = %.1fx a page's parse (goal <= %.0f); an idle loop's longest gap "
                "%.1f ms\n",
                median(stalls), median(stallRatios), kStallGoal, median(idle));
    std::printf("  one page a %lld s cycle, as before, would take %.0f s\n",
                qlonglong(SyncEngine::kTickInterval.count() / 1000),
                double((blockCount + pageCount + pageSize - 1) / pageSize) *
                    SyncEngine::kTickInterval.count() / 1000);
    std::printf("figures: ratio=%.3f stall_ratio=%.2f wall_ms=%.1f serve_ms=%.1f longest_ms=%.2f "
                "stalls_ms=%.1f page_parse_ms=%.3f idle_gap_ms=%.2f load=%.1f\n",
                median(ratios), median(stallRatios), median(wall), median(serve), median(stalls),
                median(stallSums), median(pageParses), median(idle), load[0]);
    return complete ? 0 : 1;
}
