#pragma once

#include "blocks/block_content.h"
#include "blocks/database_block.h"
#include "blocks/database_block_model.h"
#include "blocks/database_table_model.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "support/editor_steps.h"
#include "support/fake_http_client.h"
#include "support/library_steps.h"
#include "support/test_device.h"
#include "ui/toast_center.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <memory>
#include <utility>
#include <vector>

// The inline database block in the page editor, against the fake service: one account for the whole
// test case, a fresh device for each test. A test class derives from it, starting the service in
// initTestCase(), opening the device in init() and closing it in cleanup().
class DatabaseBlockFixture
{
protected:
    static inline const QString kDatabases = QStringLiteral("/api/databases.php");
    static inline const QString kRows = QStringLiteral("/api/database-rows.php");
    static constexpr std::chrono::milliseconds kCellDelay{150};
    static inline const QByteArray kColumns =
        R"([{"id":"c1","name":"Name","type":"text"},{"id":"c2","name":"Status","type":"select",)"
        R"("options":["Todo","Doing","Done"]},{"id":"c3","name":"Done","type":"checkbox"},)"
        R"({"id":"c4","name":"Estimate","type":"number"}])";

    static JSONObject jsonObject(const QByteArray &text) { return parseJSONObject(text); }
    // The texts of a menu's items, its separators left out.
    static QStringList texts(const QList<QAction *> &actions)
    {
        QStringList out;
        for (QAction *action : actions) {
            if (!action->isSeparator())
                out << action->text();
        }
        return out;
    }

    bool startService()
    {
        if (!m_fake.start())
            return false;
        m_account =
            m_fake.createAccount(QStringLiteral("tables@example.com"), "secret12", QStringLiteral("Tab"));
        return !m_account.token.isEmpty();
    }

    void openDevice()
    {
        EditorSteps::useFake(m_fake);
        m_device = deviceInWorkspace(m_fake, m_account);
    }

    void closeDevice()
    {
        m_view.reset();
        m_fake.releaseHeldAnswers();
        m_fake.clearFaults();
        m_fake.setOffline(false);
        m_toasts.dismiss();
        m_other.reset();
        m_device.reset();
    }

    // A page (on the service unless told) holding one database block with `content`.
    bool addBlock(const JSONObject &content, bool pageOnService = true);
    DatabaseBlockView *openBlock(const JSONObject &content, bool pageOnService = true)
    {
        return addBlock(content, pageOnService) ? openPage(*m_device, m_page.localID) : nullptr;
    }
    // The block showing a database of the four test columns with rows of (position, data).
    DatabaseBlockView *openDatabase(const std::vector<std::pair<qint64, QByteArray>> &rows,
                                    std::chrono::milliseconds cellDelay = kCellDelay);
    DatabaseBlockView *openPage(TestDevice &device, const QString &pageLocalID,
                                std::chrono::milliseconds cellDelay = kCellDelay);
    // A database of the test's page with the four test columns and rows of (position, data).
    qint64 seedDatabase(const std::vector<std::pair<qint64, QByteArray>> &rows);
    qint64 rowID(qint64 databaseId, int at);
    static bool showsTable(DatabaseBlockView *view, int rows);
    // A click in the middle of a cell, as the user gives it.
    static void click(DatabaseBlockView *view, int row, int column);
    // The field open in the table, when one has the keyboard.
    static QLineEdit *openField(DatabaseBlockView *view);
    // A click in the cell, then `text` typed over its value; false when no field opens.
    static bool typeOver(DatabaseBlockView *view, int row, int column, const QString &text);
    static QString shown(DatabaseBlockView *view, int row, int column);
    std::vector<JSONObject> patches() const;
    std::vector<HttpRequest> loads() const { return requestsWith(m_fake, kDatabases, "GET"); }
    // Everything sent before this has reached the fake once it returns.
    void roundTrip() { FakeHttpClient(m_fake).get(QStringLiteral("/api/workspaces.php"), m_account.token); }

    FakeService m_fake;
    FakeService::Account m_account;
    ToastCenter m_toasts;
    std::unique_ptr<TestDevice> m_device;
    std::unique_ptr<TestDevice> m_other;
    std::unique_ptr<PageView> m_view;
    FNPage m_page;
    QString m_blockID;
    qint64 m_databaseID = 0;
};

inline bool DatabaseBlockFixture::addBlock(const JSONObject &content, bool pageOnService)
{
    m_page = m_device->addPage(m_account.workspaceId, QStringLiteral("Plans"));
    if (pageOnService && !m_device->sync())
        return false;
    m_page = *m_device->page(m_page.localID);
    m_blockID = m_device->addBlock(m_page.localID, QString(), 0).localID;
    m_device->store().editBlock(m_blockID, [&](FNBlock &block) {
        block.type = QStringLiteral("database");
        block.contentJSON = QString::fromUtf8(serializeJSONObject(content));
    });
    return true;
}

