// The inline database block in the page editor, against the fake service: loading, creating the
// default table, adding rows and the delayed sends of cell edits.
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

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString kDatabases = QStringLiteral("/api/databases.php");
const QString kRows = QStringLiteral("/api/database-rows.php");
constexpr std::chrono::milliseconds kCellDelay{150};

const QByteArray kColumns =
    R"([{"id":"c1","name":"Name","type":"text"},{"id":"c2","name":"Status","type":"select",)"
    R"("options":["Todo","Doing","Done"]},{"id":"c3","name":"Done","type":"checkbox"},)"
    R"({"id":"c4","name":"Estimate","type":"number"}])";

JSONObject jsonObject(const QByteArray &text)
{
    return parseJSONObject(text);
}

QStringList texts(const QList<QAction *> &actions)
{
    QStringList out;
    for (QAction *action : actions) {
        if (!action->isSeparator())
            out << action->text();
    }
    return out;
}

} // namespace

class TestDatabaseBlock : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void numberValue_data();
    void numberValue();

    void noDatabaseMakesNoRequest_data();
    void noDatabaseMakesNoRequest();
    void loadsEachTimeItAppears_data();
    void loadsEachTimeItAppears();
    void insertWaitsForThePage();
    void unknownIdOffersInsert();
    void insertCreatesTheDefaultTable();
    void doublePressCreatesOneDatabase();
    void addRowPosition_data();
    void addRowPosition();
    void failuresShowTheirMessage_data();
    void failuresShowTheirMessage();
    void addedRowAcrossAReload_data();
    void addedRowAcrossAReload();

    void quickKeystrokesSendOnePatch();
    void twoCellsSendTwoPatches();
    void closingThePageSendsAtOnce();
    void signedOutChangesNothing();
    void reloadKeepsPendingEdits_data();
    void reloadKeepsPendingEdits();
    void negativeNumberTypedKeyByKey();
    void selectMenu_data();
    void selectMenu();

    void reopenedAndOnASecondDevice();

private:
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
    static QString shown(DatabaseBlockView *view, int row, int column);
    std::vector<JSONObject> patches() const;
    std::vector<HttpRequest> loads() const { return requestsWith(m_fake, kDatabases, "GET"); }
    // Everything sent before this has reached the fake once it returns.
    void roundTrip() { FakeHttpClient(m_fake).get(QStringLiteral("/api/workspaces.php"), m_account.token); }

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    std::unique_ptr<TestDevice> m_other;
    std::unique_ptr<PageView> m_view;
    FNPage m_page;
    QString m_blockID;
    qint64 m_databaseID = 0;
};

void TestDatabaseBlock::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount(QStringLiteral("tables@example.com"), "secret12", QStringLiteral("Tab"));
}

void TestDatabaseBlock::init()
{
    EditorSteps::useFake(m_fake);
    m_device = deviceInWorkspace(m_fake, m_account);
}

void TestDatabaseBlock::cleanup()
{
    m_view.reset();
    m_fake.clearFaults();
    m_other.reset();
    m_device.reset();
}

bool TestDatabaseBlock::addBlock(const JSONObject &content, bool pageOnService)
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

