#pragma once

#include "fake-service/fake_service.h"
#include "support/chaos_device.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

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

// What both two-device page tests hold: the service, an account of each test's own (so a new device
// pulls only that test's changes), devices A and B of it, and the page they share.
class PageSyncPair
{
protected:
    static constexpr int kWait = 20000;
    static inline const QString kSync = QStringLiteral("/api/sync.php");
    static inline const QString kBlocks = QStringLiteral("/api/blocks.php");

    bool startService() { return m_fake.start(); }
    // Per test: a new account named by `prefix`, and a fresh A and B of it.
    void newAccount(const QString &prefix);
    void endDevices();
    // `clock`: the device's clock, the stepping one when empty. `remains`: a killed device's files to
    // start from.
    std::unique_ptr<ChaosDevice> device(std::function<QDateTime()> clock = {}, ChaosDevice::Remains remains = {});
    // A page of `texts` on A, synced to B; `gapless` lays them at 0, 1, 2... so no line fits between.
    // Its local id on A; empty when a step failed.
    QString sharedPage(const QStringList &texts, bool gapless = false);

    static bool settle(ChaosDevice &d) { return settleDevice(d); }
    QString blockOn(ChaosDevice &d, const QString &text) const { return blockWithText(d, m_pageID, text); }
    QStringList textsOn(ChaosDevice &d) const { return textsOnDevice(d, m_pageID); }
    QStringList textsOnService() { return ::textsOnService(m_fake, m_pageID); }
    int requestCount(const QString &path) const { return int(m_fake.requestsTo(path).size()); }
    // Whether the runs of lines the devices typed, "A 0", "A 1"... and "B 0"..., each keep their order
    // in `texts`.
    static bool runsKeepTheirOrder(const QStringList &texts, int lines);
    // The same, each run listed as one stretch with no other line inside it.
    static bool runsStayTogether(const QStringList &texts, int lines);

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<ChaosDevice> m_a;
    std::unique_ptr<ChaosDevice> m_b;
    QString m_pageA;
    qint64 m_pageID = 0;
};