inline DatabaseBlockView *
DatabaseBlockFixture::openDatabase(const std::vector<std::pair<qint64, QByteArray>> &rows,
                                   std::chrono::milliseconds cellDelay)
{
    if (!addBlock({}))
        return nullptr;
    // Another table of the same page comes first in its list.
    seedDatabase({{0, R"({"c1":"Not this one"})"}});
    m_databaseID = seedDatabase(rows);
    m_device->store().editBlock(m_blockID, [&](FNBlock &block) {
        block.contentJSON = QString::fromUtf8(serializeJSONObject({{"database_id", m_databaseID}}));
    });
    return openPage(*m_device, m_page.localID, cellDelay);
}

inline DatabaseBlockView *DatabaseBlockFixture::openPage(TestDevice &device, const QString &pageLocalID,
                                                         std::chrono::milliseconds cellDelay)
{
    PageViewModel::Timing timing = EditorSteps::fastTiming();
    timing.rowText = cellDelay;
    AppContext context = device.context();
    context.toasts = &m_toasts;
    m_view = std::make_unique<PageView>(context, pageLocalID, nullptr, timing);
    m_view->resize(900, 700);
    m_view->show();
    QApplication::setActiveWindow(m_view.get());
    if (!QTest::qWaitForWindowActive(m_view.get()) || !QTest::qWaitFor([&] { return m_view->isLaidOut(); }))
        return nullptr;
    for (const FNBlock &block : device.liveBlocks(pageLocalID)) {
        if (block.type == QLatin1String("database")) {
            BlockRow *row = m_view->row(block.localID);
            return row ? qobject_cast<DatabaseBlockView *>(row->kindView()) : nullptr;
        }
    }
    return nullptr;
}

inline qint64 DatabaseBlockFixture::seedDatabase(const std::vector<std::pair<qint64, QByteArray>> &rows)
{
    FakeServiceState &s = m_fake.state();
    FakeServiceState::Database database{s.nextDatabaseId++, m_page.serverID, QStringLiteral("Plans"),
                                        JSONValue::parse(kColumns).toArray(), FakeService::now()};
    s.databases[database.id] = database;
    for (const auto &[position, data] : rows) {
        FakeServiceState::DatabaseRow row;
        row.id = s.nextDatabaseRowId++;
        row.databaseId = database.id;
        row.position = position;
        row.data = jsonObject(data);
        row.createdAt = row.updatedAt = FakeService::now();
        s.databaseRows[row.id] = row;
    }
    return database.id;
}

inline qint64 DatabaseBlockFixture::rowID(qint64 databaseId, int at)
{
    int seen = 0;
    for (const auto &[id, row] : m_fake.state().databaseRows) {
        if (row.databaseId == databaseId && seen++ == at)
            return id;
    }
    return 0;
}

inline bool DatabaseBlockFixture::showsTable(DatabaseBlockView *view, int rows)
{
    if (!view || !view->table() || !view->table()->isVisible() || view->tableModel().rowCount() != rows ||
        view->model().isLoading())
        return false;
    // Tall enough for its column names and every row: the page scrolls, never the table.
    const int header = view->table()->horizontalHeader()->height();
    return header > 0 && view->table()->height() >= header + rows * view->table()->rowHeight();
}

inline void DatabaseBlockFixture::click(DatabaseBlockView *view, int row, int column)
{
    DatabaseTableView *table = view->table();
    const QRect cell = table->visualRect(view->tableModel().index(row, column));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

inline QLineEdit *DatabaseBlockFixture::openField(DatabaseBlockView *view)
{
    auto *field = qobject_cast<QLineEdit *>(QApplication::focusWidget());
    return field && view->table()->isAncestorOf(field) ? field : nullptr;
}

inline bool DatabaseBlockFixture::typeOver(DatabaseBlockView *view, int row, int column, const QString &text)
{
    click(view, row, column);
    if (!QTest::qWaitFor([view] { return openField(view) != nullptr; }))
        return false;
    openField(view)->selectAll();
    QTest::keyClicks(openField(view), text);
    return true;
}

inline QString DatabaseBlockFixture::shown(DatabaseBlockView *view, int row, int column)
{
    return view->tableModel().data(view->tableModel().index(row, column)).toString();
}

inline std::vector<JSONObject> DatabaseBlockFixture::patches() const
{
    std::vector<JSONObject> out;
    for (const HttpRequest &r : requestsWith(m_fake, kRows, "PATCH"))
        out.push_back(jsonObject(r.body));
    return out;
}