DatabaseBlockView *TestDatabaseBlock::openDatabase(const std::vector<std::pair<qint64, QByteArray>> &rows,
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

DatabaseBlockView *TestDatabaseBlock::openPage(TestDevice &device, const QString &pageLocalID,
                                               std::chrono::milliseconds cellDelay)
{
    PageViewModel::Timing timing = EditorSteps::fastTiming();
    timing.rowText = cellDelay;
    m_view = std::make_unique<PageView>(device.context(), pageLocalID, nullptr, timing);
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

qint64 TestDatabaseBlock::seedDatabase(const std::vector<std::pair<qint64, QByteArray>> &rows)
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

qint64 TestDatabaseBlock::rowID(qint64 databaseId, int at)
{
    int seen = 0;
    for (const auto &[id, row] : m_fake.state().databaseRows) {
        if (row.databaseId == databaseId && seen++ == at)
            return id;
    }
    return 0;
}

bool TestDatabaseBlock::showsTable(DatabaseBlockView *view, int rows)
{
    if (!view || !view->table() || !view->table()->isVisible() || view->tableModel().rowCount() != rows ||
        view->model().isLoading())
        return false;
    // Tall enough for its column names and every row: the page scrolls, never the table.
    const int header = view->table()->horizontalHeader()->height();
    return header > 0 && view->table()->height() >= header + rows * view->table()->rowHeight();
}

void TestDatabaseBlock::click(DatabaseBlockView *view, int row, int column)
{
    DatabaseTableView *table = view->table();
    const QRect cell = table->visualRect(view->tableModel().index(row, column));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

QLineEdit *TestDatabaseBlock::openField(DatabaseBlockView *view)
{
    auto *field = qobject_cast<QLineEdit *>(QApplication::focusWidget());
    return field && view->table()->isAncestorOf(field) ? field : nullptr;
}

QString TestDatabaseBlock::shown(DatabaseBlockView *view, int row, int column)
{
    return view->tableModel().data(view->tableModel().index(row, column)).toString();
}

std::vector<JSONObject> TestDatabaseBlock::patches() const
{
    std::vector<JSONObject> out;
    for (const HttpRequest &r : requestsWith(m_fake, kRows, "PATCH"))
        out.push_back(jsonObject(r.body));
    return out;
}

void TestDatabaseBlock::numberValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("kind"); // "number", "null" or "none" (nothing happens)
    QTest::addColumn<double>("number");

    QTest::newRow("spaces around") << "  12.5 "
                                   << "number" << 12.5;
    QTest::newRow("tabs around") << "\t3\t"
                                 << "number" << 3.0;
    QTest::newRow("exponent") << "1e3"
                              << "number" << 1000.0;
    QTest::newRow("leading plus") << "+4"
                                  << "number" << 4.0;
    QTest::newRow("negative fraction") << "-1.5"
                                       << "number" << -1.5;
    QTest::newRow("trailing point") << "1."
                                    << "number" << 1.0;
    QTest::newRow("empty") << ""
                           << "null" << 0.0;
    QTest::newRow("blank") << " \t  "
                           << "null" << 0.0;
    QTest::newRow("letter after") << "12a"
                                  << "none" << 0.0;
    QTest::newRow("line break before") << "\n12"
                                       << "none" << 0.0;
    QTest::newRow("line break after") << "12\n"
                                      << "none" << 0.0;
    QTest::newRow("sign alone") << "-"
                                << "none" << 0.0;
    QTest::newRow("decimal comma") << "1,5"
                                   << "none" << 0.0;
    QTest::newRow("too large for JSON") << "1e999"
                                        << "none" << 0.0;
    QTest::newRow("not a number") << "nan"
                                  << "none" << 0.0;
}

void TestDatabaseBlock::numberValue()
{
    QFETCH(QString, text);
    QFETCH(QString, kind);
    QFETCH(double, number);
    const std::optional<JSONValue> value = DatabaseBlock::numberValue(text);
    if (kind == QLatin1String("none")) {
        QVERIFY(!value);
    } else if (kind == QLatin1String("null")) {
        QVERIFY(value && value->isNull());
    } else {
        QVERIFY(value && value->isDouble());
        QCOMPARE(value->toDouble(), number);
    }
}

void TestDatabaseBlock::noDatabaseMakesNoRequest_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("signedIn");

    QTest::newRow("no database id") << QByteArray(R"({"text":""})") << true;
    QTest::newRow("an id written as text") << QByteArray(R"({"database_id":"1"})") << true;
    QTest::newRow("a fractional id") << QByteArray(R"({"database_id":1.5})") << true;
    QTest::newRow("signed out") << QByteArray(R"({"database_id":1})") << false;
}

void TestDatabaseBlock::noDatabaseMakesNoRequest()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, signedIn);
    if (!signedIn)
        m_device->setToken(std::nullopt);
    DatabaseBlockView *view = openBlock(jsonObject(content), signedIn);
    QVERIFY(view);
    QVERIFY(!view->model().isLoading());
    QVERIFY(view->insertButton()->isVisible());
    QVERIFY(!view->table()->isVisible());
    roundTrip();
    QVERIFY(loads().empty());
}

