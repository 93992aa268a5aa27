// The inline database block in the page editor, against the fake service: loading, creating the
// default table and adding rows.
#include "database_block_fixture.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class TestDatabaseBlock : public QObject, private DatabaseBlockFixture
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
    void doublePressAddsOneRow_data();
    void doublePressAddsOneRow();
    void addRowPosition_data();
    void addRowPosition();
    void failuresShowTheirMessage_data();
    void failuresShowTheirMessage();
    void addedRowAcrossAReload_data();
    void addedRowAcrossAReload();
};

void TestDatabaseBlock::initTestCase()
{
    QVERIFY(startService());
}

void TestDatabaseBlock::init()
{
    openDevice();
}

void TestDatabaseBlock::cleanup()
{
    closeDevice();
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

void TestDatabaseBlock::doublePressAddsOneRow_data()
{
    QTest::addColumn<bool>("answerHeld"); // the first row's answer is out when the second press comes
    QTest::newRow("a second click while the row is on its way") << true;
    QTest::newRow("a double-click whose row came back before its second press") << false;
}

void TestDatabaseBlock::doublePressAddsOneRow()
{
    QFETCH(bool, answerHeld);
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"First"})"}});
    QTRY_VERIFY(showsTable(view, 1));
    if (answerHeld)
        m_fake.setFault(kRows, once(FakeService::Fault::held()));
    QPushButton *add = view->addRowButton();
    const QPoint centre = add->rect().center();
    QTest::mouseClick(add, Qt::LeftButton, Qt::NoModifier, centre);
    if (answerHeld) {
        QTRY_COMPARE(requestsWith(m_fake, kRows, "POST").size(), size_t(1));
        QTest::mouseClick(add, Qt::LeftButton, Qt::NoModifier, centre);
        roundTrip();
        m_fake.releaseHeldAnswers();
    } else {
        QTRY_VERIFY(showsTable(view, 2));
        // The double-click's second press and its release.
        QTest::mouseDClick(add, Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseRelease(add, Qt::LeftButton, Qt::NoModifier, centre);
    }
    QTRY_VERIFY(showsTable(view, 2));
    roundTrip();
    QCOMPARE(requestsWith(m_fake, kRows, "POST").size(), size_t(1));
    QVERIFY(showsTable(view, 2));
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
    QTest::newRow("cell send") << "edit" << kRows << 500
                               << "Change not saved: Server problem. Please try again. (Gone)";
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
        // The table stays as it was, the failed send's value back as the service holds it.
        QCOMPARE(view->tableModel().rowCount(), 1);
        QCOMPARE(shown(view, 0, 0), QStringLiteral("Keep"));
        QVERIFY(!DatabaseBlock::isChecked(view->tableModel().value(view->tableModel().index(0, 2))));
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

QTEST_MAIN(TestDatabaseBlock)
#include "tst_database_block.moc"
