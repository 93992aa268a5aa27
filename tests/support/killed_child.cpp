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

} // namespace KilledChild

bool KilledChildFixture::seedAccount(const QString &prefix, const QString &name, const QString &title,
                                     const QString &text)
{
    m_fake.clearFaults();
    const QString email = QStringLiteral("%1%2@example.com").arg(prefix).arg(++m_accounts);
    m_account = m_fake.createAccount(email, QStringLiteral("secret12"), name);
    if (m_account.userId == 0)
        return false;
    m_other = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
    const FNPage page = m_other->addPage(m_account.workspaceId, title);
    if (!m_other->sync())
        return false;
    const FNBlock block = m_other->addBlock(page.localID, text, 0);
    if (!m_other->queueBlockUpsert(page.localID) || !m_other->sync())
        return false;
    m_pageServerID = m_other->page(page.localID)->serverID;
    m_blockServerID = m_other->block(block.localID)->serverID;
    m_folder = std::make_unique<QTemporaryDir>();
    return m_pageServerID && m_blockServerID && m_folder->isValid();
}
