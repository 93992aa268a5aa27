#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>

class TestDevice;

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

// The server ids of a page with one text block, made on `device` and pushed; zeros when a push
// failed.
struct PushedPage {
    qint64 pageServerID = 0;
    qint64 blockServerID = 0;
};
PushedPage pushPageWithBlock(TestDevice &device, qint64 workspaceId, const QString &title,
                             const QString &text);

} // namespace KilledChild
