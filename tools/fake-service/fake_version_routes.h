#pragma once

#include "fake-service/fake_content.h"

// "/api/versions.php": a page's saved snapshots, newest first, and restoring one, which puts the
// snapshot's title and blocks back and logs every change for the devices to pull.
class FakeVersionRoutes
{
public:
    static void install(FakeService &service);

private:
    explicit FakeVersionRoutes(FakeService &service);

    HttpResponse list(const FakeService::Call &call);
    HttpResponse restore(const FakeService::Call &call);

    FakeContent m_content;
};