void TestDatabaseBlock::loadsEachTimeItAppears_data()
{
    QTest::addColumn<QString>("then");
    QTest::addColumn<int>("expected");

    QTest::newRow("built") << "" << 1;
    QTest::newRow("hidden and shown again") << "hide" << 2;
    QTest::newRow("window minimised and restored") << "minimise" << 1;
}

void TestDatabaseBlock::loadsEachTimeItAppears()
{
    QFETCH(QString, then);
    QFETCH(int, expected);
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"First"})"}});
    QTRY_VERIFY(showsTable(view, 1));
    QCOMPARE(view->nameLabel()->text(), QStringLiteral("Plans"));
    QCOMPARE(shown(view, 0, 0), QStringLiteral("First"));
    // The page asks with its own id.
    QCOMPARE(loads().front().queryValue(QStringLiteral("page_id")).value_or(QString()),
             QString::number(m_page.serverID));

    if (then == QLatin1String("hide")) {
        m_view->hide();
        m_view->show();
    } else if (then == QLatin1String("minimise")) {
        m_view->showMinimized();
        QVERIFY(!view->model().isLoading());
        m_view->showNormal();
    }
    QCOMPARE(view->model().isLoading(), expected > 1);
    QTRY_COMPARE(int(loads().size()), expected);
    QTRY_VERIFY(showsTable(view, 1));
}

void TestDatabaseBlock::insertWaitsForThePage()
{
    DatabaseBlockView *view = openBlock({}, false);
    QVERIFY(view);
    QVERIFY(view->insertButton()->isVisible());
    QVERIFY(!view->insertButton()->isEnabled());
    // The page reaches the service: its blocks learn its id and the button comes on.
    QVERIFY(m_device->sync());
    QTRY_VERIFY(view->insertButton()->isEnabled());
}

void TestDatabaseBlock::unknownIdOffersInsert()
{
    FakeService::Fault slow = FakeService::Fault::delay(300);
    slow.remaining = 1;
    m_fake.setFault(kDatabases, slow);
    DatabaseBlockView *view = openBlock({{"database_id", 987654}});
    QVERIFY(view);
    // While the list loads, a progress indicator holds the block's place.
    QVERIFY(view->progress()->isVisible());
    QVERIFY(!view->insertButton()->isVisible());
    QTRY_VERIFY(!view->model().isLoading());
    QVERIFY(!view->progress()->isVisible());
    // The page's list lacks the id: a new table can take its place.
    QVERIFY(view->insertButton()->isVisible() && view->insertButton()->isEnabled());
    view->insertButton()->click();
    QTRY_VERIFY(showsTable(view, 0));
    QCOMPARE(BlockContent::decode(m_device->block(m_blockID)->contentJSON).at("database_id"),
             JSONValue(m_fake.state().databases.rbegin()->first));
}

