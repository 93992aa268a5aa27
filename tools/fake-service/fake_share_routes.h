#pragma once

#include "fake-service/fake_content.h"

// "/api/share.php": who has access to a page, inviting by e-mail with one of the six roles (a known
// address becomes a share at once, an unknown one a pending invitation), and removing either.
class FakeShareRoutes
{
public:
    static void install(FakeService &service);

    // The permission words the service stores for a role; empty for an unknown role.
    static QStringList permissionsOf(const QString &role);

private:
    explicit FakeShareRoutes(FakeService &service);

    HttpResponse list(const FakeService::Call &call);
    HttpResponse invite(const FakeService::Call &call);
    HttpResponse remove(const FakeService::Call &call);

    static JSONArray words(const QString &role);

    FakeContent m_content;
};
