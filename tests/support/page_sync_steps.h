#pragma once

#include "fake-service/fake_service.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

class ChaosDevice;
class LocalStore;

// Steps of the tests where two devices of one account write into one page through its editor.

// Every reading a minute on: retry waits pass at once.
std::function<QDateTime()> steppingClock();
// The sidebar's first load, waited for until it brings the workspace.
void awaitWorkspace(ChaosDevice &d, qint64 workspaceServerID);
// Idle, then a cycle, twice: what a pull puts back goes out with the next cycle.
bool settleDevice(ChaosDevice &d);
// Lays the page's blocks at 0, 1, 2... so no line fits between, and queues their places.
void layGapless(LocalStore &store, const QString &pageLocalID);
// The page's block showing `text` on the device; empty when there is none.
QString blockWithText(const ChaosDevice &d, qint64 pageServerID, const QString &text);
// The page's texts as the device lists them, and as the service does.
QStringList textsOnDevice(const ChaosDevice &d, qint64 pageServerID);
QStringList textsOnService(FakeService &fake, qint64 pageServerID);