void TestDatabaseBlock::insertCreatesTheDefaultTable()
{
    DatabaseBlockView *view = openBlock({{"text", ""}});
    QVERIFY(view && view->insertButton()->isEnabled());
    view->insertButton()->setFocus();
    QTest::keyClick(view->insertButton(), Qt::Key_Space);

    QTRY_VERIFY(showsTable(view, 0));
    const QList<HttpRequest> sent = m_fake.requestsTo(kDatabases);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.front().method, QByteArray("POST"));
    QCOMPARE(sent.front().body,
             R"({"page_id":)" + QByteArray::number(m_page.serverID) +
                 R"(,"name":"Tasks","columns":[{"id":"c1","name":"Name","type":"text"},)"
                 R"({"id":"c2","name":"Status","type":"select","options":["Todo","Doing","Done"]},)"
                 R"({"id":"c3","name":"Done","type":"checkbox"}]})");
    // The id is stored as an integer, beside what the block held.
    const JSONObject content = BlockContent::decode(m_device->block(m_blockID)->contentJSON);
    QVERIFY(content.at("database_id").isInt());
    QCOMPARE(content.at("database_id").toInt(), m_fake.state().databases.rbegin()->first);
    QVERIFY(content.count("text"));

    QCOMPARE(view->nameLabel()->text(), QStringLiteral("Tasks"));
    QHeaderView *header = view->table()->horizontalHeader();
    // The type's width, or a little more where the font needs it for the column's name.
    QCOMPARE(header->sectionSize(0), 200);
    QCOMPARE(header->sectionSize(1), 140);
    QVERIFY(header->sectionSize(2) >= 56 && header->sectionSize(2) < 100);
    QCOMPARE(view->tableModel().headerData(1, Qt::Horizontal).toString(), QStringLiteral("Status"));
    QVERIFY(!view->insertButton()->isVisible());
    // The keyboard moves on to what comes next: Space adds the first row.
    QTRY_VERIFY(view->addRowButton()->hasFocus());
    QTest::keyClick(view->addRowButton(), Qt::Key_Space);
    QTRY_VERIFY(showsTable(view, 1));
}

void TestDatabaseBlock::doublePressCreatesOneDatabase()
{
    DatabaseBlockView *view = openBlock({{"text", ""}});
    QVERIFY(view && view->insertButton()->isEnabled());
    const auto before = m_fake.state().databases.size();
    FakeService::Fault slow = FakeService::Fault::delay(300);
    slow.remaining = 1;
    m_fake.setFault(kDatabases, slow);
    view->insertButton()->click();
    view->insertButton()->click();
    QTRY_VERIFY(showsTable(view, 0));
    QTest::qWait(100);
    QCOMPARE(m_fake.state().databases.size(), before + 1);
    QCOMPARE(m_fake.requestsTo(kDatabases).size(), 1);
}

void TestDatabaseBlock::addRowPosition_data()
{
    QTest::addColumn<QList<qint64>>("positions"); // in the order the service lists them
    QTest::addColumn<qint64>("sent");

    QTest::newRow("empty table") << QList<qint64>{} << qint64(0);
    QTest::newRow("after the last listed, not the largest") << QList<qint64>{0, 7, 3} << qint64(4);
}

void TestDatabaseBlock::addRowPosition()
{
    QFETCH(QList<qint64>, positions);
    QFETCH(qint64, sent);
    QVERIFY(addBlock({}));
    std::vector<std::pair<qint64, QByteArray>> rows;
    for (qint64 p : positions)
        rows.emplace_back(p, "{}");
    const qint64 id = seedDatabase(rows);
    // The service's own list order, which need not follow the positions.
    QByteArray listed;
    for (int i = 0; i < positions.size(); ++i) {
        listed += QByteArray(i ? "," : "") + R"({"id":)" + QByteArray::number(rowID(id, i)) +
                  R"(,"position":)" + QByteArray::number(positions[i]) + R"(,"data":{}})";
    }
    FakeService::Fault canned = FakeService::Fault::http(
        200, R"({"databases":[{"id":)" + QByteArray::number(id) + R"(,"page_id":)" +
                 QByteArray::number(m_page.serverID) + R"(,"name":"Plans","columns":)" + kColumns +
                 R"(,"rows":[)" + listed + "]}]}");
    canned.remaining = 1;
    m_fake.setFault(kDatabases, canned);
    m_device->store().editBlock(m_blockID, [&](FNBlock &block) {
        block.contentJSON = QString::fromUtf8(serializeJSONObject({{"database_id", id}}));
    });
    DatabaseBlockView *view = openPage(*m_device, m_page.localID);
    QTRY_VERIFY(showsTable(view, int(positions.size())));

    QTest::mouseClick(view->addRowButton(), Qt::LeftButton);
    QTRY_VERIFY(showsTable(view, int(positions.size()) + 1));
    const std::vector<HttpRequest> added = requestsWith(m_fake, kRows, "POST");
    QCOMPARE(added.size(), size_t(1));
    QCOMPARE(added.front().body, R"({"database_id":)" + QByteArray::number(id) + R"(,"data":{},"position":)" +
                                     QByteArray::number(sent) + "}");
    // The new row's first field has the keyboard: the name typed right away lands there.
    QTRY_VERIFY(openField(view));
    QTest::keyClicks(openField(view), QStringLiteral("Milk"));
    QCOMPARE(shown(view, int(positions.size()), 0), QStringLiteral("Milk"));
    QTRY_COMPARE(patches().size(), size_t(1));
    QCOMPARE(patches().front().at("data"), JSONValue(JSONObject{{"c1", "Milk"}}));
}

