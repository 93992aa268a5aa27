#pragma once

#include "json/json_value.h"
#include "store/local_store.h"

#include <QString>

#include <memory>
#include <optional>

class FakeService;
class SyncEngine;
class ServiceClient;
class TestDevice;

// A page of a test's own store made real on the service, for writes that must reach it: the page is
// created there for the account of `token` and stored under `pageLocalID` with its id. The store's
// outbox goes out through an engine of its own; a second device of the account reads back what the
// service holds.
class ServicePage
{
public:
    ServicePage(FakeService &fake, const QString &token, LocalStore &store, ServiceClient &client,
                const QString &pageLocalID = QStringLiteral("P"));
    ~ServicePage();

    bool isValid() const { return m_pageId != 0; }
    qint64 pageId() const { return m_pageId; }
    // Every operation the store queued for the block's page that names the block.
    int queuedUpsertsCarrying(const QString &blockLocalID) const;
    // One sync cycle of the store; true when it ended without an error.
    bool push();
    // The block as the service holds it (by its client id), and as a second device of the account
    // sees it once it has synced; none where it is missing.
    std::optional<JSONObject> serviceContent(const QString &blockLocalID) const;
    std::optional<JSONObject> otherDeviceContent(const QString &blockLocalID);

private:
    FakeService &m_fake;
    QString m_token;
    LocalStore &m_store;
    std::unique_ptr<SyncEngine> m_engine;
    std::unique_ptr<TestDevice> m_other;
    qint64 m_pageId = 0;
};
