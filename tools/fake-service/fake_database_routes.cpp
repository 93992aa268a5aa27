#include "fake-service/fake_database_routes.h"

#include "fake-service/fake_input.h"

#include <QSet>

#include <algorithm>
#include <memory>

namespace {

const QString DatabasesPath = QStringLiteral("/api/databases.php");
const QString RowsPath = QStringLiteral("/api/database-rows.php");

} // namespace

void FakeDatabaseRoutes::install(FakeService &service)
{
    const std::shared_ptr<FakeDatabaseRoutes> routes(new FakeDatabaseRoutes(service));
    service.route("GET", DatabasesPath, [routes](const FakeService::Call &c) { return routes->list(c); });
    service.route("POST", DatabasesPath, [routes](const FakeService::Call &c) { return routes->create(c); });
    service.route("POST", RowsPath, [routes](const FakeService::Call &c) { return routes->addRow(c); });
    service.route("PATCH", RowsPath, [routes](const FakeService::Call &c) { return routes->patchRow(c); });
}

FakeDatabaseRoutes::FakeDatabaseRoutes(FakeService &service)
    : m_content(service)
{
}

HttpResponse FakeDatabaseRoutes::list(const FakeService::Call &call)
{
    // The block asks with page 0 while its page is not on the service yet: no page, no databases.
    if (FakeInput(call).queryText(QStringLiteral("page_id")) == QLatin1String("0"))
        return FakeService::reply(200, JSONObject{{QStringLiteral("databases"), JSONArray()}});
    const FakeContent::PageCheck check = m_content.checkQueryPage(call, FakeContent::Need::View);
    if (!check.page)
        return check.refusal;
    const qint64 pageId = check.page->id;
    JSONArray databases;
    for (const auto &entry : m_content.state().databases) {
        if (entry.second.pageId == pageId)
            databases.emplace_back(databaseJson(entry.second));
    }
    return FakeService::reply(200, JSONObject{{QStringLiteral("databases"), std::move(databases)}});
}

HttpResponse FakeDatabaseRoutes::create(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 pageId = in.id(QStringLiteral("page_id"));
    const QString name = in.optString(QStringLiteral("name")).value_or(QStringLiteral("Untitled"));
    const std::optional<JSONArray> given = in.optArray(QStringLiteral("columns"));
    if (in.failed())
        return in.failure();

    JSONArray columns;
    QSet<QString> ids;
    for (size_t i = 0; given && i < given->size(); ++i) {
        const QString context = QStringLiteral("columns[%1]").arg(i);
        if (!(*given)[i].isObject())
            return FakeService::error(400, context + QStringLiteral(" must be an object"));
        FakeInput column((*given)[i].toObject(), context);
        const QString id = column.string(QStringLiteral("id"));
        const QString columnName = column.string(QStringLiteral("name"));
        const QString type = column.string(QStringLiteral("type"));
        const std::optional<JSONArray> options = column.optArray(QStringLiteral("options"));
        if (!column.failed() && (id.isEmpty() || ids.contains(id)))
            column.fail(context + QStringLiteral(".id must be a new, non-empty text"));
        for (const JSONValue &option : options.value_or(JSONArray())) {
            if (!option.isString())
                column.fail(context + QStringLiteral(".options must hold texts"));
        }
        if (column.failed())
            return column.failure();
        ids.insert(id);
        JSONObject o{
            {QStringLiteral("id"), id}, {QStringLiteral("name"), columnName}, {QStringLiteral("type"), type}};
        if (options)
            o[QStringLiteral("options")] = *options;
        columns.emplace_back(std::move(o));
    }
    if (!given) {
        columns.emplace_back(JSONObject{{QStringLiteral("id"), "c1"},
                                        {QStringLiteral("name"), "Name"},
                                        {QStringLiteral("type"), "text"}});
    }

    const FakeContent::PageCheck check = m_content.checkPage(call.userId, pageId, FakeContent::Need::Edit);
    if (!check.page)
        return check.refusal;
    FakeServiceState &s = m_content.state();
    FakeServiceState::Database database{s.nextDatabaseId++, pageId, name, std::move(columns),
                                        FakeContent::now()};
    s.databases[database.id] = database;
    return FakeService::reply(200, JSONObject{{QStringLiteral("database"), databaseJson(database)}});
}

