#pragma once

#include "fake-service/fake_content.h"

// "/api/databases.php" and "/api/database-rows.php": the small databases inside pages, with their
// columns and rows (list a page's databases, create one, add a row, change a row).
class FakeDatabaseRoutes
{
public:
    static void install(FakeService &service);

private:
    explicit FakeDatabaseRoutes(FakeService &service);

    HttpResponse list(const FakeService::Call &call);
    HttpResponse create(const FakeService::Call &call);
    HttpResponse addRow(const FakeService::Call &call);
    HttpResponse patchRow(const FakeService::Call &call);

    JSONObject databaseJson(const FakeServiceState::Database &database) const;
    static JSONObject rowJson(const FakeServiceState::DatabaseRow &row);

    FakeContent m_content;
};