void TestDatabaseBlock::failuresShowTheirMessage_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message"); // empty: nothing shown

    QTest::newRow("load") << "load" << kDatabases << 404 << "Not found. (Gone)";
    QTest::newRow("insert") << "insert" << kDatabases << 500 << "Server problem. Please try again. (Gone)";
    QTest::newRow("add row") << "add row" << kRows << 403 << "You don't have permission to do that. (Gone)";
    QTest::newRow("cell send") << "edit" << kRows << 500 << "";
}

void TestDatabaseBlock::failuresShowTheirMessage()
{
    QFETCH(QString, step);
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QString, message);
    const FakeService::Fault fault = FakeService::Fault::http(status, R"({"error":"Gone"})");
    if (step == QLatin1String("load"))
        m_fake.setFault(path, fault);
    DatabaseBlockView *view =
        step == QLatin1String("insert") ? openBlock({}) : openDatabase({{0, R"({"c1":"Keep"})"}});
    QVERIFY(view);
    if (step != QLatin1String("load"))
        m_fake.setFault(path, fault);

    if (step == QLatin1String("load")) {
        QTRY_VERIFY(!loads().empty() && !view->model().isLoading());
        // Its database may well be there: no new one is offered in its place.
        QVERIFY(!view->insertButton()->isVisible());
        QVERIFY(!view->table()->isVisible());
    } else if (step == QLatin1String("insert")) {
        view->insertButton()->click();
        QTRY_VERIFY(view->errorLabel()->isVisible());
        QVERIFY(!BlockContent::decode(m_device->block(m_blockID)->contentJSON).count("database_id"));
    } else {
        QTRY_VERIFY(showsTable(view, 1));
        if (step == QLatin1String("add row")) {
            view->addRowButton()->click();
        } else {
            click(view, 0, 2);
            QTRY_COMPARE(patches().size(), size_t(1));
            roundTrip();
            QCOMPARE(view->model().pendingSends(), 0);
        }
    }
    QTRY_COMPARE(view->errorLabel()->isVisible(), !message.isEmpty());
    QCOMPARE(view->errorLabel()->text(), message);
    if (step == QLatin1String("edit") || step == QLatin1String("add row")) {
        // The table stays as it was, the failed send's value as edited.
        QCOMPARE(view->tableModel().rowCount(), 1);
        QCOMPARE(shown(view, 0, 0), QStringLiteral("Keep"));
        QCOMPARE(DatabaseBlock::isChecked(view->tableModel().value(view->tableModel().index(0, 2))),
                 step == QLatin1String("edit"));
    }
}

void TestDatabaseBlock::addedRowAcrossAReload_data()
{
    QTest::addColumn<QString>("slow"); // the path whose answer is held back

    // The reload lists the new row before the row's own answer comes back.
    QTest::newRow("reload holds the row first") << kRows;
    // A reload answered before the row was made comes back after it.
    QTest::newRow("older reload comes last") << kDatabases;
}

