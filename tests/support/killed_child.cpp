#include "support/killed_child.h"

#include "support/test_device.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <cstdio>

using namespace std::chrono_literals;

namespace KilledChild {

void say(const QByteArray &line)
{
    std::fputs((line + '\n').constData(), stdout);
    std::fflush(stdout);
}

int fail(const char *why)
{
    say(QByteArray("failed: ") + why);
    return 1;
}

int idleUntilKilled()
{
    QTimer::singleShot(120s, qApp, [] { QCoreApplication::exit(2); });
    return QCoreApplication::exec();
}

QByteArray runAndKill(const QHash<QString, QString> &environment, int wait,
                      const std::function<QByteArray(const QByteArray &line)> &atLine)
{
    QProcess child;
    QProcessEnvironment childEnvironment = QProcessEnvironment::systemEnvironment();
    for (auto it = environment.begin(); it != environment.end(); ++it)
        childEnvironment.insert(it.key(), it.value());
    child.setProcessEnvironment(childEnvironment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {});
    if (!child.waitForStarted(wait))
        return "failed: not started";
    const bool spoke = QTest::qWaitFor([&] { return child.canReadLine(); }, 2 * wait);
    const QByteArray line =
        spoke ? atLine(child.readLine().trimmed()) : QByteArray("failed: no word from the child");
    child.kill();
    child.waitForFinished(wait);
    return line;
}

PushedPage pushPageWithBlock(TestDevice &device, qint64 workspaceId, const QString &title,
                             const QString &text)
{
    const FNPage page = device.addPage(workspaceId, title);
    if (!device.sync())
        return {};
    const FNBlock block = device.addBlock(page.localID, text, 0);
    if (!device.queueBlockUpsert(page.localID) || !device.sync())
        return {};
    return {device.page(page.localID)->serverID, device.block(block.localID)->serverID};
}

} // namespace KilledChild
