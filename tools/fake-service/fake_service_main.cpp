// Runs the fake notes service on its own, so the app can be tried on one machine without an account.
#include "fake-service/fake_demo_data.h"
#include "fake-service/fake_service.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fake-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("In-memory stand-in for the notes service on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on; 0 picks a free one."),
                                        QStringLiteral("N"), QStringLiteral("8765"));
    parser.addOption(portOption);
    const QCommandLineOption demoOption(
        QStringLiteral("demo"), QStringLiteral("Start with demo accounts and pages of every block kind."));
    parser.addOption(demoOption);
    const QCommandLineOption refuseOption(
        QStringLiteral("refuse"),
        QStringLiteral("Refuse the next COUNT requests of METHOD to PATH with STATUS, as in "
                       "POST:/api/pages.php:400:10; may be given more than once."),
        QStringLiteral("METHOD:PATH:STATUS:COUNT"));
    parser.addOption(refuseOption);
    const QCommandLineOption loseOption(
        QStringLiteral("lose-answer"),
        QStringLiteral(
            "Handle the next request of METHOD to PATH, then drop its connection and refuse "
            "connections for SECONDS, as in POST:/api/folders.php:10; may be given more than once."),
        QStringLiteral("METHOD:PATH:SECONDS"));
    parser.addOption(loseOption);
    const QCommandLineOption slowOption(
        QStringLiteral("slow"),
        QStringLiteral("Let every request of METHOD to PATH reach the service MS milliseconds late, as "
                       "over a slow link, as in PATCH:/api/database-rows.php:3000; may be given more "
                       "than once."),
        QStringLiteral("METHOD:PATH:MS"));
    parser.addOption(slowOption);
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "fake-service: invalid port \"%s\"\n", qPrintable(parser.value(portOption)));
        return 2;
    }

    FakeService service;
    for (const QString &refusal : parser.values(refuseOption)) {
        const QStringList parts = refusal.split(QLatin1Char(':'));
        bool statusOk = false;
        bool countOk = false;
        const int status = parts.size() == 4 ? parts[2].toInt(&statusOk) : 0;
        const int count = parts.size() == 4 ? parts[3].toInt(&countOk) : 0;
        if (!statusOk || !countOk || status < 400 || count < 1) {
            std::fprintf(stderr, "fake-service: invalid refusal \"%s\"\n", qPrintable(refusal));
            return 2;
        }
        FakeService::Fault fault = FakeService::Fault::http(status, R"({"error":"Refused by --refuse"})");
        fault.method = parts[0].toLatin1();
        fault.remaining = count;
        service.setFault(parts[1], fault);
    }
    for (const QString &loss : parser.values(loseOption)) {
        const QStringList parts = loss.split(QLatin1Char(':'));
        bool secondsOk = false;
        const int seconds = parts.size() == 3 ? parts[2].toInt(&secondsOk) : 0;
        if (!secondsOk || seconds < 1) {
            std::fprintf(stderr, "fake-service: invalid lost answer \"%s\"\n", qPrintable(loss));
            return 2;
        }
        FakeService::Fault fault = FakeService::Fault::applyThenGoOffline();
        fault.method = parts[0].toLatin1();
        fault.remaining = 1;
        service.setFault(parts[1], fault);
        // The link comes back by itself, once.
        auto pending = std::make_shared<bool>(true);
        QObject::connect(&service, &FakeService::requestReceived, &service,
                         [&service, pending, parts, seconds](const HttpRequest &request) {
                             if (!*pending || request.method != parts[0].toLatin1() ||
                                 !request.target.startsWith(parts[1].toLatin1()))
                                 return;
                             *pending = false;
                             QTimer::singleShot(seconds * 1000, &service,
                                                [&service] { service.setOffline(false); });
                         });
    }
    for (const QString &slow : parser.values(slowOption)) {
        const QStringList parts = slow.split(QLatin1Char(':'));
        bool msOk = false;
        const int ms = parts.size() == 3 ? parts[2].toInt(&msOk) : 0;
        if (!msOk || ms < 1) {
            std::fprintf(stderr, "fake-service: invalid slow link \"%s\"\n", qPrintable(slow));
            return 2;
        }
        FakeService::Fault fault = FakeService::Fault::slowLink(ms);
        fault.method = parts[0].toLatin1();
        service.setFault(parts[1], fault);
    }
    if (!service.start(quint16(port))) {
        std::fprintf(stderr, "fake-service: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    // Scripts wait for this line to learn the port, so it goes out at once.
    std::printf("fake-service listening on %s\n", qPrintable(service.origin()));
    std::fflush(stdout);
    if (parser.isSet(demoOption)) {
        const FakeDemoData::Seeded demo = FakeDemoData::seed(service);
        std::printf("demo: sign in as %s with the password \"%s\"\n", qPrintable(demo.owner.email),
                    qPrintable(demo.owner.password));
        std::printf("demo: %s (can edit) and %s (suggests edits) share \"%s\"; their password is the same\n",
                    qPrintable(demo.editor.email), qPrintable(demo.suggester.email),
                    qPrintable(demo.sharedTitle));
        std::printf("demo: \"%s\" is published at %s\n", qPrintable(demo.sharedTitle),
                    qPrintable(demo.publishedURL));
        std::fflush(stdout);
    }
    return app.exec();
}