void TestDatabaseBlock::addedRowAcrossAReload()
{
    QFETCH(QString, slow);
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"First"})"}});
    const qint64 id = m_databaseID;
    QTRY_VERIFY(showsTable(view, 1));
    FakeService::Fault held = FakeService::Fault::delay(1000);
    held.remaining = 1;
    m_fake.setFault(slow, held);
    const auto reload = [&] {
        m_view->hide();
        m_view->show();
    };

    QSignalSpy added(&view->model(), &DatabaseBlockModel::rowAdded);
    if (slow == kRows) {
        view->addRowButton()->click();
        QTRY_COMPARE(requestsWith(m_fake, kRows, "POST").size(), size_t(1));
        reload();
        QTRY_VERIFY(!view->model().isLoading());
        QCOMPARE(view->tableModel().rowCount(), 2);
    } else {
        reload();
        QTRY_COMPARE(loads().size(), size_t(2));
        view->addRowButton()->click();
        QTRY_COMPARE(view->tableModel().rowCount(), 2);
    }
    // Whichever comes last, the table holds each row once.
    QTRY_VERIFY(!view->model().isLoading() && added.count() == 1);
    QCOMPARE(added.front().front().toInt(), 1);
    QVERIFY(showsTable(view, 2));
    QCOMPARE(view->tableModel().row(0).id, rowID(id, 0));
    QCOMPARE(view->tableModel().row(1).id, rowID(id, 1));
}

void TestDatabaseBlock::quickKeystrokesSendOnePatch()
{
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"Buy","c2":"Doing","c3":true,"c4":2})"}});
    const qint64 id = m_databaseID;
    QTRY_VERIFY(showsTable(view, 1));

    click(view, 0, 0);
    QTRY_VERIFY(openField(view));
    QCOMPARE(openField(view)->text(), QStringLiteral("Buy"));
    QTest::keyClicks(openField(view), QStringLiteral("abc"));
    QCOMPARE(shown(view, 0, 0), QStringLiteral("Buyabc"));
    QCOMPARE(view->model().pendingSends(), 1);
    QVERIFY(patches().empty());

    QTRY_COMPARE(patches().size(), size_t(1));
    QCOMPARE(patches().front(), jsonObject(R"({"row_id":)" + QByteArray::number(rowID(id, 0)) +
                                           R"(,"data":{"c1":"Buyabc","c2":"Doing","c3":true,"c4":2}})"));
    QCOMPARE(view->model().pendingSends(), 0);
    roundTrip();
    QCOMPARE(patches().size(), size_t(1));
    QCOMPARE(m_fake.state().databaseRows.at(rowID(id, 0)).data.at("c1"), JSONValue("Buyabc"));
}

void TestDatabaseBlock::twoCellsSendTwoPatches()
{
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"A","c3":false})"}});
    QTRY_VERIFY(showsTable(view, 1));

    click(view, 0, 0);
    QTRY_VERIFY(openField(view));
    QTest::keyClicks(openField(view), QStringLiteral("b"));
    QSignalSpy repainted(&view->tableModel(), &QAbstractItemModel::dataChanged);
    click(view, 0, 2);
    QCOMPARE(view->model().pendingSends(), 2);
    // The ticked cell is drawn again at once.
    QCOMPARE(repainted.size(), 1);
    QCOMPARE(repainted.front().front().toModelIndex(), view->tableModel().index(0, 2));

    // Each sends the whole row as it is when it goes: both hold both changes.
    QTRY_COMPARE(patches().size(), size_t(2));
    for (const JSONObject &body : patches())
        QCOMPARE(body.at("data"), JSONValue(JSONObject{{"c1", "Ab"}, {"c3", true}}));
}

void TestDatabaseBlock::closingThePageSendsAtOnce()
{
    // A pause far longer than the test waits: only the close can send it.
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"Draft"})"}}, std::chrono::seconds(60));
    QTRY_VERIFY(showsTable(view, 1));
    click(view, 0, 0);
    QTRY_VERIFY(openField(view));
    QTest::keyClicks(openField(view), QStringLiteral(" 2"));
    m_view.reset();
    QTRY_COMPARE(patches().size(), size_t(1));
    QCOMPARE(patches().front().at("data"), JSONValue(JSONObject{{"c1", "Draft 2"}}));
}

