#pragma once

#include "fake-service/fake_service.h"
#include "support/fake_http_client.h"

#include <memory>

// The ground the fake's route tests stand on: a fresh service with two accounts, Ann and Bob, and raw
// JSON calls to it. A test class derives from it, starting the service in init() and stopping it in
// cleanup().
class FakeRouteFixture
{
protected:
    void startService();
    void stopService();

    qint64 newPage(const FakeService::Account &owner, const QString &title, qint64 parentId = 0);
    // Pushes the items as the page's whole block set; the acknowledgements, empty when refused.
    JSONArray upsert(const QString &token, qint64 pageId, const QByteArray &items);
    static JSONValue json(const QByteArray &text);

    std::unique_ptr<FakeService> m_fake;
    std::unique_ptr<FakeHttpClient> m_http;
    FakeService::Account m_ann;
    FakeService::Account m_bob;
};
