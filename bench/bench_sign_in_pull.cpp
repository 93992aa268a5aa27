// A sign-in through the sign-in screen's own form and a pull of 20,000 operations through the sync
// engine, against the fake service on loopback (on a thread of its own), each beside an anchor timed in
// the same run: the same exchange written by hand on a fresh QTcpSocket. Built from the same source
// in two trees, it compares two builds of the HTTP stack (see compare_builds.sh).
// Run a Release build: bench_sign_in_pull [rounds] [sign-ins per round] [pulled ops]
#include "api/api_client.h"
#include "api/wire/auth.h"
#include "api/wire/sync.h"
#include "app/auth_form.h"
#include "bench_service_thread.h"
#include "bench_stats.h"
#include "json/json_coder.h"
#include "support/test_device.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

int fail(int line)
{
    std::fprintf(stderr, "failed at line %d\n", line);
    return 1;
}

const QString kEmail = QStringLiteral("bench@example.com");
const QString kPassword = QStringLiteral("secret12");

// A reply of n pulled operations: pages first, then blocks spread over them (as bench_sync_engine).
QByteArray syncReply(int n)
{
    const int pages = std::max(1, n / 20);
    JsonWriter w;
    w.startObject();
    w.key("ops");
    w.startArray();
    for (int i = 0; i < n; ++i) {
        const bool page = i < pages;
        w.startObject();
        w.field("entity_type", QString::fromLatin1(page ? "page" : "block"));
        w.field("entity_id", qint64(1000000 + i));
        w.field("op", QStringLiteral("upsert"));
        w.key("payload");
        w.startObject();
        if (page) {
            w.field("title", QStringLiteral("Pulled page %1").arg(i));
            w.field("workspace_id", qint64(1));
        } else {
            w.field("page_id", qint64(1000000 + i % pages));
            w.field("type", QStringLiteral("text"));
            w.field("position", qint64(i));
            w.key("content");
            w.startObject();
            w.field("text", QStringLiteral("Block %1 with a line of ordinary text to carry").arg(i));
            w.endObject();
        }
        w.endObject();
        w.field("server_ts", qint64(i + 1));
        w.endObject();
    }
    w.endArray();
    w.field("server_ts", qint64(n));
    w.endObject();
    return w.bytes();
}

// One exchange by hand on a fresh connection: the request's bytes out, then the answer read up to
// its declared length. Milliseconds from connecting to the last byte, or -1 on anything but a 200.
double exchangeByHand(const QUrl &origin, const QByteArray &method, const QByteArray &path,
                      const QByteArray &headers, const QByteArray &body)
{
    QTcpSocket socket;
    QEventLoop loop;
    QByteArray buffer;
    QObject::connect(&socket, &QTcpSocket::connected, &loop, [&] {
        socket.write(method + ' ' + path + " HTTP/1.1\r\nHost: " + origin.authority().toUtf8() + "\r\n" +
                     headers + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    });
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] {
        buffer += socket.readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray head = buffer.left(end).toLower();
        const qsizetype at = head.indexOf("content-length:");
        const qsizetype length =
            at < 0 ? 0 : head.mid(at + 15, head.indexOf("\r\n", at) - at - 15).trimmed().toLongLong();
        if (buffer.size() >= end + 4 + length)
            loop.exit(buffer.startsWith("HTTP/1.1 200") ? 0 : 1);
    });
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, [&] { loop.exit(1); });
    QTimer::singleShot(30000, &loop, [&] { loop.exit(1); });
    QElapsedTimer t;
    t.start();
    socket.connectToHost(origin.host(), quint16(origin.port()));
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return loop.exec() == 0 ? t.nsecsElapsed() / 1e6 : -1;
}

QByteArray jsonHeaders(const std::optional<QString> &token)
{
    QByteArray out = "Content-Type: application/json\r\nAccept: application/json\r\nUser-Agent: " +
                     QByteArray(APIClient::kUserAgent) + "\r\n";
    if (token)
        out += "Authorization: Bearer " + token->toUtf8() + "\r\n";
    return out;
}