void TestDatabaseBlock::signedOutChangesNothing()
{
    DatabaseBlockView *view = openDatabase({{0, R"({"c3":false})"}});
    QTRY_VERIFY(showsTable(view, 1));
    m_device->setToken(std::nullopt);
    click(view, 0, 2);
    view->addRowButton()->click();
    QVERIFY(!DatabaseBlock::isChecked(view->tableModel().value(view->tableModel().index(0, 2))));
    QCOMPARE(view->model().pendingSends(), 0);
    roundTrip();
    QVERIFY(m_fake.requestsTo(kRows).isEmpty());
    QCOMPARE(view->tableModel().rowCount(), 1);
}

void TestDatabaseBlock::reloadKeepsPendingEdits_data()
{
    QTest::addColumn<bool>("slowLoad");
    QTest::addColumn<int>("cellDelay");

    // The send still waits when the reload's older table comes in.
    QTest::newRow("reload before the send") << false << 1200;
    // The reload was answered before the send reached the service, and arrives after it.
    QTest::newRow("slow reload across the send") << true << 40;
}

void TestDatabaseBlock::reloadKeepsPendingEdits()
{
    QFETCH(bool, slowLoad);
    QFETCH(int, cellDelay);
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"Old"})"}}, std::chrono::milliseconds(cellDelay));
    const qint64 id = m_databaseID;
    QTRY_VERIFY(showsTable(view, 1));

    const auto reload = [&] {
        m_view->hide();
        m_view->show();
        QApplication::setActiveWindow(m_view.get());
    };
    if (slowLoad) {
        FakeService::Fault slow = FakeService::Fault::delay(1500);
        slow.remaining = 1;
        m_fake.setFault(kDatabases, slow);
        reload();
        QTRY_COMPARE(loads().size(), size_t(2));
    }
    click(view, 0, 0);
    QTRY_VERIFY(openField(view));
    openField(view)->selectAll();
    QTest::keyClicks(openField(view), QStringLiteral("New"));
    if (slowLoad) {
        QTRY_COMPARE(patches().size(), size_t(1));
        QVERIFY(view->model().isLoading());
    } else {
        reload();
    }
    QTRY_VERIFY(!view->model().isLoading());
    QCOMPARE(loads().size(), size_t(2));
    QCOMPARE(view->model().pendingSends(), slowLoad ? 0 : 1);
    QCOMPARE(shown(view, 0, 0), QStringLiteral("New"));

    QTRY_COMPARE(patches().size(), size_t(1));
    QCOMPARE(patches().front().at("data"), JSONValue(JSONObject{{"c1", "New"}}));
    QTRY_COMPARE(view->model().pendingSends(), 0);
    roundTrip();
    QCOMPARE(patches().size(), size_t(1));
    QCOMPARE(m_fake.state().databaseRows.at(rowID(id, 0)).data.at("c1"), JSONValue("New"));
}

void TestDatabaseBlock::negativeNumberTypedKeyByKey()
{
    DatabaseBlockView *view = openDatabase({{0, R"({"c4":3})"}});
    QTRY_VERIFY(showsTable(view, 1));
    QCOMPARE(shown(view, 0, 3), QStringLiteral("3"));

    click(view, 0, 3);
    QTRY_VERIFY(openField(view));
    QLineEdit *field = openField(view);
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QVERIFY(view->tableModel().value(view->tableModel().index(0, 3)).isNull());
    // Each step stays in the field as typed, whether or not it is a number yet.
    QString typed;
    for (const QChar key : QStringLiteral("-1.5")) {
        typed += key;
        QTest::keyClicks(field, QString(key));
        QCOMPARE(field->text(), typed);
    }
    const JSONValue stored = view->tableModel().value(view->tableModel().index(0, 3));
    QVERIFY(stored.isDouble());
    QCOMPARE(stored.toDouble(), -1.5);
    // Letters after it change nothing.
    QTest::keyClicks(field, QStringLiteral("x"));
    QCOMPARE(view->tableModel().value(view->tableModel().index(0, 3)), stored);

    QTRY_COMPARE(patches().size(), size_t(1));
    QCOMPARE(patches().front().at("data"), JSONValue(JSONObject{{"c4", -1.5}}));
}

