// An inline database of 1,000 rows x 3 columns in the page editor, against the fake service: how
// long it takes to show, and what one cell edit costs the event loop. Each figure is also given as a
// ratio to an anchor timed in the same run. Offscreen; run a Release build:
//   bench_database_block [rows]
#include "bench_stats.h"
#include "blocks/database_block.h"
#include "blocks/database_block_model.h"
#include "blocks/database_table_model.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "support/library_steps.h"
#include "support/test_device.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kRuns = 5;
constexpr int kEdits = 21;

double msSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

DatabaseBlockView *databaseView(PageView &page, const QString &blockLocalID)
{
    BlockRow *row = page.row(blockLocalID);
    return row ? qobject_cast<DatabaseBlockView *>(row->kindView()) : nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 1000;

    FakeService fake;
    if (!fake.start())
        return 1;
    const FakeService::Account account = fake.createAccount("bench@example.com", "secret12", "Bench");
    std::unique_ptr<TestDevice> device = deviceInWorkspace(fake, account);
    FNPage page = device->addPage(account.workspaceId, QStringLiteral("Tasks page"));
    if (!device->sync())
        return 1;
    page = *device->page(page.localID);

    FakeServiceState &s = fake.state();
    FakeServiceState::Database database{
        s.nextDatabaseId++, page.serverID, QStringLiteral("Tasks"),
        JSONValue::parse(
            R"([{"id":"c1","name":"Name","type":"text"},{"id":"c2","name":"Status","type":"select",)"
            R"("options":["Todo","Doing","Done"]},{"id":"c3","name":"Done","type":"checkbox"}])")
            .toArray(),
        FakeService::now()};
    s.databases[database.id] = database;
    const QStringList statuses{"Todo", "Doing", "Done"};
    for (int i = 0; i < rows; ++i) {
        FakeServiceState::DatabaseRow row;
        row.id = s.nextDatabaseRowId++;
        row.databaseId = database.id;
        row.position = i;
        row.data = {{"c1", QStringLiteral("Task number %1 with a longer name").arg(i)},
                    {"c2", statuses[i % 3]},
                    {"c3", i % 2 == 0}};
        s.databaseRows[row.id] = row;
    }
    const QString blockID = device->addBlock(page.localID, QString(), 0).localID;
    device->store().editBlock(blockID, [&](FNBlock &block) {
        block.type = QStringLiteral("database");
        block.contentJSON = QString::fromUtf8(serializeJSONObject({{"database_id", database.id}}));
    });

    // Anchor of the showing: the same list fetched and decoded through the client, nothing shown.
    std::vector<double> fetches;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer t;
        t.start();
        const DatabasesResp listed = QCoro::waitFor(device->client().listDatabases(page.serverID));
        fetches.push_back(msSince(t));
        if (listed.databases.empty() || int(listed.databases.front().rows.size()) != rows)
            return 1;
    }

    // The page opened with the block: built, loaded, laid out and painted.
    std::vector<double> shows, applies;
    std::unique_ptr<PageView> view;
    for (int i = 0; i < kRuns; ++i) {
        view.reset();
        QElapsedTimer t;
        t.start();
        view = std::make_unique<PageView>(device->context(), page.localID);
        view->resize(1000, 800);
        view->show();
        DatabaseBlockView *db = nullptr;
        QElapsedTimer applied;
        QElapsedTimer limit;
        limit.start();
        // Waits on events rather than polling, so the figure has no polling steps in it.
        while (!(db && db->tableModel().rowCount() == rows && !db->model().isLoading())) {
            if (limit.elapsed() > 60000)
                return 1;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (!db && (db = databaseView(*view, blockID)))
                QObject::connect(&db->model(), &DatabaseBlockModel::tableReset,
                                 [&applied] { applied.start(); });
        }
        view->grab(); // the first paint of what is in sight
        shows.push_back(msSince(t));
        applies.push_back(applied.isValid() ? msSince(applied) : 0.0);
    }
    QApplication::setActiveWindow(view.get());
    if (!QTest::qWaitForWindowActive(view.get()))
        return 1;
    DatabaseBlockView *db = databaseView(*view, blockID);

    // Anchor of the edit: one keystroke in a plain line edit of the same window, and its repaint.
    auto *plain = new QLineEdit(view.get());
    plain->move(10, 10);
    plain->show();
    plain->setFocus();
    std::vector<double> plainKeys;
    for (int i = 0; i < kEdits; ++i) {
        QElapsedTimer t;
        t.start();
        QTest::keyClick(plain, Qt::Key_X);
        QCoreApplication::processEvents();
        plainKeys.push_back(msSince(t));
    }
    delete plain;

    // One keystroke in a name cell: the local update, the cell's repaint and the send's scheduling;
    // then what the send costs when the pause ends.
    std::vector<double> keys, sends;
    for (int i = 0; i < kEdits; ++i) {
        const QModelIndex cell = db->tableModel().index(i % 10, 0);
        db->table()->setFocus();
        db->table()->setCurrentIndex(cell);
        if (!db->table()->isEditing())
            db->table()->edit(cell);
        auto *field = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        if (!field)
            return 1;
        // Opening the field repaints the table once (focus moves); that is not the keystroke's.
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        QTest::keyClick(field, Qt::Key_X);
        QCoreApplication::processEvents();
        keys.push_back(msSince(t));
        t.restart();
        db->model().flushSends();
        sends.push_back(msSince(t));
        // The send's exchange with the fake service (in this same process) is not the next edit's.
        if (!QTest::qWaitFor(
                [&] { return fake.requestsTo(QStringLiteral("/api/database-rows.php")).size() > i; }))
            return 1;
        QTest::qWait(20);
    }

    const double fetch = median(fetches);
    const double plainKey = median(plainKeys);
    std::printf("%d rows x 3 columns (medians of %d; edits of %d)\n", rows, kRuns, kEdits);
    std::printf("anchor  fetch: the list fetched and decoded, nothing shown       %8.2f ms  1.00\n", fetch);
    std::printf("        show: page opened until the table is loaded and painted  %8.2f ms  %5.2f\n",
                median(shows), median(shows) / fetch);
    std::printf("              of which the reply applied, laid out and painted   %8.2f ms  %5.2f\n",
                median(applies), median(applies) / fetch);
    std::printf("anchor  keystroke in a plain line edit, with its repaint          %8.3f ms  1.00\n",
                plainKey);
    std::printf("        keystroke in a cell: update, repaint, send scheduled      %8.3f ms  %5.2f\n",
                median(keys), median(keys) / plainKey);
    std::printf("        the cell's send when its pause ends                       %8.3f ms  %5.2f\n",
                median(sends), median(sends) / plainKey);
    view.reset();
    return 0;
}
