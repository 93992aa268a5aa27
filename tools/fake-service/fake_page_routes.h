#pragma once

#include "fake-service/fake_content.h"

// "/api/pages.php" (list, trash list, create, update, restore, move to the trash, purge) and
// "/api/page-status.php" (the published and shared badges of a workspace's pages).
class FakePageRoutes
{
public:
    static void install(FakeService &service);

private:
    explicit FakePageRoutes(FakeService &service);

    HttpResponse list(const FakeService::Call &call);
    HttpResponse create(const FakeService::Call &call);
    HttpResponse patch(const FakeService::Call &call);
    HttpResponse restore(const FakeService::Call &call);
    HttpResponse remove(const FakeService::Call &call);
    HttpResponse statuses(const FakeService::Call &call);

    // Empty when parentId may hold pageId (0 for a new page); else why not.
    QString parentProblem(qint64 parentId, qint64 workspaceId, qint64 pageId);
    static HttpResponse pageReply(const FakeServiceState::Page &page);

    FakeContent m_content;
};
