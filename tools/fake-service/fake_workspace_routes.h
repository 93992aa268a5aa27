#pragma once

#include "fake-service/fake_service.h"

// "/api/workspaces.php": the workspaces the caller belongs to, with the caller's role in each.
class FakeWorkspaceRoutes
{
public:
    static void install(FakeService &service);

private:
    explicit FakeWorkspaceRoutes(FakeService &service);

    HttpResponse list(const FakeService::Call &call);

    FakeService &m_service;
};
