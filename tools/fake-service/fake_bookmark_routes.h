#pragma once

#include "fake-service/fake_service.h"

#include <QUrl>

// "/api/bookmark-fetch.php": a link preview without going out to the web. A URL seeded in the
// state's bookmarkPreviews answers with that preview; any other gets one made from its host and path.
class FakeBookmarkRoutes
{
public:
    static void install(FakeService &service);

    // The preview the fake makes up for a URL nobody seeded.
    static JSONObject previewFor(const QUrl &url);

private:
    explicit FakeBookmarkRoutes(FakeService &service);

    HttpResponse fetch(const FakeService::Call &call);

    FakeService &m_service;
};
