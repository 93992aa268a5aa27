#pragma once

#include "fake-service/fake_content.h"

// "/api/publish.php": a page's publication (read, publish or change its settings, unpublish). A
// published page gets a slug from its title and a public URL on the fake's own origin, where it is
// served to anyone.
class FakePublishRoutes
{
public:
    static void install(FakeService &service);

private:
    explicit FakePublishRoutes(FakeService &service);

    HttpResponse read(const FakeService::Call &call);
    HttpResponse publish(const FakeService::Call &call);
    HttpResponse unpublish(const FakeService::Call &call);
    // "/p/<slug>": the published page's title and text for anyone, each answer counted as a view.
    HttpResponse publicPage(const FakeService::Call &call);

    HttpResponse stateReply(qint64 pageId);
    static QString slugFor(const FakeServiceState::Page &page);

    FakeService &m_service;
    FakeContent m_content;
};
