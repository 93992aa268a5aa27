#pragma once

#include "fake-service/fake_service.h"
#include "store/outbox.h"
#include "support/test_device.h"

#include <QDateTime>
#include <QTest>

#include <memory>
#include <optional>

// One fake service with one account, and devices on it whose engine reads the clock the test sets.
class ClockedDeviceFixture
{
protected:
    void startService(const QString &email, const QString &name)
    {
        QVERIFY(m_fake.start());
        m_account = m_fake.createAccount(email, QStringLiteral("secret12"), name);
    }
    // Each test function starts with no faults, no requests seen and the clock at one moment.
    void resetService()
    {
        m_fake.clearFaults();
        m_fake.clearRequests();
        m_now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    }
    std::unique_ptr<TestDevice> device()
    {
        auto d = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
        d->engine().setClock([this] { return m_now; });
        return d;
    }
    static std::optional<FNSyncOp> outboxOp(TestDevice &d, const QString &localID)
    {
        for (const auto &op : d.store().state().outbox) {
            if (op.localID == localID)
                return op;
        }
        return std::nullopt;
    }

    QDateTime m_now;
    FakeService m_fake;
    FakeService::Account m_account;
};
