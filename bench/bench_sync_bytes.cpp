// The bytes one typed edit costs on the wire, on a 40-block and on a 2,000-block page: a relay on
// loopback between the app and the fake service counts every byte both ways (heads and bodies) of
// the sync cycle that sends it. Each figure is also given as a ratio to the edit's own upsert body,
// the least any cycle could send. Bytes do not depend on the machine.
//   bench_sync_bytes
#include "fake-service/fake_service.h"
#include "store/local_store.h"
#include "support/test_device.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <cstdio>

namespace {

// Forwards each connection to the service, counting what passes.
class CountingRelay : public QObject
{
public:
    explicit CountingRelay(quint16 servicePort)
        : m_servicePort(servicePort)
    {
        connect(&m_server, &QTcpServer::newConnection, this, &CountingRelay::accept);
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    qint64 bytes() const { return m_up + m_down; }
    void reset() { m_up = m_down = 0; }

private:
    void accept()
    {
        while (QTcpSocket *app = m_server.nextPendingConnection()) {
            auto *service = new QTcpSocket(app);
            service->connectToHost(QHostAddress::LocalHost, m_servicePort);
            connect(app, &QTcpSocket::readyRead, service, [this, app, service] {
                const QByteArray data = app->readAll();
                m_up += data.size();
                service->write(data);
            });
            connect(service, &QTcpSocket::readyRead, app, [this, app, service] {
                const QByteArray data = service->readAll();
                m_down += data.size();
                app->write(data);
            });
            connect(app, &QTcpSocket::disconnected, app, &QObject::deleteLater);
            connect(service, &QTcpSocket::disconnected, app, [app] { app->disconnectFromHost(); });
        }
    }

    QTcpServer m_server;
    quint16 m_servicePort;
    qint64 m_up = 0;
    qint64 m_down = 0;
};

struct Figures {
    qint64 cycle = 0;
    qint64 upsertBody = 0;
};

Figures measure(FakeService &fake, int blocks)
{
    static int made = 0;
    const FakeService::Account account =
        fake.createAccount(QStringLiteral("bytes%1@example.com").arg(++made), QStringLiteral("secret12"),
                           QStringLiteral("Bytes"));
    CountingRelay relay(quint16(QUrl(fake.origin()).port()));
    if (!relay.listen())
        return {};
    TestDevice device(relay.origin(), account.token);
    const FNPage page = device.addPage(account.workspaceId, QStringLiteral("Long page"));
    if (!device.sync())
        return {};
    QString middle;
    for (int i = 0; i < blocks; ++i) {
        const FNBlock b = device.addBlock(page.localID, QStringLiteral("Line %1 of the page, a few words long").arg(i),
                                          qint64(i) * 1024);
        if (i == blocks / 2)
            middle = b.localID;
    }
    if (!device.queueBlockUpsert(page.localID) || !device.sync() || !device.sync())
        return {};

    device.setBlockText(middle, QStringLiteral("Line typed into, a few words long"));
    if (!device.queueBlockUpsert(page.localID))
        return {};
    fake.clearRequests();
    relay.reset();
    if (!device.sync())
        return {};
    Figures f;
    f.cycle = relay.bytes();
    for (const HttpRequest &r : fake.requestsTo(QStringLiteral("/api/blocks.php")))
        f.upsertBody += r.body.size();
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    FakeService fake;
    if (!fake.start())
        return 1;
    const Figures shortPage = measure(fake, 40);
    const Figures longPage = measure(fake, 2000);
    if (shortPage.upsertBody == 0 || longPage.upsertBody == 0) {
        std::fprintf(stderr, "a cycle failed\n");
        return 1;
    }
    std::printf("%-16s %12s %14s %8s\n", "page", "cycle bytes", "upsert body", "ratio");
    for (const auto &[name, f] : {std::pair{"40 blocks", shortPage}, std::pair{"2,000 blocks", longPage}})
        std::printf("%-16s %12lld %14lld %8.2f\n", name, qlonglong(f.cycle), qlonglong(f.upsertBody),
                    double(f.cycle) / double(f.upsertBody));
    const double growth = double(longPage.cycle) / double(shortPage.cycle);
    std::printf("long page / short page: %.3f (goal: at most 1.20); both under 4,096 bytes: %s\n", growth,
                shortPage.cycle < 4096 && longPage.cycle < 4096 ? "yes" : "NO");
    return 0;
}
