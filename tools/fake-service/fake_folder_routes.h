#pragma once

#include "fake-service/fake_content.h"

// "/api/folders.php": a workspace's folders (list, create, rename, re-icon, re-parent, delete) and,
// with "?move_page=1", moving a page into or out of a folder.
class FakeFolderRoutes
{
public:
    static void install(FakeService &service);

private:
    explicit FakeFolderRoutes(FakeService &service);

    HttpResponse list(const FakeService::Call &call);
    HttpResponse create(const FakeService::Call &call);
    HttpResponse patch(const FakeService::Call &call);
    HttpResponse movePage(const FakeService::Call &call);
    HttpResponse remove(const FakeService::Call &call);

    bool isWithin(qint64 folderId, qint64 ancestorId);

    FakeContent m_content;
};
