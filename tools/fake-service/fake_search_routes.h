#pragma once

#include "fake-service/fake_content.h"

// "/api/search.php": a workspace's live pages whose title or block text holds the search text,
// compared without regard to case; title hits come first.
class FakeSearchRoutes
{
public:
    static void install(FakeService &service);

private:
    explicit FakeSearchRoutes(FakeService &service);

    HttpResponse search(const FakeService::Call &call);

    static QString excerpt(const QString &text, qsizetype at, qsizetype length);

    FakeContent m_content;
};