// A sign-in as the screen sends it, from a device that has never talked to the service: from the
// press until the form reports the session stored. -1 when it failed.
double appSignIn(const QString &origin)
{
    TestDevice device(origin);
    AppContext context = device.context();
    // The engine's first cycle runs after the sign-in and is not part of it.
    context.syncEngine = nullptr;
    AuthForm form(context);
    form.setEmail(kEmail);
    form.setPassword(kPassword);
    QEventLoop loop;
    QObject::connect(&form, &AuthForm::submitFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    QElapsedTimer t;
    t.start();
    form.submit();
    if (form.loading())
        loop.exec();
    const double ms = t.nsecsElapsed() / 1e6;
    return !form.error() && device.session().token() ? ms : -1;
}

struct PullFigures {
    double ms = -1;
    double cpuMs = -1;
    size_t blocks = 0;
};

// One sync cycle of a signed-in device whose pull brings the canned reply; the apply runs on this
// thread, as in the app.
PullFigures appPull(const QString &origin, const QString &token)
{
    TestDevice device(origin, token);
    PullFigures out;
    const double cpu0 = threadCpuMs();
    QElapsedTimer t;
    t.start();
    if (!device.sync())
        return out;
    out.ms = t.nsecsElapsed() / 1e6;
    out.cpuMs = threadCpuMs() - cpu0;
    out.blocks = device.store().state().blocks.size();
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = std::max(3, argc > 1 ? QByteArray(argv[1]).toInt() : 3);
    const int signIns = std::max(1, argc > 2 ? QByteArray(argv[2]).toInt() : 40);
    const int pulled = std::max(1, argc > 3 ? QByteArray(argv[3]).toInt() : 20000);

    BenchServiceThread service;
    if (!service.started())
        return fail(__LINE__);
    const QString origin = service.origin();
    const QUrl originURL(origin);
    const auto account = service.createAccount(kEmail, kPassword, QStringLiteral("Bench"));
    if (!account.userId)
        return fail(__LINE__);
    const QByteArray reply = syncReply(pulled);
    service.setFault(QStringLiteral("/api/sync.php"), FakeService::Fault::http(200, reply));
    const QByteArray loginBody =
        sharedJSONEncode(AuthLoginReq{kEmail, kPassword, QString::fromLatin1(AuthForm::kDeviceLabel)});

    const QByteArray syncBody = sharedJSONEncode(SyncReq{});

    std::vector<double> signInApp, signInHand, pullApp, pullHand, pullCpu;
    for (int r = 0; r < rounds; ++r) {
        std::vector<double> app, hand;
        for (int i = 0; i < signIns; ++i) {
            hand.push_back(exchangeByHand(originURL, "POST", "/api/auth/login.php", jsonHeaders(std::nullopt),
                                          loginBody));
            app.push_back(appSignIn(origin));
            if (hand.back() < 0 || app.back() < 0)
                return fail(__LINE__);
        }
        signInApp.push_back(median(app));
        signInHand.push_back(median(hand));

        pullHand.push_back(
            exchangeByHand(originURL, "POST", "/api/sync.php", jsonHeaders(account.token), syncBody));
        const PullFigures pull = appPull(origin, account.token);
        if (pullHand.back() < 0 || pull.ms < 0)
            return fail(__LINE__);
        pullApp.push_back(pull.ms);
        pullCpu.push_back(pull.cpuMs);
        std::printf("round %d: sign-in %.2f ms (by hand %.2f ms, median of %d); pull of %d operations "
                    "%.0f ms, GUI thread busy %.0f ms, %zu blocks (the reply by hand %.1f ms)\n",
                    r + 1, signInApp.back(), signInHand.back(), signIns, pulled, pullApp.back(),
                    pullCpu.back(), pull.blocks, pullHand.back());
        std::fflush(stdout);
    }
    const double s = median(signInApp), sh = median(signInHand);
    const double p = median(pullApp), ph = median(pullHand), pc = median(pullCpu);
    std::printf("sign-in (medians of %d rounds): %.2f ms = %.2fx the same exchange by hand (%.2f ms)\n",
                rounds, s, s / sh, sh);
    std::printf("pull of %d operations (%.1f MB reply, medians of %d rounds): %.0f ms (GUI thread busy %.0f "
                "ms) = %.1fx the reply read by hand (%.1f ms)\n",
                pulled, reply.size() / 1e6, rounds, p, pc, p / ph, ph);
    // One line for compare_builds.sh.
    std::printf("figures: sign_in_ms=%.3f sign_in_hand_ms=%.3f pull_ms=%.1f pull_cpu_ms=%.1f "
                "pull_hand_ms=%.2f\n",
                s, sh, p, pc, ph);
    return 0;
}
