#pragma once

#include "fake-service/fake_service.h"
#include "support/test_device.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// A test that kills the app runs its own executable again as a child, told what to do through its
// environment. The child says one line when it reaches the moment it is to be killed at, then
// idles; the parent's loop serves the fake service meanwhile and kills the child with SIGKILL, so
// nothing of the child's own ending runs.
namespace KilledChild {

// In the child: `line` to the parent.
void say(const QByteArray &line);
// In the child: "failed: <why>" to the parent; the child's exit code.
int fail(const char *why);
// In the child: the event loop until the kill (two minutes should the parent have gone).
int idleUntilKilled();

// In the parent: runs this executable with `environment` added to the parent's, waits up to
// `wait` ms for its line and kills it once `atLine` has run; what `atLine` made of the line, or
// "failed: ..." when the child did not start or say anything.
QByteArray runAndKill(const QHash<QString, QString> &environment, int wait,
                      const std::function<QByteArray(const QByteArray &line)> &atLine);

} // namespace KilledChild

// What a kill test shares with its child and the relaunch: the service, an account of each test's
// own whose page holds one text block made on another device (m_other, B, kept for the test), and
// the data folder the child and the relaunch run on.
class KilledChildFixture
{
protected:
    // A new account "<prefix>N@example.com" named `name`, its page `title` with one block `text`
    // pushed from a fresh m_other, and a fresh folder; false when a step failed.
    bool seedAccount(const QString &prefix, const QString &name, const QString &title, const QString &text);

    FakeService m_fake;
    int m_accounts = 0;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_other;
    qint64 m_pageServerID = 0;
    qint64 m_blockServerID = 0;
    std::unique_ptr<QTemporaryDir> m_folder;
};
