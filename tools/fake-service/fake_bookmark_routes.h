#pragma once

#include "fake-service/fake_service.h"

#include <QUrl>

// "/api/bookmark-fetch.php": a link preview without going out to the web. A URL seeded in the
// state's bookmarkPreviews answers with that preview; any other gets one made from its host and path,
// whose image the fake itself serves under "/og-images/", so a thumbnail loads over loopback.
class FakeBookmarkRoutes
{
public:
    static void install(FakeService &service);

    // The preview the fake makes up for a URL nobody seeded; its image lies under `origin`.
    static JSONObject previewFor(const QUrl &url, const QString &origin);
    // The image served at "/og-images/<host>.png": a small PNG coloured by the host.
    static QByteArray previewImage(const QString &host);

private:
    explicit FakeBookmarkRoutes(FakeService &service);

    HttpResponse fetch(const FakeService::Call &call);
    HttpResponse image(const FakeService::Call &call);

    FakeService &m_service;
};
