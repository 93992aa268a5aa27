#pragma once

#include "fake-service/fake_content.h"

// "/api/blocks.php": a page's blocks, the batch upsert that replaces a page's block set with the
// one a device pushes (acknowledging each client id), and deleting one block.
class FakeBlockRoutes
{
public:
    static void install(FakeService &service);

private:
    explicit FakeBlockRoutes(FakeService &service);

    HttpResponse list(const FakeService::Call &call);
    HttpResponse upsert(const FakeService::Call &call);
    HttpResponse remove(const FakeService::Call &call);

    FakeContent m_content;
};
