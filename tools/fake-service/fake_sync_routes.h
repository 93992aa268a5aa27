#pragma once

#include "fake-service/fake_content.h"

// "/api/sync.php": the changes logged after the caller's cursor in the workspaces the caller
// belongs to, oldest first, at most the state's page size per reply (the rest flagged as capped).
class FakeSyncRoutes
{
public:
    static void install(FakeService &service);

private:
    explicit FakeSyncRoutes(FakeService &service);

    HttpResponse pull(const FakeService::Call &call);

    FakeContent m_content;
};