void TestDatabaseBlock::selectMenu_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("pick");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("label");

    const QStringList options{"Todo", "Doing", "Done"};
    QTest::newRow("empty cell") << QByteArray("null") << options << "Doing" << QByteArray(R"("Doing")")
                                << "Doing";
    QTest::newRow("a choice") << QByteArray(R"("Todo")") << (options + QStringList{"Clear"}) << "Clear"
                              << QByteArray("null") << "\u2014";
    QTest::newRow("an empty text") << QByteArray(R"("")") << (options + QStringList{"Clear"}) << "Clear"
                                   << QByteArray("null") << "\u2014";
    QTest::newRow("a number") << QByteArray("7") << options << "Done" << QByteArray(R"("Done")") << "Done";
}

void TestDatabaseBlock::selectMenu()
{
    QFETCH(QByteArray, value);
    QFETCH(QStringList, items);
    QFETCH(QString, pick);
    QFETCH(QByteArray, stored);
    QFETCH(QString, label);
    DatabaseBlockView *view = openDatabase({{0, R"({"c2":)" + value + "}"}});
    QTRY_VERIFY(showsTable(view, 1));

    click(view, 0, 1);
    QTRY_VERIFY(view->selectMenu() && view->selectMenu()->isVisible());
    QMenu *menu = view->selectMenu();
    QCOMPARE(texts(menu->actions()), items);
    QAction *chosen = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->text() == pick)
            chosen = action;
    }
    QVERIFY(chosen);
    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(chosen).center());
    QTRY_VERIFY(!view->selectMenu());
    QCOMPARE(shown(view, 0, 1), label);
    QTRY_COMPARE(patches().size(), size_t(1));
    QCOMPARE(patches().front().at("data"), JSONValue(JSONObject{{"c2", JSONValue::parse(stored)}}));
}

void TestDatabaseBlock::reopenedAndOnASecondDevice()
{
    DatabaseBlockView *view = openBlock({});
    QVERIFY(view);
    view->insertButton()->click();
    QTRY_VERIFY(showsTable(view, 0));
    QTest::mouseClick(view->addRowButton(), Qt::LeftButton);
    QTRY_VERIFY(showsTable(view, 1));
    QTRY_VERIFY(openField(view));
    QTest::keyClicks(openField(view), QStringLiteral("Ship it"));
    click(view, 0, 2); // Done
    click(view, 0, 1); // Status
    QTRY_VERIFY(view->selectMenu() && view->selectMenu()->isVisible());
    QAction *doing = view->selectMenu()->actions().at(1);
    QCOMPARE(doing->text(), QStringLiteral("Doing"));
    QTest::mouseClick(view->selectMenu(), Qt::LeftButton, Qt::NoModifier,
                      view->selectMenu()->actionGeometry(doing).center());
    QTRY_COMPARE(view->model().pendingSends(), 0);
    roundTrip();

    // The page's blocks reach the service with the database's id; the table is there already.
    QTRY_VERIFY(m_device->sync() && m_device->store().state().outbox.empty());
    const auto expectRow = [](DatabaseBlockView *shownView) {
        QTRY_VERIFY(showsTable(shownView, 1));
        QCOMPARE(shown(shownView, 0, 0), QStringLiteral("Ship it"));
        QCOMPARE(shown(shownView, 0, 1), QStringLiteral("Doing"));
        QVERIFY(DatabaseBlock::isChecked(shownView->tableModel().value(shownView->tableModel().index(0, 2))));
    };

    m_view.reset();
    view = openPage(*m_device, m_page.localID);
    QVERIFY(view);
    expectRow(view);
    if (QTest::currentTestFailed())
        return;

    m_other = deviceInWorkspace(m_fake, m_account);
    QVERIFY(m_other->sync());
    const FNPage *page = m_other->pageWithServerID(m_page.serverID);
    QVERIFY(page);
    m_view.reset();
    view = openPage(*m_other, page->localID);
    QVERIFY(view);
    expectRow(view);
}

QTEST_MAIN(TestDatabaseBlock)
#include "tst_database_block.moc"
