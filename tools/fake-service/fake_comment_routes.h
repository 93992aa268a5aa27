#pragma once

#include "fake-service/fake_content.h"

// "/api/comments.php": a page's comments, oldest first, and adding one on the page, a block or a
// stretch of a block's text. Visitors of a published page that takes comments add theirs, with the
// name they give, through POST "/p/<slug>/comments".
class FakeCommentRoutes
{
public:
    static void install(FakeService &service);

private:
    explicit FakeCommentRoutes(FakeService &service);

    HttpResponse list(const FakeService::Call &call);
    HttpResponse create(const FakeService::Call &call);
    HttpResponse createAsGuest(const FakeService::Call &call);

    JSONObject commentJson(const FakeServiceState::Comment &comment);

    FakeContent m_content;
};