HttpResponse FakeDatabaseRoutes::addRow(const FakeService::Call &call)
{
    FakeInput in(call);
    FakeServiceState::DatabaseRow row;
    row.databaseId = in.id(QStringLiteral("database_id"));
    row.data = in.object(QStringLiteral("data"));
    row.position = in.integer(QStringLiteral("position"));
    if (in.failed())
        return in.failure();
    FakeServiceState &s = m_content.state();
    const auto database = s.databases.find(row.databaseId);
    if (database == s.databases.end())
        return FakeService::error(404, QStringLiteral("Database not found"));
    const FakeContent::PageCheck check =
        m_content.checkPage(call.userId, database->second.pageId, FakeContent::Need::Edit);
    if (!check.page)
        return check.refusal;

    row.id = s.nextDatabaseRowId++;
    row.createdAt = row.updatedAt = FakeContent::now();
    s.databaseRows[row.id] = row;
    return FakeService::reply(200, JSONObject{{QStringLiteral("row"), rowJson(row)}});
}

HttpResponse FakeDatabaseRoutes::patchRow(const FakeService::Call &call)
{
    FakeInput in(call);
    const qint64 rowId = in.id(QStringLiteral("row_id"));
    const std::optional<JSONObject> data = in.optObject(QStringLiteral("data"));
    const std::optional<qint64> position = in.optInteger(QStringLiteral("position"));
    if (in.failed())
        return in.failure();
    FakeServiceState &s = m_content.state();
    const auto row = s.databaseRows.find(rowId);
    const auto database =
        row == s.databaseRows.end() ? s.databases.end() : s.databases.find(row->second.databaseId);
    if (database == s.databases.end())
        return FakeService::error(404, QStringLiteral("Row not found"));
    const FakeContent::PageCheck check =
        m_content.checkPage(call.userId, database->second.pageId, FakeContent::Need::Edit);
    if (!check.page)
        return check.refusal;

    // The client sends the row's whole data after an edit, so it replaces what was there.
    if (data)
        row->second.data = *data;
    if (position)
        row->second.position = *position;
    row->second.updatedAt = FakeContent::now();
    return FakeContent::ok();
}

JSONObject FakeDatabaseRoutes::databaseJson(const FakeServiceState::Database &database) const
{
    std::vector<const FakeServiceState::DatabaseRow *> found;
    for (const auto &entry : m_content.state().databaseRows) {
        if (entry.second.databaseId == database.id)
            found.push_back(&entry.second);
    }
    std::stable_sort(found.begin(), found.end(), [](auto *a, auto *b) { return a->position < b->position; });
    JSONArray rows;
    for (const auto *row : found)
        rows.emplace_back(rowJson(*row));
    return JSONObject{{QStringLiteral("id"), database.id},
                      {QStringLiteral("page_id"), database.pageId},
                      {QStringLiteral("name"), database.name},
                      {QStringLiteral("columns"), database.columns},
                      {QStringLiteral("rows"), std::move(rows)}};
}

JSONObject FakeDatabaseRoutes::rowJson(const FakeServiceState::DatabaseRow &row)
{
    return JSONObject{{QStringLiteral("id"), row.id},
                      {QStringLiteral("database_id"), row.databaseId},
                      {QStringLiteral("position"), row.position},
                      {QStringLiteral("data"), row.data},
                      {QStringLiteral("linked_page_id"), FakeContent::idOrNull(row.linkedPageId)},
                      {QStringLiteral("created_at"), FakeContent::stamp(row.createdAt)},
                      {QStringLiteral("updated_at"), FakeContent::stamp(row.updatedAt)}};
}
